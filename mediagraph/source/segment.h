// The stretch of the movie one streaming session delivers.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

namespace mediagraph {

inline constexpr REFERENCE_TIME kToTheEnd = INT64_MAX;

// The video renderer shows each picture this long (8 ms) before its start
// time. In a silent movie a segment started on the running clock begins that
// much ahead, and the movie ends that much early, so a wrapped movie's first picture gets
// its whole time and its last one no more than its own.
inline constexpr REFERENCE_TIME kPictureLead = 80000;

// A movie that loops tells of its end this much before it (one check of a game
// at 60 Hz, the picture lead and the seek's own few ms): the game's seek to
// the start then comes before the first picture of the next pass is due, so
// that picture gets its whole time, and the pass starts at the end of this
// one whenever within that time the game looked. (Its last picture has been
// drawn by then, and stays up until the next is due.)
inline constexpr REFERENCE_TIME kLoopAhead = 400000;  // 40 ms

// A loop's seek that comes later than this after the pass's end starts the
// next pass where the stream stands instead: the game stood still.
inline constexpr REFERENCE_TIME kLoopSlack = 1000000;  // 100 ms

struct Segment {
  // Movie time (100 ns from the start of the movie) that falls on stream time
  // `base`. Pictures and sound before it are decoded and dropped.
  REFERENCE_TIME start = 0;
  // Movie time at which delivery ends; kToTheEnd for the end of the file.
  REFERENCE_TIME stop = 0;
  // Stream time of the segment's start: 0 after a stop or a pause, the stream
  // time reached for a seek while running (the clock runs on).
  REFERENCE_TIME base = 0;

  REFERENCE_TIME ToStreamTime(REFERENCE_TIME movieTime) const { return movieTime - start + base; }
};

}  // namespace mediagraph
