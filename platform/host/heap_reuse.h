// The heap is the game's: its thresholds, its trimming and its pages' advice
// are never ours to set. Where a warm allocation pays, the library keeps its
// own (a pool of blocks it mapped itself), see huge_pages.h.
#pragma once

#include <atomic>
#include <cstddef>

// Backs nothing of the shared heap and returns false: the pages a decoder's
// tables land in are the heap's, and warming them meant tuning the whole
// process's allocator.
bool BackHeapAhead(size_t bytes, const std::atomic<bool> *enough = nullptr);
