// Tells from the rows a decoder reports whether its picture will be done, and
// converted, well within a time. Rows decode at a fairly even pace; four
// times what that pace leaves covers an uneven picture and its conversion.
// The pace is timed from the first rows reported: the decoder's set-up before
// them (the first touch of its tables, tens of milliseconds in a new process)
// says nothing of it.
//
// Threads: one, the decoder's.
#pragma once

#include <chrono>

#include "platform/media/media.h"

namespace mediagraph {

class RowsForecast {
 public:
  using Clock = std::chrono::steady_clock;

  // `done` of `height` rows at `now`: true once the rest, four times over,
  // fits within `within` (100 ns units).
  bool Soon(int done, int height, Clock::time_point now, REFERENCE_TIME within);
  // Soon has had rows enough to go by.
  bool Judged() const { return judged_; }

 private:
  Clock::time_point since_;
  int from_ = -1;  // rows at the first report
  bool judged_ = false;
};

}  // namespace mediagraph
