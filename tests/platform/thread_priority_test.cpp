#include "platform/win32/threads.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/host/background_thread.h"
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

// The calling thread's turn as the kernel shows it, in ns; 0 if it does not.
long long OwnTurn() {
  std::ifstream sched("/proc/thread-self/sched");
  for (std::string line; std::getline(sched, line);) {
    long long turn = 0;
    if (std::sscanf(line.c_str(), "se.slice : %lld", &turn) == 1) return turn;
  }
  return 0;
}

bool HasPerThreadTurns() {
  utsname name{};
  int major = 0;
  int minor = 0;
  return uname(&name) == 0 && std::sscanf(name.release, "%d.%d", &major, &minor) == 2 &&
         (major > 6 || (major == 6 && minor >= 12)) && OwnTurn() > 0;
}

// On a thread of its own: a raised nice cannot be lowered without privilege.
TEST(ThreadTurnsTest, SetPolicyAndTurnKeepNiceAndPassOnlyThePolicyToNewThreads) {
  if (!HasPerThreadTurns()) GTEST_SKIP() << "no per-thread turns on this kernel";
  std::thread([] {
    const long long ordinary = OwnTurn();
    const pid_t self = gettid();
    ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(self), 3), 0);
    RunInLongTurns();
    const long long longTurn = OwnTurn();
    EXPECT_GT(longTurn, ordinary);
    EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH | SCHED_RESET_ON_FORK);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(self)), 3);
    long long inherited = 0;
    int policy = -1;
    std::thread([&] {
      inherited = OwnTurn();
      policy = sched_getscheduler(0);
    }).join();
    EXPECT_EQ(inherited, ordinary);  // reset on fork
    EXPECT_EQ(policy, SCHED_BATCH);
    // Between the two: before the decoders at a core's turn, after the game.
    RunInTimedTurns();
    const long long timed = OwnTurn();
    EXPECT_GT(timed, ordinary);
    EXPECT_LT(timed, longTurn);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER | SCHED_RESET_ON_FORK);
    RunInBufferedTurns();
    EXPECT_EQ(OwnTurn(), timed);
    EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH | SCHED_RESET_ON_FORK);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(self)), 3);
  }).join();
}

// What a stop does before it joins the sound thread; an id of 0 never means
// the caller.
TEST(ThreadTurnsTest, MakeAnotherBackgroundThreadForeground) {
  std::thread([] {
    RunAsBackgroundThread();
    MakeForegroundThread(0);
    EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH | SCHED_RESET_ON_FORK);
    std::atomic<long> id{0};
    std::atomic<bool> checked{false};
    std::atomic<int> policy{-1};
    std::thread other([&] {
      id = ThisThreadId();
      while (!checked) std::this_thread::yield();
      policy = sched_getscheduler(0);
    });
    while (id == 0) std::this_thread::yield();
    MakeForegroundThread(id);
    checked = true;
    other.join();
    EXPECT_EQ(policy, SCHED_OTHER | SCHED_RESET_ON_FORK);  // it was born a background one
    EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH | SCHED_RESET_ON_FORK);
  }).join();
}

}  // namespace
