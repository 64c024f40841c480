#include "platform/win32/threads.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/errors.h"

namespace {

struct PriorityProbe {
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int initial = THREAD_PRIORITY_ERROR_RETURN;
  ~PriorityProbe() {
    CloseHandle(started);
    CloseHandle(finish);
  }
};

DWORD WINAPI LowerOwnPriority(LPVOID parameter) {
  auto *probe = static_cast<PriorityProbe *>(parameter);
  probe->initial = GetThreadPriority(GetCurrentThread());
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  SetEvent(probe->started);
  WaitForSingleObject(probe->finish, INFINITE);
  return 0;
}

TEST(ThreadPriorityTest, IsRecordedPerThread) {
  const int before = GetThreadPriority(GetCurrentThread());
  ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));

  PriorityProbe probe;
  HANDLE thread = CreateThread(nullptr, 0, LowerOwnPriority, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(probe.started, INFINITE), WAIT_OBJECT_0);
  // A new thread starts at normal priority, whatever its creator runs at.
  EXPECT_EQ(probe.initial, THREAD_PRIORITY_NORMAL);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);

  ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_IDLE);
  SetEvent(probe.finish);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), before));
}

TEST(ThreadPriorityTest, RefusesBadValuesAndHandles) {
  const int before = GetThreadPriority(GetCurrentThread());
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), before);

  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(GetThreadPriority(event), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_NORMAL));
  EXPECT_EQ(GetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
  CloseHandle(event);
}

}  // namespace
