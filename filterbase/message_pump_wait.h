// A wait on one or two handles that keeps the calling thread's messages flowing.
#pragma once

#include "platform/win32/types.h"

// Id of the registered window message "AMUnblock", 0 until first needed; never
// unregistered. Posted to the waiting thread after a wait that pumped messages
// and left posted messages behind, so that its own message loop wakes up.
extern UINT UnblockMessage;

// Waits until `first` (or `second`, when not null) is signalled or `timeout`
// milliseconds (or INFINITE) pass. Sent messages are handled while waiting,
// and, when a window is given, the messages `messageId` for that window are
// dispatched. While it pumps, a thread at normal or above-normal priority is
// raised to highest; the priority is restored before returning.
// Returns WAIT_OBJECT_0 or WAIT_OBJECT_0 + 1 for the handle signalled,
// WAIT_TIMEOUT, or the wait's failure value. Calling thread only.
DWORD WaitWithMessagePump(HANDLE first, DWORD timeout, HWND window, UINT messageId,
                          HANDLE second);
