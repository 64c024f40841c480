#include "platform/host/heap_reuse.h"

#include <cstdlib>
#include <mutex>

#include "platform/host/huge_pages.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// glibc's own ceilings for the thresholds it raises as it goes.
constexpr int kMapAbove = 32 << 20;

}  // namespace

void KeepFreedHeapForReuse() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, kMapAbove);
    mallopt(M_TRIM_THRESHOLD, 2 * kMapAbove);
  });
#endif
}

bool BackHeapAhead(size_t bytes, const std::atomic<bool> *enough) {
  // A sanitizer's allocator keeps its own heap.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A block that large would be mapped on its own, and unmapped when freed.
  if (bytes == 0 || bytes >= size_t{kMapAbove}) return false;
  KeepFreedHeapForReuse();
  void *const block = std::malloc(bytes);
  if (block == nullptr) return false;
  AdviseHugePages(block, bytes);
  PopulatePages(block, bytes, enough);
  WithdrawHugePageAdvice(block, bytes);
  std::free(block);
  return true;
#else
  (void)bytes;
  (void)enough;
  return false;
#endif
}
