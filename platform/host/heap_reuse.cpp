#include "platform/host/heap_reuse.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedHeapForReuse() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] {
    // glibc's own ceilings for the thresholds it raises as it goes.
    constexpr int kMapAbove = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, kMapAbove);
    mallopt(M_TRIM_THRESHOLD, 2 * kMapAbove);
  });
#endif
}
