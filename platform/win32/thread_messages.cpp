#include "platform/win32/threads.h"

#include <cwctype>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32/errors.h"
#include "platform/win32/kernel_objects.h"

namespace {

// The platform's per-queue limit on posted messages.
constexpr size_t kQueueLimit = 10000;
// Every message here is posted, so it counts as both kinds of posted input.
constexpr UINT kPostedKinds = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

bool MatchesFilter(const MSG &msg, HWND window, UINT filterMin, UINT filterMax) {
  // There are no windows: a real window filter matches nothing, and every
  // message is a thread message.
  if (window != nullptr && window != kThreadMessagesOnly) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return msg.message >= filterMin && msg.message <= filterMax;
}

// Called with KernelMutex() held: the first matching message, or end().
std::deque<MSG>::iterator FindMessage(standin::ThreadRecord &self, HWND window, UINT filterMin,
                                      UINT filterMax) {
  for (auto it = self.queue.begin(); it != self.queue.end(); ++it) {
    if (MatchesFilter(*it, window, filterMin, filterMax)) return it;
  }
  return self.queue.end();
}

}  // namespace

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  const DWORD now = GetTickCount();
  auto lock = standin::HoldKernel();
  // Every thread that has called into the stand-in has a queue; an id that never
  // belonged to such a thread, or whose thread has ended, is refused.
  standin::ThreadRecord *target = standin::FindLiveThread(threadId);
  if (!target) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  if (target->queue.size() >= kQueueLimit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  MSG msg{};
  msg.hwnd = nullptr;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = now;
  target->queue.push_back(msg);
  target->newKinds |= kPostedKinds;
  target->wake.notify_all();
  return TRUE;
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  standin::ThreadRecord &self = standin::CurrentThreadRecord();
  auto lock = standin::HoldKernel();
  // Looking at the queue makes what is in it old news for MsgWaitForMultipleObjects.
  self.newKinds = 0;
  auto it = FindMessage(self, window, filterMin, filterMax);
  if (it == self.queue.end()) return FALSE;
  *msg = *it;
  if (removeFlags & PM_REMOVE) self.queue.erase(it);
  return TRUE;
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  standin::ThreadRecord &self = standin::CurrentThreadRecord();
  auto lock = standin::HoldKernel();
  for (;;) {
    self.newKinds = 0;
    auto it = FindMessage(self, window, filterMin, filterMax);
    if (it != self.queue.end()) {
      *msg = *it;
      self.queue.erase(it);
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    self.wake.wait(lock);
  }
}

LRESULT DispatchMessageW(const MSG *msg) {
  // Thread messages have no window procedure to go to.
  return 0;
}

DWORD GetQueueStatus(UINT flags) {
  standin::ThreadRecord &self = standin::CurrentThreadRecord();
  auto lock = standin::HoldKernel();
  const UINT present = self.queue.empty() ? 0 : kPostedKinds;
  const DWORD result = ((present & flags) << 16) | (self.newKinds & flags);
  self.newKinds &= ~flags;
  return result;
}

UINT RegisterWindowMessageW(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Registered names are compared without regard to case, as the platform's atoms are.
  std::wstring key(name);
  for (wchar_t &c : key) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));

  struct Registry {
    std::mutex mutex;
    std::map<std::wstring, UINT> ids;  // guarded by mutex
    UINT next = 0xC000;                // guarded by mutex
  };
  static Registry *registry = new Registry;  // kept for the whole process
  std::lock_guard<std::mutex> lock(registry->mutex);
  auto it = registry->ids.find(key);
  if (it != registry->ids.end()) return it->second;
  if (registry->next > 0xFFFF) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const UINT id = registry->next++;
  registry->ids.emplace(std::move(key), id);
  return id;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  return standin::WaitForObjectsOrMessages(count, handles, waitAll, milliseconds, true,
                                           wakeMask);
}
