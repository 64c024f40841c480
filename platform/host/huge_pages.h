// Large buffers that every picture is written into. Their first touch is
// page faults, one per 4 KB page (about 6000 for a 4K RGB picture, which on a
// virtual machine costs more than converting it); where the kernel backs them
// with 2 MB pages instead, it is a few dozen. Measured here: 0.3 ms per MB
// with 4 KB pages the host has backed before, up to 3 ms where it backs them
// afresh; under 0.1 ms per MB (0.5 the first time the host backs it) with
// 2 MB pages, which need the range aligned to 2 MB.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

// Backs the whole pages inside the range with memory now, a write fault per
// page that does not change what it holds: about 0.3 ms per MB here. Safe
// while another thread writes the range, and it leaves the process's memory
// map free for other threads meanwhile. Ends early once `enough` is set
// (checked every 256 KB): on memory the host backs afresh, each 2 MB takes
// milliseconds.
void PopulatePages(void *start, size_t bytes, const std::atomic<bool> *enough = nullptr);

// Asks for 2 MB pages in the whole 2 MB pieces inside the range, before its
// pages are first written.
void AdviseHugePages(void *start, size_t bytes);
// Takes that advice back once the range is backed: its 2 MB pages stay, and
// pieces it holds in 4 KB pages are left so. Memory used before (a heap's,
// whose page tables outlive what it frees) is backed in 4 KB pages despite
// the advice, and the kernel's collapsing thread rebuilds each such advised
// piece in turn, holding the process's memory map 0.2 to 6 ms each time.
void WithdrawHugePageAdvice(void *start, size_t bytes);

// Anonymous memory of at least `bytes`, zeroed, starting on a 2 MB boundary
// and advised for 2 MB pages (where the kernel has none, it gets 4 KB ones);
// null when it cannot be mapped. Freed with
// UnmapHugePageBlock and the same `bytes`.
void *MapHugePageBlock(size_t bytes);
void UnmapHugePageBlock(void *block, size_t bytes);

// One such block, owned.
class HugePageBlock {
 public:
  HugePageBlock() = default;
  // Empty when the memory cannot be mapped.
  explicit HugePageBlock(size_t bytes);
  ~HugePageBlock();
  HugePageBlock(HugePageBlock &&other) noexcept;
  HugePageBlock &operator=(HugePageBlock &&other) noexcept;
  HugePageBlock(const HugePageBlock &) = delete;
  HugePageBlock &operator=(const HugePageBlock &) = delete;

  unsigned char *Data() const { return static_cast<unsigned char *>(start_); }
  explicit operator bool() const { return start_ != nullptr; }

 private:
  void *start_ = nullptr;
  size_t bytes_ = 0;
};

// Backs a range's pages (PopulatePages) on a thread of its own that does not
// take a core from the thread that starts it: memory the first picture is
// written into, backed while that picture decodes.
class PageWarmer {
 public:
  PageWarmer() = default;
  ~PageWarmer() { Wait(); }
  PageWarmer(const PageWarmer &) = delete;
  PageWarmer &operator=(const PageWarmer &) = delete;

  // After any earlier start has ended. Without a thread, nothing is backed
  // ahead: the pages are faulted in as they are first written.
  void Start(void *start, size_t bytes);
  // Until the range is backed; the memory may be freed after.
  void Wait();

 private:
  static void *Warm(void *self);

  pthread_t thread_{};
  bool started_ = false;
  void *start_ = nullptr;
  size_t bytes_ = 0;
};
