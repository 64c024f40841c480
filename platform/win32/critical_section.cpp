#include "platform/win32/sync.h"

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

#include "platform/host/spinning_mutex.h"

namespace {

// A recursive lock that knows its owner, so a leave by a thread that does not
// hold it is ignored instead of corrupting the lock.
struct RecursiveLock {
  std::mutex mutex;
  std::atomic<std::thread::id> owner{};
  unsigned depth = 0;  // touched only by the owner
};

RecursiveLock *LockOf(LPCRITICAL_SECTION cs) {
  return cs ? static_cast<RecursiveLock *>(cs->impl) : nullptr;
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs) return;
  cs->impl = new RecursiveLock;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  RecursiveLock *lock = LockOf(cs);
  if (!lock) return;
  delete lock;
  cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  RecursiveLock *lock = LockOf(cs);
  assert(lock && "EnterCriticalSection on a section that was never initialised");
  if (!lock) return;
  const std::thread::id self = std::this_thread::get_id();
  if (lock->owner.load(std::memory_order_relaxed) == self) {
    ++lock->depth;
    return;
  }
  // As the platform's own sections do on several cores: a short spin first.
  LockSpinning(lock->mutex);
  lock->owner.store(self, std::memory_order_relaxed);
  lock->depth = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  RecursiveLock *lock = LockOf(cs);
  if (!lock) return FALSE;
  const std::thread::id self = std::this_thread::get_id();
  if (lock->owner.load(std::memory_order_relaxed) == self) {
    ++lock->depth;
    return TRUE;
  }
  if (!lock->mutex.try_lock()) return FALSE;
  lock->owner.store(self, std::memory_order_relaxed);
  lock->depth = 1;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  RecursiveLock *lock = LockOf(cs);
  if (!lock) return;
  if (lock->owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
  if (--lock->depth == 0) {
    lock->owner.store(std::thread::id(), std::memory_order_relaxed);
    lock->mutex.unlock();
  }
}
