#include "platform/host/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

constexpr uintptr_t kHugePage = uintptr_t(2) << 20;

// `to` a power of two.
uintptr_t RoundDown(uintptr_t value, uintptr_t to) { return value & ~(to - 1); }
uintptr_t RoundUp(uintptr_t value, uintptr_t to) { return RoundDown(value + to - 1, to); }

size_t WholeHugePages(size_t bytes) { return RoundUp(bytes, kHugePage); }

size_t PageSize() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<size_t>(size) : 4096;
}

// Makes the page holding `byte` writable memory of its own without changing
// it, even while another thread writes it: an atomic or with 0 is a write
// fault. Written in assembly on x86-64 so that a thread sanitizer does not
// take it for the host's own write.
inline void TouchForWrite(unsigned char *byte) {
#if defined(__x86_64__)
  asm volatile("lock orb $0, %0" : "+m"(*byte) : : "memory");
#else
  __atomic_fetch_or(byte, static_cast<unsigned char>(0), __ATOMIC_RELAXED);
#endif
}

}  // namespace

void PopulatePages(void *start, size_t bytes, const std::atomic<bool> *enough) {
  if (start == nullptr) return;
  const uintptr_t page = PageSize();
  const uintptr_t first = RoundUp(reinterpret_cast<uintptr_t>(start), page);
  const uintptr_t end = RoundDown(reinterpret_cast<uintptr_t>(start) + bytes, page);
  // Faulted in a page at a time rather than with MADV_POPULATE_WRITE: a fault
  // holds only this mapping's lock, the advice the whole process's memory
  // map. The game's load, unmapping meanwhile, slept 3 ms of its 5 ms behind
  // the advice's pieces, taken again and again before it could wake. Here
  // both cost the same, 0.3 ms per MB.
  constexpr uintptr_t kPiece = uintptr_t(256) << 10;
  for (uintptr_t piece = first; piece < end && (enough == nullptr || !enough->load());) {
    const uintptr_t next = std::min(end, RoundDown(piece + kPiece, kPiece));
    for (uintptr_t at = piece; at < next; at += page) {
      TouchForWrite(reinterpret_cast<unsigned char *>(at));
    }
    piece = next;
  }
}

namespace {

// On the whole 2 MB pieces inside the range: asks for huge pages, or takes
// that back.
void AdviseWholeHugePages(void *start, size_t bytes, bool huge) {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
  const uintptr_t first = RoundUp(reinterpret_cast<uintptr_t>(start), kHugePage);
  const uintptr_t end = RoundDown(reinterpret_cast<uintptr_t>(start) + bytes, kHugePage);
  if (start != nullptr && end > first) {
    madvise(reinterpret_cast<void *>(first), end - first, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  }
#else
  (void)start;
  (void)bytes;
  (void)huge;
#endif
}

}  // namespace

void AdviseHugePages(void *start, size_t bytes) { AdviseWholeHugePages(start, bytes, true); }

void WithdrawHugePageAdvice(void *start, size_t bytes) {
  AdviseWholeHugePages(start, bytes, false);
}

void *MapHugePageBlock(size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
  const size_t length = WholeHugePages(bytes);
  const size_t page = PageSize();
  // Mapped with a huge page to spare, then trimmed to the aligned part and
  // one small page after it, which the trim always leaves.
  const size_t mapped = length + kHugePage;
  void *const raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + mapped;
  const uintptr_t kept = aligned + length + page;
  if (end > kept) munmap(reinterpret_cast<void *>(kept), end - kept);
  // The first fault in a new mapping takes the process's memory map lock to
  // set the mapping up; later ones take only the mapping's. Taken by a 2 MB
  // page the host backed afresh, it held that lock 4.9 ms while the game's
  // load waited to map memory. So the first is the small page after the
  // block, outside the advice: the advised part, split off, shares what it
  // set up. A small page inside it would leave a 2 MB piece that the
  // kernel's collapsing thread later rebuilds as a huge page, holding the
  // memory map 0.2 to 6 ms (every 10 s, one piece per block made since).
  TouchForWrite(reinterpret_cast<unsigned char *>(aligned + length));
  AdviseHugePages(reinterpret_cast<void *>(aligned), length);
  return reinterpret_cast<void *>(aligned);
}

void UnmapHugePageBlock(void *block, size_t bytes) {
  if (block != nullptr) munmap(block, WholeHugePages(bytes) + PageSize());
}

HugePageBlock::HugePageBlock(size_t bytes) : start_(MapHugePageBlock(bytes)), bytes_(bytes) {}

HugePageBlock::~HugePageBlock() { UnmapHugePageBlock(start_, bytes_); }

HugePageBlock::HugePageBlock(HugePageBlock &&other) noexcept
    : start_(std::exchange(other.start_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

HugePageBlock &HugePageBlock::operator=(HugePageBlock &&other) noexcept {
  if (this != &other) {
    UnmapHugePageBlock(start_, bytes_);
    start_ = std::exchange(other.start_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void PageWarmer::Start(void *start, size_t bytes) {
  Wait();
  start_ = start;
  bytes_ = bytes;
  // The policy is its starter's, the decoding thread's, a batch one: glibc
  // takes no batch policy in a new thread's attributes.
  started_ = pthread_create(&thread_, nullptr, &PageWarmer::Warm, this) == 0;
}

void *PageWarmer::Warm(void *self) {
  auto *const warmer = static_cast<PageWarmer *>(self);
  PopulatePages(warmer->start_, warmer->bytes_);
  return nullptr;
}

void PageWarmer::Wait() {
  if (started_) pthread_join(thread_, nullptr);
  started_ = false;
}
