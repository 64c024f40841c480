#include "tests/frames/alloc_failure.h"

#include <atomic>
#include <cstddef>
#include <new>

namespace {
std::atomic<bool> failing{false};
std::atomic<int> remaining{0};
}  // namespace

void FailAllocationsAfter(int allowed) {
  remaining = allowed;
  failing = true;
}

void StopFailingAllocations() { failing = false; }

// Replaces the library's form; memory still comes from the ordinary array
// form so that the ordinary delete[] releases it.
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  if (failing && remaining-- <= 0) {
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}
