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
  if (any_ && deviceNs < lastDevice_) *this = MixTimeline();  // the device started again
  const int64_t heard = now + latencyNs / 100 - deviceNs / 100;
  if (!any_) {
    offset_ = heard;
  } else {
    if (deviceNs > lastDevice_ && now - lastNow_ <= kSharp) sharp_ = true;
    offset_ = std::min(offset_ + std::max<int64_t>(0, now - lastNow_) / kAgePerUnit, heard);
  }
  any_ = true;
  lastNow_ = now;
  lastDevice_ = deviceNs;
}

}  // namespace mediagraph
