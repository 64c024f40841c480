// Asking for the next source row ahead of the loads.
#pragma once

#include <cstddef>

// Frames arrive bottom-up, so their rows are read at falling addresses; the
// hardware prefetchers follow each row but not the step back to the row
// before it, and every row then starts on a cold miss. Converting a cold
// 1080p frame that way takes about twice as long as with this hint.
inline void PrefetchRow(const void *row, size_t bytes) {
  const auto *bytesOfRow = static_cast<const char *>(row);
  for (size_t offset = 0; offset < bytes; offset += 64) {
    __builtin_prefetch(bytesOfRow + offset);
  }
}
