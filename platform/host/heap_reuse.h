// Every decoder FFmpeg opens zeroes its tables afresh: about 10 MB for a 4K
// H.264 picture (motion vectors, per-block and error-concealment tables), and
// as much again in a frame-threaded decoder's threads. By default glibc maps
// each block over 128 KB on its own, and gives the free top of a heap back to
// the kernel, so each new decoder (every load, every first picture shown
// ahead) faults all of it in again, one 4 KB page at a time: 2.7 ms per MB on
// a virtual machine, 25 ms for those tables. Kept in the process, freed
// blocks are reused warm: under 1 ms.
#pragma once

#include <atomic>
#include <cstddef>

// Puts glibc's heap where it goes by itself once it has freed a block of
// 32 MB: blocks under 32 MB come from its heaps, and a heap keeps up to 64 MB
// free at its top. What the process holds is then its peak, not more: freed
// blocks are reused, not added to. Once per process; nothing elsewhere than
// glibc.
void KeepFreedHeapForReuse();

// Backs `bytes` of the calling thread's heap now and leaves them free, in
// 2 MB pages where the kernel has them: what the thread then allocates and
// zeroes (a decoder's tables at its first picture) lands in memory already
// mapped. A new thread's heap is fresh, and each 4 KB page of it costs a
// fault and, on a virtual machine, as much again at its first write: 25 ms
// for a 4K picture's tables, against 2 ms to back them here in 2 MB pages.
// Keeps the heap as KeepFreedHeapForReuse does. Ends early once `enough` is
// set. False, with nothing done, above its mapping threshold and with another
// allocator than glibc's.
bool BackHeapAhead(size_t bytes, const std::atomic<bool> *enough = nullptr);
