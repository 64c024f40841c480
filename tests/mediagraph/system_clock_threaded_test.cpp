// The system reference clock: time, one-shot and periodic advises served by its
// thread, cancelling, and the thread's end with the clock.
#include "mediagraph/clock/system_clock.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "mediagraph/graph/com_ptr.h"
#include "platform/media/media.h"
#include "platform/win32/windows.h"
#include "tests/mediagraph/support/test_movies.h"

using mediagraph::ComPtr;
using mediagraph::SystemClock;
using mediagraph_test::ThreadCount;

namespace {

constexpr REFERENCE_TIME kMs = 10000;
// Generous: only bounds how long a broken clock can hang the test.
constexpr DWORD kPatienceMs = 10000;

ComPtr<IReferenceClock> NewClock() {
  SystemClock *clock = nullptr;
  EXPECT_EQ(SystemClock::Create(&clock), S_OK);
  return ComPtr<IReferenceClock>::Adopt(clock);
}

REFERENCE_TIME Now(IReferenceClock *clock) {
  REFERENCE_TIME t = 0;
  EXPECT_EQ(clock->GetTime(&t), S_OK);
  return t;
}

struct Event {
  HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ~Event() { CloseHandle(handle); }
  HEVENT h() const { return reinterpret_cast<HEVENT>(handle); }
};

// The clock thread's id, found by its name; empty when there is none.
std::string ClockThread() {
  const std::vector<std::string> found = mediagraph_test::ThreadsNamed("cl-clock");
  return found.empty() ? std::string() : found.back();
}

// How many times it has slept, read once it is asleep; -1 if it never is.
long SleepsOnceAsleep(const std::string &tid) {
  for (int look = 0; look < 10000; ++look) {
    std::ifstream stat("/proc/self/task/" + tid + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close != std::string::npos && line.compare(close + 2, 1, "S") == 0) {
      std::ifstream status("/proc/self/task/" + tid + "/status");
      for (std::string field; std::getline(status, field);) {
        if (field.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(field.substr(24));
      }
    }
    usleep(1000);
  }
  return -1;
}

}  // namespace

TEST(SystemClock, TimeNeverGoesBack) {
  ComPtr<IReferenceClock> clock = NewClock();
  REFERENCE_TIME last = Now(clock.get());
  for (int i = 0; i < 1000; ++i) {
    const REFERENCE_TIME t = Now(clock.get());
    ASSERT_GE(t, last);
    last = t;
  }
  EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
}

TEST(SystemClock, RefusesAdvisesItCannotServe) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event event;
  DWORD_PTR cookie = 123;
  EXPECT_EQ(clock->AdviseTime(0, 0, event.h(), nullptr), E_POINTER);
  EXPECT_EQ(clock->AdviseTime(0, 0, 0, &cookie), E_INVALIDARG);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(clock->AdviseTime(0x7FFFFFFFFFFFFFFF, 1, event.h(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(0, 0, event.h(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdvisePeriodic(0, -kMs, event.h(), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->Unadvise(42), S_FALSE);
}

TEST(SystemClock, AdviseFiresOnceAtBasePlusStreamTime) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event event;
  const REFERENCE_TIME base = Now(clock.get());
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(base, 30 * kMs, event.h(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  ASSERT_EQ(WaitForSingleObject(event.handle, kPatienceMs), WAIT_OBJECT_0);
  EXPECT_GE(Now(clock.get()), base + 30 * kMs);  // never early
  // One-shot: gone once fired.
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
  EXPECT_EQ(WaitForSingleObject(event.handle, 50), WAIT_TIMEOUT);
}

TEST(SystemClock, AdviseInThePastFiresAtOnce) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event event;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(Now(clock.get()), -1000 * kMs, event.h(), &cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(event.handle, kPatienceMs), WAIT_OBJECT_0);
}

TEST(SystemClock, UnadvisedEventIsNeverSet) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event event;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(Now(clock.get()), 100 * kMs, event.h(), &cookie), S_OK);
  EXPECT_EQ(clock->Unadvise(cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(event.handle, 300), WAIT_TIMEOUT);
}

TEST(SystemClock, AdvisesFireInTheOrderTheyAreDue) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event late, early;
  const REFERENCE_TIME base = Now(clock.get());
  DWORD_PTR lateCookie = 0, earlyCookie = 0;
  // The later one is asked for first: the clock thread must wake early for the other.
  ASSERT_EQ(clock->AdviseTime(base, 400 * kMs, late.h(), &lateCookie), S_OK);
  ASSERT_EQ(clock->AdviseTime(base, 20 * kMs, early.h(), &earlyCookie), S_OK);
  ASSERT_EQ(WaitForSingleObject(early.handle, kPatienceMs), WAIT_OBJECT_0);
  if (Now(clock.get()) < base + 400 * kMs) {
    EXPECT_EQ(WaitForSingleObject(late.handle, 0), WAIT_TIMEOUT);
  }
  EXPECT_EQ(WaitForSingleObject(late.handle, kPatienceMs), WAIT_OBJECT_0);
  EXPECT_GE(Now(clock.get()), base + 400 * kMs);
}

TEST(SystemClock, AdvisingAndUnadvisingLeaveItsThreadAsleep) {
  // Woken for nothing, the clock's thread takes a core from the game's.
  ComPtr<IReferenceClock> clock = NewClock();
  Event event;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdviseTime(Now(clock.get()), 0, event.h(), &cookie), S_OK);
  ASSERT_EQ(WaitForSingleObject(event.handle, kPatienceMs), WAIT_OBJECT_0);
  const std::string tid = ClockThread();
  ASSERT_FALSE(tid.empty());
  const long before = SleepsOnceAsleep(tid);
  ASSERT_GE(before, 0);
  const REFERENCE_TIME base = Now(clock.get());
  DWORD_PTR late = 0, early = 0;
  ASSERT_EQ(clock->AdviseTime(base, 3600 * 1000 * kMs, event.h(), &late), S_OK);
  ASSERT_EQ(clock->AdviseTime(base, 1800 * 1000 * kMs, event.h(), &early), S_OK);
  EXPECT_EQ(clock->Unadvise(early), S_OK);
  EXPECT_EQ(SleepsOnceAsleep(tid), before);
  EXPECT_EQ(clock->Unadvise(late), S_OK);
}

TEST(SystemClock, PeriodicAdviseRepeatsUntilUnadvised) {
  ComPtr<IReferenceClock> clock = NewClock();
  Event tick;
  const REFERENCE_TIME start = Now(clock.get());
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock->AdvisePeriodic(start, 10 * kMs, tick.h(), &cookie), S_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitForSingleObject(tick.handle, kPatienceMs), WAIT_OBJECT_0);
  EXPECT_GE(Now(clock.get()), start + 20 * kMs);
  EXPECT_EQ(clock->Unadvise(cookie), S_OK);
  WaitForSingleObject(tick.handle, 0);  // a tick set just before the Unadvise
  EXPECT_EQ(WaitForSingleObject(tick.handle, 100), WAIT_TIMEOUT);
}

TEST(SystemClock, ReleasingTheClockEndsItsThread) {
  {
    // A first clock thread, for whatever the process starts with its first thread
    // (a sanitizer's helper thread, for one).
    ComPtr<IReferenceClock> clock = NewClock();
    Event event;
    DWORD_PTR cookie = 0;
    clock->AdviseTime(Now(clock.get()), 0, event.h(), &cookie);
    WaitForSingleObject(event.handle, kPatienceMs);
  }
  const int before = ThreadCount();
  {
    ComPtr<IReferenceClock> clock = NewClock();
    Event event;
    DWORD_PTR cookie = 0;
    // Pending far in the future when the clock goes.
    ASSERT_EQ(clock->AdviseTime(Now(clock.get()), 3600 * 1000 * kMs, event.h(), &cookie), S_OK);
    EXPECT_GT(ThreadCount(), before);
  }
  EXPECT_EQ(ThreadCount(), before);
}
