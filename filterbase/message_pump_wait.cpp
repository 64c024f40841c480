#include "filterbase/message_pump_wait.h"

#include "platform/win32/sync.h"
#include "platform/win32/threads.h"

UINT UnblockMessage = 0;

namespace {

// Longest single wait, so that the queue is looked at regularly.
constexpr DWORD kSliceMilliseconds = 10;

// The id is registered without a lock: registering the same name twice gives
// the same id, so racing threads agree.
UINT UnblockMessageId() {
  UINT id = __atomic_load_n(&UnblockMessage, __ATOMIC_RELAXED);
  if (id == 0) {
    id = RegisterWindowMessageW(L"AMUnblock");
    __atomic_store_n(&UnblockMessage, id, __ATOMIC_RELAXED);
  }
  return id;
}

// Wakes the thread's own message loop after a wait that may have hidden posted
// messages from it: at most one unblock message is ever left pending.
void PostUnblockIfMessagesWait() {
  if ((HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) == 0) return;
  const UINT id = UnblockMessageId();
  if (id == 0) return;
  MSG msg;
  while (PeekMessageW(&msg, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), id, id,
                      PM_REMOVE)) {
  }
  PostThreadMessageW(GetCurrentThreadId(), id, 0, 0);
}

}  // namespace

DWORD WaitWithMessagePump(HANDLE first, DWORD timeout, HWND window, UINT messageId,
                          HANDLE second) {
  const HANDLE handles[2] = {first, second};
  const DWORD count = second != nullptr ? 2 : 1;
  const bool timed = timeout != INFINITE && timeout != 0;
  DWORD remaining = timeout;
  DWORD lastTick = timed ? GetTickCount() : 0;

  DWORD result = WaitForMultipleObjects(count, handles, FALSE, 0);
  if (result < count) return result;

  const DWORD wakeMask = QS_SENDMESSAGE | (window != nullptr ? QS_POSTMESSAGE : 0);
  bool priorityHandled = false;
  int savedPriority = THREAD_PRIORITY_NORMAL;

  for (;;) {
    const DWORD slice = remaining < kSliceMilliseconds ? remaining : kSliceMilliseconds;
    result = MsgWaitForMultipleObjects(count, handles, FALSE, slice, wakeMask);
    if (result != WAIT_OBJECT_0 + count && result != WAIT_TIMEOUT) break;
    if (result == WAIT_TIMEOUT && slice == remaining) break;

    MSG msg;
    if (window != nullptr) {
      while (PeekMessageW(&msg, window, messageId, messageId, PM_REMOVE)) DispatchMessageW(&msg);
    }
    // Looking at the queue lets the platform deliver messages sent to this thread.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);

    if (timed) {
      const DWORD now = GetTickCount();
      const DWORD elapsed = now - lastTick;
      remaining = elapsed > remaining ? 0 : remaining - elapsed;
      lastTick = now;
    }

    if (!priorityHandled) {
      // Whoever we wait for is probably waiting for this thread's messages.
      savedPriority = GetThreadPriority(GetCurrentThread());
      if (static_cast<UINT>(savedPriority) < static_cast<UINT>(THREAD_PRIORITY_HIGHEST)) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
      }
      priorityHandled = true;
    }

    result = WaitForMultipleObjects(count, handles, FALSE, 0);
    if (result < count) break;
  }

  if (priorityHandled) {
    SetThreadPriority(GetCurrentThread(), savedPriority);
    PostUnblockIfMessagesWait();
  }
  return result;
}
