// The message-pumping wait, with the platform's clock and message wait
// replaced at link time (-Wl,--wrap) on the test thread, so that slices and
// elapsed time are exact and no test sleeps for real time.
#include "filterbase/message_pump_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "filterbase/sync_event.h"
#include "platform/win32/sync.h"
#include "platform/win32/threads.h"

extern "C" {
DWORD __real__Z12GetTickCountv();
DWORD __real__Z25MsgWaitForMultipleObjectsjPKPvijj(DWORD count, const HANDLE *handles,
                                                    BOOL waitAll, DWORD milliseconds,
                                                    DWORD wakeMask);
}

namespace {

// What the wrapped platform calls do on the thread under test.
struct Fake {
  std::mutex mutex;
  std::thread::id thread;  // the thread under test
  bool simulated = false;  // false: the real calls, only recorded
  DWORD tick = 5000;
  DWORD ticksBeyondSlice = 0;
  std::deque<DWORD> results;  // simulated results; empty: WAIT_TIMEOUT
  std::vector<DWORD> slices;
  std::vector<DWORD> masks;
  std::vector<int> priorities;
};
Fake *fake = nullptr;

}  // namespace

extern "C" DWORD __wrap__Z12GetTickCountv() {
  if (fake != nullptr && fake->simulated && std::this_thread::get_id() == fake->thread) {
    std::lock_guard<std::mutex> lock(fake->mutex);
    return fake->tick;
  }
  return __real__Z12GetTickCountv();
}

extern "C" DWORD __wrap__Z25MsgWaitForMultipleObjectsjPKPvijj(DWORD count, const HANDLE *handles,
                                                               BOOL waitAll, DWORD milliseconds,
                                                               DWORD wakeMask) {
  if (fake == nullptr || std::this_thread::get_id() != fake->thread) {
    return __real__Z25MsgWaitForMultipleObjectsjPKPvijj(count, handles, waitAll, milliseconds,
                                                         wakeMask);
  }
  const int priority = GetThreadPriority(GetCurrentThread());
  {
    std::lock_guard<std::mutex> lock(fake->mutex);
    fake->slices.push_back(milliseconds);
    fake->masks.push_back(wakeMask);
    fake->priorities.push_back(priority);
    if (fake->simulated) {
      fake->tick += milliseconds + fake->ticksBeyondSlice;
      if (fake->results.empty()) return WAIT_TIMEOUT;
      const DWORD result = fake->results.front();
      fake->results.pop_front();
      return result;
    }
  }
  return __real__Z25MsgWaitForMultipleObjectsjPKPvijj(count, handles, waitAll, milliseconds,
                                                       wakeMask);
}

namespace {

class WaitWithMessagePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.thread = std::this_thread::get_id();
    fake = &state;
    DrainQueue();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  }
  void TearDown() override {
    fake = nullptr;
    DrainQueue();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  }

  static void DrainQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Ids of the messages in this thread's queue, emptying it.
  static std::vector<UINT> TakeQueue() {
    std::vector<UINT> ids;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ids.push_back(msg.message);
    return ids;
  }

  static HWND SomeWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x42)); }

  Fake state;
  SyncEvent first{TRUE};
  SyncEvent second{TRUE};
};

const UINT kPlainMessage = WM_APP + 7;

TEST_F(WaitWithMessagePumpTest, SignalledHandleReturnsAtOnceWithoutPumping) {
  first.Set();
  PostThreadMessageW(GetCurrentThreadId(), kPlainMessage, 0, 0);
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), INFINITE, nullptr, 0, nullptr), WAIT_OBJECT_0);
  EXPECT_TRUE(state.slices.empty());
  EXPECT_EQ(TakeQueue(), std::vector<UINT>{kPlainMessage});  // no unblock message

  second.Set();
  first.Reset();
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 0, nullptr, 0, second.Handle()),
            WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(state.slices.empty());
}

TEST_F(WaitWithMessagePumpTest, ZeroTimeoutMakesOneZeroSliceAndLeavesPriorityAlone) {
  PostThreadMessageW(GetCurrentThreadId(), kPlainMessage, 0, 0);
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 0, nullptr, 0, nullptr), WAIT_TIMEOUT);
  EXPECT_EQ(state.slices, std::vector<DWORD>{0});
  EXPECT_EQ(state.masks, std::vector<DWORD>{QS_SENDMESSAGE});
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  // No message pass ran, so no unblock message either.
  EXPECT_EQ(TakeQueue(), std::vector<UINT>{kPlainMessage});
}

TEST_F(WaitWithMessagePumpTest, TimeoutIsUsedUpInSlicesOfAtMostTenMilliseconds) {
  state.simulated = true;
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 25, nullptr, 0, nullptr), WAIT_TIMEOUT);
  EXPECT_EQ(state.slices, (std::vector<DWORD>{10, 10, 5}));
  // Raised after the first pass, restored at the end.
  EXPECT_EQ(state.priorities, (std::vector<int>{0, 2, 2}));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST_F(WaitWithMessagePumpTest, SlicesFollowTheClockWhenWaitsOverrun) {
  state.simulated = true;
  state.ticksBeyondSlice = 2;  // each wait takes 2 ms longer than asked
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 25, nullptr, 0, nullptr), WAIT_TIMEOUT);
  EXPECT_EQ(state.slices, (std::vector<DWORD>{10, 10, 1}));

  state.slices.clear();
  state.ticksBeyondSlice = 40;  // one wait overruns the whole timeout
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 25, nullptr, 0, nullptr), WAIT_TIMEOUT);
  EXPECT_EQ(state.slices, (std::vector<DWORD>{10, 0}));
}

TEST_F(WaitWithMessagePumpTest, InfiniteWaitKeepsSlicingUntilAHandleIsSignalled) {
  state.simulated = true;
  state.results = {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0 + 1};
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), INFINITE, nullptr, 0, second.Handle()),
            WAIT_OBJECT_0 + 1);
  EXPECT_EQ(state.slices, (std::vector<DWORD>{10, 10, 10, 10}));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);

  // A failure of the wait ends it with that value.
  state.slices.clear();
  state.results = {WAIT_FAILED};
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), INFINITE, nullptr, 0, nullptr), WAIT_FAILED);
  EXPECT_EQ(state.slices.size(), 1u);
}

TEST_F(WaitWithMessagePumpTest, WindowAddsPostedMessagesToTheWakeMask) {
  state.simulated = true;
  state.results = {WAIT_OBJECT_0 + 1};  // "a message arrived" for one handle
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 10, SomeWindow(), WM_APP, nullptr),
            WAIT_TIMEOUT);
  ASSERT_FALSE(state.masks.empty());
  EXPECT_EQ(state.masks[0], static_cast<DWORD>(QS_SENDMESSAGE | QS_POSTMESSAGE));
  // The message result is not an outcome: the wait went on until its time was up.
  EXPECT_EQ(state.slices, (std::vector<DWORD>{10, 0}));
}

TEST_F(WaitWithMessagePumpTest, OnlyNormalAndAboveNormalThreadsAreRaised) {
  state.simulated = true;
  const struct {
    int before;
    int during;
  } cases[] = {{THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST},
               {THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST},
               {THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_BELOW_NORMAL},
               {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_IDLE},
               {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_TIME_CRITICAL}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.before);
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), c.before));
    state.priorities.clear();
    EXPECT_EQ(WaitWithMessagePump(first.Handle(), 20, nullptr, 0, nullptr), WAIT_TIMEOUT);
    EXPECT_EQ(state.priorities, (std::vector<int>{c.before, c.during}));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), c.before);
  }
}

TEST_F(WaitWithMessagePumpTest, UnblockMessageIsPostedOnlyWhenPostedMessagesWait) {
  state.simulated = true;
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 20, nullptr, 0, nullptr), WAIT_TIMEOUT);
  EXPECT_TRUE(TakeQueue().empty());

  PostThreadMessageW(GetCurrentThreadId(), kPlainMessage, 0, 0);
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), 20, nullptr, 0, nullptr), WAIT_TIMEOUT);
  const UINT unblock = RegisterWindowMessageW(L"AMUnblock");
  EXPECT_NE(unblock, 0u);
  EXPECT_EQ(UnblockMessage, unblock);
  EXPECT_EQ(TakeQueue(), (std::vector<UINT>{kPlainMessage, unblock}));

  // Repeated waits leave one unblock message, not one per wait.
  PostThreadMessageW(GetCurrentThreadId(), kPlainMessage, 0, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(WaitWithMessagePump(first.Handle(), 20, nullptr, 0, nullptr), WAIT_TIMEOUT);
  }
  EXPECT_EQ(TakeQueue(), (std::vector<UINT>{kPlainMessage, unblock}));
}

TEST_F(WaitWithMessagePumpTest, WakesForAHandleSignalledByAnotherThread) {
  // Real waits: the other thread signals after the waiter has started slicing.
  std::thread signaller([this] {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.slices.size() >= 2) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    second.Set();
  });
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), INFINITE, nullptr, 0, second.Handle()),
            WAIT_OBJECT_0 + 1);
  signaller.join();
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  for (DWORD slice : state.slices) EXPECT_EQ(slice, 10u);
}

TEST_F(WaitWithMessagePumpTest, MessagePostedFromAnotherThreadDoesNotEndTheWait) {
  const DWORD self = GetCurrentThreadId();
  std::thread poster([this, self] {
    PostThreadMessageW(self, kPlainMessage, 0, 0);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.slices.size() >= 3) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    first.Set();
  });
  EXPECT_EQ(WaitWithMessagePump(first.Handle(), INFINITE, SomeWindow(), kPlainMessage, nullptr),
            WAIT_OBJECT_0);
  poster.join();
  // The thread message is not for the window, so it stays, and the caller's
  // loop is woken for it.
  EXPECT_EQ(TakeQueue(), (std::vector<UINT>{kPlainMessage, UnblockMessage}));
}

}  // namespace
