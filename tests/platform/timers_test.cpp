#include "platform/win32/timers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/win32/sync.h"
#include "platform/win32/threads.h"

namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool Eventually(Condition condition) {
  const auto giveUp = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<UINT> lastId{0};
  UINT killOnCall = 0;  // kill the own timer from inside the callback on this call
};

void CALLBACK Count(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto *counter = reinterpret_cast<Counter *>(user);
  counter->lastId = id;
  const int calls = ++counter->calls;
  if (counter->killOnCall != 0 && calls == static_cast<int>(counter->killOnCall)) {
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  }
}

TEST(TimersTest, OneShotFiresOnceOnTheTimerThread) {
  Counter counter;
  const MMRESULT id =
      timeSetEvent(5, 1, Count, reinterpret_cast<DWORD_PTR>(&counter), TIME_ONESHOT);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(Eventually([&] { return counter.calls == 1; }));
  EXPECT_EQ(counter.lastId, id);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(counter.calls, 1);
  // A fired one-shot is gone.
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

TEST(TimersTest, KilledBeforeItsTimeNeverFires) {
  Counter counter;
  const MMRESULT id =
      timeSetEvent(200, 10, Count, reinterpret_cast<DWORD_PTR>(&counter), TIME_ONESHOT);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(counter.calls, 0);
}

TEST(TimersTest, PeriodicTimerRunsUntilKilled) {
  Counter counter;
  const MMRESULT id =
      timeSetEvent(2, 1, Count, reinterpret_cast<DWORD_PTR>(&counter), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(Eventually([&] { return counter.calls >= 3; }));
  ASSERT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  const int atKill = counter.calls;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(counter.calls, atKill);
}

TEST(TimersTest, CallbackCanKillItsOwnTimer) {
  Counter counter;
  counter.killOnCall = 2;
  const MMRESULT id =
      timeSetEvent(2, 1, Count, reinterpret_cast<DWORD_PTR>(&counter), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(Eventually([&] { return counter.calls >= 2; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(counter.calls, 2);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

struct SlowCallback {
  HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> finished{false};
  ~SlowCallback() { CloseHandle(entered); }
};

void CALLBACK EnterAndLinger(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto *slow = reinterpret_cast<SlowCallback *>(user);
  SetEvent(slow->entered);
  std::this_thread::sleep_for(50ms);
  slow->finished = true;
}

TEST(TimersTest, KillWaitsForARunningCallback) {
  SlowCallback slow;
  const MMRESULT id =
      timeSetEvent(1, 1, EnterAndLinger, reinterpret_cast<DWORD_PTR>(&slow), TIME_ONESHOT);
  ASSERT_NE(id, 0u);
  ASSERT_EQ(WaitForSingleObject(slow.entered, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  EXPECT_TRUE(slow.finished);
}

// One race between a firing timer and its kill.
struct Race {
  std::atomic<bool> inCallback{false};
  std::atomic<bool> killReturned{false};
  std::atomic<bool> lateCall{false};
};

void CALLBACK RaceCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto *race = reinterpret_cast<Race *>(user);
  race->inCallback = true;
  if (race->killReturned) race->lateCall = true;
  std::this_thread::yield();
  race->inCallback = false;
}

TEST(TimersTest, KillRacingTheCallbackNeverLetsItRunLater) {
  std::vector<std::unique_ptr<Race>> races;
  for (int i = 0; i < 300; ++i) {
    races.push_back(std::make_unique<Race>());
    Race &race = *races.back();
    const UINT flags = i % 2 ? TIME_PERIODIC : TIME_ONESHOT;
    const MMRESULT id = timeSetEvent(1, 1, RaceCallback, reinterpret_cast<DWORD_PTR>(&race), flags);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(std::chrono::microseconds((i * 37) % 1500));
    timeKillEvent(id);  // may find a one-shot already gone
    EXPECT_FALSE(race.inCallback) << "iteration " << i;
    race.killReturned = true;
  }
  std::this_thread::sleep_for(20ms);
  for (size_t i = 0; i < races.size(); ++i) {
    EXPECT_FALSE(races[i]->lateCall) << "iteration " << i;
  }
}

TEST(TimersTest, RefusesWhatItCannotSchedule) {
  Counter counter;
  const auto user = reinterpret_cast<DWORD_PTR>(&counter);
  EXPECT_EQ(timeSetEvent(10, 1, nullptr, user, TIME_ONESHOT), 0u);
  EXPECT_EQ(timeSetEvent(0, 1, Count, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
}

TEST(TimersTest, PeriodRequestsAreCounted) {
  const int depth = StandInTimerPeriodDepth();
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(StandInTimerPeriodDepth(), depth + 2);
  EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO);  // never begun
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(StandInTimerPeriodDepth(), depth);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(StandInTimerPeriodDepth(), depth);
}

TEST(TimersTest, ClocksMoveForwardInMilliseconds) {
  const DWORD time = timeGetTime();
  const DWORD ticks = GetTickCount();
  Sleep(20);
  EXPECT_GE(timeGetTime() - time, 15u);
  EXPECT_GE(GetTickCount() - ticks, 15u);
  EXPECT_LT(timeGetTime() - time, 60000u);
}

}  // namespace
