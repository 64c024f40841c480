#include "platform/win32/sync.h"

#include <array>
#include <chrono>

#include "platform/win32/errors.h"
#include "platform/win32/kernel_objects.h"

namespace standin {
namespace {

struct Event final : Waitable {
  Event() : Waitable(Kind::Event) {}
};

// Event operations share this: the event behind `handle` or null (last error set).
// Called with KernelMutex() held.
Waitable *EventOf(HANDLE handle) {
  std::shared_ptr<Waitable> object = LookupHandle(handle);
  if (!object || object->kind != Waitable::Kind::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object.get();  // the table keeps it alive while the lock is held
}

}  // namespace

DWORD WaitForObjectsOrMessages(DWORD count, const HANDLE *handles, BOOL waitAll,
                               DWORD milliseconds, bool useQueue, DWORD wakeMask) {
  const DWORD limit = useQueue ? MAXIMUM_WAIT_OBJECTS - 1 : MAXIMUM_WAIT_OBJECTS;
  if (count > limit || (count == 0 && !useQueue) || (count > 0 && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  ThreadRecord &self = CurrentThreadRecord();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);

  auto lock = HoldKernel();
  // Strong references: a handle closed during the wait must not free its object.
  std::array<std::shared_ptr<Waitable>, MAXIMUM_WAIT_OBJECTS> objects;
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = LookupHandle(handles[i]);
    if (!objects[i]) {
      lock.unlock();
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (waitAll) {
      for (DWORD j = 0; j < i; ++j) {
        if (objects[j] == objects[i]) {
          lock.unlock();
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }

  // Called with the lock held: the wait's result if it is satisfied now, else
  // WAIT_TIMEOUT. Objects that satisfy the wait are consumed.
  auto satisfied = [&]() -> DWORD {
    const bool input = useQueue && (self.newKinds & wakeMask) != 0;
    if (waitAll) {
      for (DWORD i = 0; i < count; ++i) {
        if (!objects[i]->signalled) return WAIT_TIMEOUT;
      }
      if (useQueue && !input) return WAIT_TIMEOUT;
      for (DWORD i = 0; i < count; ++i) objects[i]->Consume();
      return WAIT_OBJECT_0;
    }
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->signalled) {
        objects[i]->Consume();
        return WAIT_OBJECT_0 + i;
      }
    }
    return input ? WAIT_OBJECT_0 + count : WAIT_TIMEOUT;
  };

  DWORD result = satisfied();
  if (result != WAIT_TIMEOUT || milliseconds == 0) return result;

  for (DWORD i = 0; i < count; ++i) objects[i]->waiters.push_back(&self.wake);
  for (;;) {
    if (milliseconds == INFINITE) {
      self.wake.wait(lock);
    } else if (self.wake.wait_until(lock, deadline) == std::cv_status::timeout) {
      result = satisfied();
      break;
    }
    result = satisfied();
    if (result != WAIT_TIMEOUT) break;
  }
  for (DWORD i = 0; i < count; ++i) {
    auto &waiters = objects[i]->waiters;
    for (auto it = waiters.begin(); it != waiters.end(); ++it) {
      if (*it == &self.wake) {
        waiters.erase(it);
        break;
      }
    }
  }
  return result;
}

}  // namespace standin

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name) {
  // Names are not supported: every event is a new, private one.
  auto event = std::make_shared<standin::Event>();
  event->autoReset = !manualReset;
  event->signalled = initialState != FALSE;
  auto lock = standin::HoldKernel();
  return standin::InsertHandle(std::move(event));
}

BOOL SetEvent(HANDLE event) {
  auto lock = standin::HoldKernel();
  standin::Waitable *object = standin::EventOf(event);
  if (!object) return FALSE;
  object->Signal();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto lock = standin::HoldKernel();
  standin::Waitable *object = standin::EventOf(event);
  if (!object) return FALSE;
  object->signalled = false;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == standin::CurrentThreadPseudoHandle()) return TRUE;
  std::shared_ptr<standin::Waitable> object;  // released after the lock
  {
    auto lock = standin::HoldKernel();
    object = standin::LookupHandle(handle);
    if (object) standin::RemoveHandle(handle);
  }
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return standin::WaitForObjectsOrMessages(1, &handle, FALSE, milliseconds, false, 0);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll,
                             DWORD milliseconds) {
  return standin::WaitForObjectsOrMessages(count, handles, waitAll, milliseconds, false, 0);
}
