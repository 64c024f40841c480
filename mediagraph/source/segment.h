// The stretch of the movie one streaming session delivers.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

namespace mediagraph {

inline constexpr REFERENCE_TIME kToTheEnd = INT64_MAX;

struct Segment {
  // Movie time (100 ns from the start of the movie) that falls on stream time
  // 0. Pictures and sound before it are decoded and dropped.
  REFERENCE_TIME start = 0;
  // Movie time at which delivery ends; kToTheEnd for the end of the file.
  REFERENCE_TIME stop = 0;
};

}  // namespace mediagraph
