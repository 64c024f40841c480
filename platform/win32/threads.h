// Threads, their priorities, per-thread message queues, Sleep and ticks.
#pragma once

#include "platform/win32/sync.h"
#include "platform/win32/types.h"

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID parameter);

// Returns a waitable handle signalled when the thread ends; close it with CloseHandle.
// flags: 0 or STACK_SIZE_PARAM_IS_A_RESERVATION (suspended creation is refused).
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD threadId);
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();  // pseudo handle meaning "the calling thread"

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Priorities are recorded per thread (the host scheduler is not changed).
int GetThreadPriority(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);

void Sleep(DWORD milliseconds);
DWORD GetTickCount();

// Message queues. There are no windows: a window filter other than null or
// (HWND)-1 matches nothing.
constexpr UINT WM_NULL = 0;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

constexpr UINT QS_KEY = 0x01;
constexpr UINT QS_MOUSEMOVE = 0x02;
constexpr UINT QS_MOUSEBUTTON = 0x04;
constexpr UINT QS_POSTMESSAGE = 0x08;
constexpr UINT QS_TIMER = 0x10;
constexpr UINT QS_PAINT = 0x20;
constexpr UINT QS_SENDMESSAGE = 0x40;
constexpr UINT QS_HOTKEY = 0x80;
constexpr UINT QS_ALLPOSTMESSAGE = 0x100;
constexpr UINT QS_ALLINPUT = 0x4FF;

// Every thread that has called into the stand-in has a queue. An id that never
// belonged to such a thread, or whose thread has ended, gives ERROR_INVALID_THREAD_ID;
// a full queue (10000 messages) gives ERROR_NOT_ENOUGH_QUOTA.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
LRESULT DispatchMessageW(const MSG *msg);
// High word: kinds of message in the queue; low word: kinds added since the queue
// was last looked at (GetQueueStatus, PeekMessageW, GetMessageW).
DWORD GetQueueStatus(UINT flags);
UINT RegisterWindowMessageW(LPCWSTR name);
// Result WAIT_OBJECT_0 + count means a message of a kind in wakeMask arrived since
// the thread last looked at its queue; handles are checked first.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);
