#include "platform/win32/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32/errors.h"
#include "platform/win32/threads.h"

namespace {

using namespace std::chrono_literals;

// Polls until `condition` holds, giving up after a generous five seconds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto giveUp = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct EventHandle {
  explicit EventHandle(bool manualReset, bool initial = false)
      : handle(CreateEventW(nullptr, manualReset, initial, nullptr)) {}
  ~EventHandle() { CloseHandle(handle); }
  HANDLE handle;
};

TEST(EventsTest, AutoResetEventReleasesExactlyOneWaiterPerSignal) {
  EventHandle event(false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      ASSERT_EQ(WaitForSingleObject(event.handle, INFINITE), WAIT_OBJECT_0);
      ++released;
    });
  }
  for (int signals = 1; signals <= 3; ++signals) {
    ASSERT_TRUE(SetEvent(event.handle));
    ASSERT_TRUE(Eventually([&] { return released == signals; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released, signals);
  }
  for (auto &waiter : waiters) waiter.join();
  // Each signal was consumed by the wait it satisfied.
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
}

TEST(EventsTest, ManualResetEventReleasesEveryWaiterAndStaysSignalled) {
  EventHandle event(true);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      EXPECT_EQ(WaitForSingleObject(event.handle, INFINITE), WAIT_OBJECT_0);
      ++released;
    });
  }
  ASSERT_TRUE(SetEvent(event.handle));
  for (auto &waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event.handle));
  EXPECT_EQ(WaitForSingleObject(event.handle, 0), WAIT_TIMEOUT);
}

TEST(EventsTest, WaitAnyTakesTheLowestSignalledHandleOnly) {
  EventHandle first(false, true), second(false, true);
  const HANDLE both[] = {first.handle, second.handle};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
}

TEST(EventsTest, WaitAllNeedsEveryHandleAndConsumesNothingBefore) {
  EventHandle autoEvent(false), manualEvent(true);
  const HANDLE both[] = {autoEvent.handle, manualEvent.handle};
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, INFINITE), WAIT_OBJECT_0);
    done = true;
  });
  ASSERT_TRUE(SetEvent(autoEvent.handle));
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(done);
  // A partly satisfied wait-all must leave the auto-reset event signalled.
  ASSERT_TRUE(SetEvent(manualEvent.handle));
  waiter.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(WaitForSingleObject(autoEvent.handle, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manualEvent.handle, 0), WAIT_OBJECT_0);
}

TEST(EventsTest, WaitTimesOutWhenNothingIsSignalled) {
  EventHandle event(false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event.handle, 30), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
  const HANDLE handles[] = {event.handle};
  EXPECT_EQ(WaitForMultipleObjects(1, handles, TRUE, 0), WAIT_TIMEOUT);
}

TEST(EventsTest, BadHandlesAndArgumentsFailTheWait) {
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(nullptr, INFINITE), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EventHandle event(true, true);
  const HANDLE mixed[] = {event.handle, closed};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, INFINITE), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, mixed, FALSE, 0), WAIT_FAILED);
  const HANDLE twice[] = {event.handle, event.handle};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
}

DWORD WINAPI WaitThenReturn(LPVOID parameter) {
  WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return 0;
}

TEST(EventsTest, ThreadHandleIsSignalledWhenTheThreadEnds) {
  EventHandle go(true);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitThenReturn, go.handle, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(go.handle));
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_FALSE(SetEvent(thread));                            // not an event
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(EventsTest, ClosingAHandleDoesNotDisturbAWaitInProgress) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // Closed once the waiter runs, not after a fixed time from its start: a
  // busy machine started it later than that, and it then waited on a closed
  // handle.
  std::atomic<bool> running{false};
  std::thread waiter([&] {
    running = true;
    EXPECT_EQ(WaitForSingleObject(event, 200), WAIT_TIMEOUT);
  });
  while (!running) std::this_thread::yield();
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(CloseHandle(event));
  waiter.join();
}

}  // namespace
