// Locks that wait a short while on their core before they sleep. Without
// high-resolution ticks the kernel rearranges a busy core only at its tick
// (4 ms at 250 Hz), and an idle virtual core may take milliseconds to wake: a
// thread that sleeps for microseconds on a lock may not run again for that
// long. For the game's thread that is a frame's deadline missed over a lock
// that another core's thread held for microseconds.
#pragma once

#include <chrono>
#include <mutex>

namespace spinning {
bool Pays();  // false on a single core, where the holder cannot run meanwhile
void Relax();
// Longer than the holds it is for (a few tens of microseconds), far shorter
// than a tick; a holder that is not running costs the waiter no more.
constexpr std::chrono::microseconds kSpin{50};
}  // namespace spinning

template <typename Mutex>
void LockSpinning(Mutex &mutex) {
  if (mutex.try_lock()) return;
  if (spinning::Pays()) {
    const auto until = std::chrono::steady_clock::now() + spinning::kSpin;
    do {
      for (int i = 0; i < 32; ++i) spinning::Relax();
      if (mutex.try_lock()) return;
    } while (std::chrono::steady_clock::now() < until);
  }
  mutex.lock();
}

template <typename Mutex>
class Spinning {
 public:
  void lock() { LockSpinning(mutex_); }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  Mutex mutex_;
};

using SpinningMutex = Spinning<std::mutex>;
using SpinningRecursiveMutex = Spinning<std::recursive_mutex>;
