#include "platform/host/spinning_mutex.h"

#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Longer than the graph's own holds (a few tens of microseconds), far shorter
// than a tick; a holder that is not running costs the waiter no more than this.
constexpr auto kSpin = std::chrono::microseconds(50);

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

bool SpinningPays() {
  static const bool pays = std::thread::hardware_concurrency() > 1;
  return pays;
}

}  // namespace

void SpinningRecursiveMutex::lock() {
  if (mutex_.try_lock()) return;
  if (SpinningPays()) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    do {
      for (int i = 0; i < 32; ++i) Relax();
      if (mutex_.try_lock()) return;
    } while (std::chrono::steady_clock::now() < until);
  }
  mutex_.lock();
}
