// A recursive mutex that waits a short while on its core before it sleeps.
// Without high-resolution ticks the kernel rearranges a busy core only at its
// tick (4 ms at 250 Hz): a thread that sleeps for microseconds on a lock, while
// decoding threads keep its core busy, may not run again until the next tick.
// For the game's thread that is a frame's deadline missed over a lock that
// another core's thread held for microseconds.
#pragma once

#include <mutex>

class SpinningRecursiveMutex {
 public:
  void lock();
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};
