#include "platform/host/spinning_mutex.h"

#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace spinning {

bool Pays() {
  static const bool pays = std::thread::hardware_concurrency() > 1;
  return pays;
}

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace spinning
