#include "mediagraph/audio/mix_timeline.h"

#include <algorithm>

namespace mediagraph {

namespace {
// Device and monotonic clocks drift apart by a fraction of a millisecond a
// second at most; the earliest reading is let age by this much so that the
// estimate follows them.
constexpr int64_t kAgePerUnit = 2000;  // 0.5 ms a second
}  // namespace

void MixTimeline::Note(int64_t now, int64_t deviceNs, int64_t latencyNs) {
  const int64_t heard = now + latencyNs / 100 - deviceNs / 100;
  if (!any_) {
    offset_ = heard;
  } else {
    if (deviceNs > lastDevice_) {
      if (now - lastNow_ <= kSharp) sharp_ = true;
      const int64_t step = deviceNs - lastDevice_;
      periodNs_ = periodNs_ > 0 ? std::min(periodNs_, step) : step;
    }
    offset_ = std::min(offset_ + std::max<int64_t>(0, now - lastNow_) / kAgePerUnit, heard);
  }
  // Threads note what they read in any order: the latest reading stands.
  any_ = true;
  lastNow_ = std::max(lastNow_, now);
  lastDevice_ = std::max(lastDevice_, deviceNs);
}

}  // namespace mediagraph
