// SyncEvent, CriticalLock and ScopedLock across threads. Event creation and
// closing are wrapped at link time (-Wl,--wrap) to make creation fail on demand
// and to count what is closed.
#include "filterbase/sync_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "filterbase/critical_lock.h"

extern "C" {
HANDLE __real__Z12CreateEventWP19SECURITY_ATTRIBUTESiiPKw(LPSECURITY_ATTRIBUTES attributes,
                                                          BOOL manualReset, BOOL initialState,
                                                          LPCWSTR name);
BOOL __real__Z11CloseHandlePv(HANDLE handle);
}

namespace {
std::atomic<bool> failCreation{false};
std::atomic<int> closed{0};
std::atomic<HANDLE> lastClosed{nullptr};
}  // namespace

extern "C" HANDLE __wrap__Z12CreateEventWP19SECURITY_ATTRIBUTESiiPKw(
    LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (failCreation) return nullptr;
  return __real__Z12CreateEventWP19SECURITY_ATTRIBUTESiiPKw(attributes, manualReset, initialState,
                                                            name);
}

extern "C" BOOL __wrap__Z11CloseHandlePv(HANDLE handle) {
  ++closed;
  lastClosed = handle;
  return __real__Z11CloseHandlePv(handle);
}

namespace {

TEST(SyncEvent, StartsUnsignalledAndIsClosedWithTheObject) {
  HANDLE handle = nullptr;
  const int closedBefore = closed;
  {
    SyncEvent event;
    handle = event.Handle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
  }
  EXPECT_EQ(closed, closedBefore + 1);
  EXPECT_EQ(lastClosed, handle);
}

TEST(SyncEvent, FailedCreationClosesNothing) {
  const int closedBefore = closed;
  failCreation = true;
  {
    SyncEvent event(TRUE);
    failCreation = false;
    EXPECT_EQ(event.Handle(), nullptr);
    event.Set();
    event.Reset();
    EXPECT_EQ(event.Wait(0), WAIT_FAILED);
  }
  EXPECT_EQ(closed, closedBefore);
}

TEST(SyncEvent, AutoResetReleasesOneWaitManualResetStays) {
  SyncEvent automatic;
  automatic.Set();
  EXPECT_EQ(automatic.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(automatic.Wait(0), WAIT_TIMEOUT);

  SyncEvent manual(TRUE);
  manual.Set();
  EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
  manual.Reset();
  EXPECT_EQ(manual.Wait(0), WAIT_TIMEOUT);
}

TEST(SyncEvent, WakesWaitersOnOtherThreads) {
  SyncEvent go(TRUE);
  SyncEvent done;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      if (go.Wait(INFINITE) == WAIT_OBJECT_0) ++woken;
      done.Set();
    });
  }
  go.Set();
  for (auto &waiter : waiters) waiter.join();
  EXPECT_EQ(woken, 4);
  EXPECT_EQ(done.Wait(0), WAIT_OBJECT_0);

  // A waiter blocked before the event is set is released by it.
  SyncEvent ready;
  SyncEvent release;
  std::thread waiter([&] {
    ready.Set();
    EXPECT_EQ(release.Wait(INFINITE), WAIT_OBJECT_0);
  });
  ASSERT_EQ(ready.Wait(INFINITE), WAIT_OBJECT_0);
  release.Set();
  waiter.join();
}

TEST(CriticalLock, ScopedLockExcludesOtherThreadsAndIsReentrant) {
  CriticalLock lock;
  long counter = 0;  // guarded by lock
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        ScopedLock outer(&lock);
        ScopedLock inner(&lock);  // same thread again
        ++counter;
      }
    });
  }
  for (auto &worker : workers) worker.join();
  EXPECT_EQ(counter, 80000);
}

TEST(CriticalLock, ScopedLockLeavesWhenAnExceptionEndsTheScope) {
  CriticalLock lock;
  try {
    ScopedLock held(&lock);
    throw 1;
  } catch (int) {
  }
  // Another thread can take it now; it would block for ever otherwise.
  std::thread other([&] {
    ScopedLock held(&lock);
  });
  other.join();
  ScopedLock none(nullptr);  // guards nothing, and does not crash
}

}  // namespace
