#include "platform/win32/sync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/host/spinning_mutex.h"

namespace {

class CriticalSectionTest : public ::testing::Test {
 protected:
  CriticalSectionTest() { InitializeCriticalSection(&cs_); }
  ~CriticalSectionTest() override { DeleteCriticalSection(&cs_); }

  bool OtherThreadCanEnter() {
    bool entered = false;
    std::thread([&] {
      entered = TryEnterCriticalSection(&cs_) != FALSE;
      if (entered) LeaveCriticalSection(&cs_);
    }).join();
    return entered;
  }

  CRITICAL_SECTION cs_{};
};

TEST_F(CriticalSectionTest, IsHeldUntilEveryEnterIsLeft) {
  EnterCriticalSection(&cs_);
  EnterCriticalSection(&cs_);
  EXPECT_TRUE(TryEnterCriticalSection(&cs_));
  LeaveCriticalSection(&cs_);
  LeaveCriticalSection(&cs_);
  EXPECT_FALSE(OtherThreadCanEnter());
  LeaveCriticalSection(&cs_);
  EXPECT_TRUE(OtherThreadCanEnter());
}

TEST_F(CriticalSectionTest, LeaveByAThreadThatDoesNotOwnItIsIgnored) {
  EnterCriticalSection(&cs_);
  std::thread([&] { LeaveCriticalSection(&cs_); }).join();
  EXPECT_FALSE(OtherThreadCanEnter());
  LeaveCriticalSection(&cs_);
  EXPECT_TRUE(OtherThreadCanEnter());
}

TEST_F(CriticalSectionTest, ExcludesOtherThreads) {
  long counter = 0;  // deliberately plain: the lock alone protects it
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      EnterCriticalSection(&cs_);
      EnterCriticalSection(&cs_);
      ++counter;
      LeaveCriticalSection(&cs_);
      LeaveCriticalSection(&cs_);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

// The graph's lock: held over the spin now and then, so that waiters take
// both the spinning and the sleeping way in.
TEST(SpinningRecursiveMutexTest, ExcludesOtherThreadsEitherWay) {
  SpinningRecursiveMutex mutex;
  long counter = 0;  // deliberately plain: the lock alone protects it
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      std::lock_guard<SpinningRecursiveMutex> outer(mutex);
      std::lock_guard<SpinningRecursiveMutex> inner(mutex);
      ++counter;
      if (i % 2000 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_TRUE(mutex.try_lock());
  mutex.unlock();
}

}  // namespace
