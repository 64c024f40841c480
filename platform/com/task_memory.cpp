#include "platform/com/unknown.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<StandInAllocFailureHook> failureHook{nullptr};

bool AllocationRefused(SIZE_T bytes) {
  StandInAllocFailureHook hook = failureHook.load(std::memory_order_acquire);
  return hook && hook(bytes);
}

}  // namespace

LPVOID CoTaskMemAlloc(SIZE_T bytes) {
  if (AllocationRefused(bytes)) return nullptr;
  // A zero-byte request still gets a distinct block, as the platform gives.
  return std::malloc(bytes ? bytes : 1);
}

LPVOID CoTaskMemRealloc(LPVOID memory, SIZE_T bytes) {
  if (!memory) return CoTaskMemAlloc(bytes);
  if (bytes == 0) {
    std::free(memory);
    return nullptr;
  }
  if (AllocationRefused(bytes)) return nullptr;  // the old block stays valid
  return std::realloc(memory, bytes);
}

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

void StandInSetTaskAllocFailureHook(StandInAllocFailureHook hook) {
  failureHook.store(hook, std::memory_order_release);
}
