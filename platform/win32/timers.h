// Multimedia timers: one-shot and periodic callbacks on a timer thread.
#pragma once

#include "platform/win32/types.h"

typedef void(CALLBACK *LPTIMECALLBACK)(UINT timerId, UINT msg, DWORD_PTR user, DWORD_PTR dw1,
                                       DWORD_PTR dw2);

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;
constexpr UINT TIME_KILL_SYNCHRONOUS = 0x0100;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

// Returns 0 on failure (no callback, delay outside 1 to 1000000 ms, event
// callbacks). Ids are never 0. A kill that returns has either run the callback to
// its end or made sure it never runs; a kill from inside the timer's own callback
// does not wait for itself.
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags);
MMRESULT timeKillEvent(UINT timerId);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD timeGetTime();

// Stand-in only: how many timeBeginPeriod calls are not yet matched by timeEndPeriod.
int StandInTimerPeriodDepth();
