// Turns decoded sound frames into interleaved signed 16-bit PCM at the
// stream's own rate, with one or two channels (more are mixed down to
// stereo). Can stretch or shrink the sound slightly to follow a clock.
//
// Used by the audio thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "mediagraph/decode/av_handles.h"

namespace mediagraph {

class SoundResampler {
 public:
  // Null when the stream's sample format or layout cannot be converted.
  static std::unique_ptr<SoundResampler> Create(const AVCodecParameters *parameters);

  ~SoundResampler();
  SoundResampler(const SoundResampler &) = delete;
  SoundResampler &operator=(const SoundResampler &) = delete;

  int Rate() const { return rate_; }
  int Channels() const { return channels_; }

  // Converts `frame` and appends the PCM to *out (frames of Channels()
  // samples). Frames whose layout differs from the stream's are handled.
  // False on a conversion failure.
  bool Convert(const AVFrame *frame, std::vector<int16_t> *out);

  // Appends what the conversion still holds (a stretch delays the sound a
  // little), at the end of the sound. False on a conversion failure.
  bool Drain(std::vector<int16_t> *out);

  // Over the next `distance` output frames, adds (or removes, when negative)
  // `delta` frames. Both 0 ends any stretching.
  void Compensate(int delta, int distance);

  // Frames the conversion holds back, at the output rate (a stretch delays
  // the sound by its filter's length).
  int64_t Delay() const;

  // Forgets buffered input (after repositioning).
  void Reset();

 private:
  SoundResampler() = default;
  bool Configure(const AVChannelLayout &layout, int format, int rate);

  SwrContextPtr context_;
  int rate_ = 0;
  int channels_ = 0;
  // Input the context was set up for.
  AVChannelLayout inputLayout_{};
  int inputFormat_ = -1;
  int inputRate_ = 0;
  bool compensating_ = false;  // a stretch is under way
};

}  // namespace mediagraph
