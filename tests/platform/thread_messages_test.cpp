#include "platform/win32/threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/win32/errors.h"

namespace {

using namespace std::chrono_literals;

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
const HWND kSomeWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(0x1234));

// Each test starts and ends with an empty queue on the test thread.
class ThreadMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { Drain(); }
  void TearDown() override { Drain(); }
  static void Drain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

TEST_F(ThreadMessagesTest, PostFromAnotherThreadWakesMessageWait) {
  const DWORD self = GetCurrentThreadId();
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread poster([&] {
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(PostThreadMessageW(self, WM_APP + 7, 11, -22));
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 10000, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
  poster.join();

  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.message, WM_APP + 7);
  EXPECT_EQ(msg.wParam, 11u);
  EXPECT_EQ(msg.lParam, -22);
  EXPECT_EQ(DispatchMessageW(&msg), 0);
  CloseHandle(never);
}

TEST_F(ThreadMessagesTest, MessageWaitReportsOnlyInputThatArrivedSinceTheQueueWasLookedAt) {
  HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
  // Handles come first, then messages of a kind in the mask only.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &signalled, FALSE, 0, QS_POSTMESSAGE), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE), WAIT_OBJECT_0);

  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  // Still queued, but no longer new.
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE), WAIT_TIMEOUT);
  CloseHandle(signalled);
}

TEST_F(ThreadMessagesTest, PeekFiltersByRangeAndWindow) {
  const DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(PostThreadMessageW(self, WM_USER, 1, 0));
  ASSERT_TRUE(PostThreadMessageW(self, WM_USER + 1, 2, 0));
  ASSERT_TRUE(PostThreadMessageW(self, WM_APP, 3, 0));

  MSG msg{};
  EXPECT_FALSE(PeekMessageW(&msg, kSomeWindow, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 5, PM_REMOVE));
  ASSERT_TRUE(PeekMessageW(&msg, kThreadOnly, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(PeekMessageW(&msg, kThreadOnly, WM_USER + 1, WM_USER + 1, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
  // What is left comes out in the order it was posted.
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(ThreadMessagesTest, QueueStatusTellsWhatIsQueuedAndWhatIsNew) {
  EXPECT_EQ(HIWORD(GetQueueStatus(QS_ALLINPUT)), 0u);
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
  DWORD status = GetQueueStatus(QS_POSTMESSAGE);
  EXPECT_EQ(HIWORD(status), QS_POSTMESSAGE);
  EXPECT_EQ(LOWORD(status), QS_POSTMESSAGE);
  status = GetQueueStatus(QS_POSTMESSAGE);
  EXPECT_EQ(HIWORD(status), QS_POSTMESSAGE);
  EXPECT_EQ(LOWORD(status), 0u);
  EXPECT_EQ(GetQueueStatus(QS_SENDMESSAGE), 0u);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(HIWORD(GetQueueStatus(QS_POSTMESSAGE)), 0u);
}

TEST_F(ThreadMessagesTest, PostToAThreadThatIsGoneOrNeverWasFails) {
  DWORD gone = 0;
  std::thread([&] { gone = GetCurrentThreadId(); }).join();
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageW(gone, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(PostThreadMessageW(0, WM_USER, 0, 0));
  EXPECT_FALSE(PostThreadMessageW(0xFFFFFFF0u, WM_USER, 0, 0));
}

TEST_F(ThreadMessagesTest, GetMessageWaitsForAPostAndEndsOnQuit) {
  const DWORD self = GetCurrentThreadId();
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    PostThreadMessageW(self, WM_USER + 3, 0, 0);
    PostThreadMessageW(self, WM_QUIT, 0, 0);
  });
  MSG msg{};
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, WM_USER + 3);
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  poster.join();
}

TEST_F(ThreadMessagesTest, RegisteredMessagesKeepTheirIds) {
  const UINT unblock = RegisterWindowMessageW(L"AMUnblock");
  EXPECT_GE(unblock, 0xC000u);
  EXPECT_LE(unblock, 0xFFFFu);
  UINT fromOtherThread = 0;
  std::thread([&] { fromOtherThread = RegisterWindowMessageW(L"AMUnblock"); }).join();
  EXPECT_EQ(fromOtherThread, unblock);
  const UINT other = RegisterWindowMessageW(L"SomethingElse");
  EXPECT_NE(other, unblock);
  EXPECT_GE(other, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageW(nullptr), 0u);
  EXPECT_EQ(RegisterWindowMessageW(L""), 0u);
}

}  // namespace
