// A re-entrant lock over a Win32 critical section, and its scope guard.
//
// Locks belong to the derived filter, which passes pointers to its base filter
// and pins; the framework classes never own the locks they take.
#pragma once

#include "platform/win32/sync.h"

class CriticalLock {
 public:
  CriticalLock() { InitializeCriticalSection(&section); }
  ~CriticalLock() { DeleteCriticalSection(&section); }

  CriticalLock(const CriticalLock &) = delete;
  CriticalLock &operator=(const CriticalLock &) = delete;

  // Re-entrant on the same thread; every Enter needs its Leave.
  void Enter() { EnterCriticalSection(&section); }
  void Leave() { LeaveCriticalSection(&section); }

 private:
  CRITICAL_SECTION section;
};

// Holds a lock for the rest of the scope, however the scope is left. A null
// lock is allowed and guards nothing.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalLock *held) : lock(held) {
    if (lock != nullptr) lock->Enter();
  }
  ~ScopedLock() {
    if (lock != nullptr) lock->Leave();
  }

  ScopedLock(const ScopedLock &) = delete;
  ScopedLock &operator=(const ScopedLock &) = delete;

 private:
  CriticalLock *const lock;
};
