// When the device outputs what it mixes, on the monotonic clock, learnt from
// readings of its own clock (the time of the sound it has mixed so far) and
// its output latency.
//
// The device mixes a block at a time, so a reading taken a while after a mix
// makes the sound look later than it is; a driver with no real hardware clock
// (OpenAL's wave and null drivers) even reports the same latency wherever in
// the block it is asked. The earliest "heard at" over the readings is
// therefore the true one: a reading taken just after a mix gives it. A
// driver that measures its latency gives the same figure at every reading.
//
// A movie's sound starts with the device's next mix, a period (21 ms at
// 48 kHz) from now at most. Knowing when that block is heard, the start is
// placed to the sample rather than half a period out either way.
//
// Not thread-safe (the device that keeps one guards it); readings may come
// out of order.
#pragma once

#include <cstdint>

namespace mediagraph {

class MixTimeline {
 public:
  // A reading: at `now` (100 ns on the monotonic clock, taken after the
  // device was asked) the device's clock stood at `deviceNs` and it reported
  // an output latency of `latencyNs`.
  void Note(int64_t now, int64_t deviceNs, int64_t latencyNs);
  // Whether a reading was taken soon enough after a mix to place a start by.
  bool Known() const { return sharp_; }
  // When the sound the device mixes at its clock `deviceNs` is heard
  // (100 ns on the monotonic clock).
  int64_t HeardAt(int64_t deviceNs) const { return offset_ + deviceNs / 100; }
  // What the device mixes at a time, in ns (the least step of its clock
  // seen; 0 before it has moved).
  int64_t PeriodNs() const { return periodNs_; }
  // The device's clock at the latest reading: where one of its blocks begins.
  int64_t LatestNs() const { return lastDevice_; }

  // A reading this soon after the one before that saw the clock move was
  // taken this soon after a mix.
  static constexpr int64_t kSharp = 20000;  // 2 ms

 private:
  bool any_ = false;
  bool sharp_ = false;
  int64_t offset_ = 0;  // heard time less device time, the earliest seen
  int64_t lastNow_ = 0;
  int64_t lastDevice_ = 0;
  int64_t periodNs_ = 0;
};

}  // namespace mediagraph
