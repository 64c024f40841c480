// Converts decoded pictures into the graph's frame layout: 24-bit pixels
// (blue, green, red from the lowest address), rows bottom-up, each row padded
// to a multiple of 4 bytes. Pictures of another size than the output (a stream
// that changes size midway) are scaled to it, so the connected format holds.
//
// Used by the video thread only. Convert allocates nothing once the scaler
// exists for a given input format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/yuv420_to_bgr24.h"

namespace mediagraph {

class FrameConverter {
 public:
  FrameConverter(int width, int height);

  // Bytes from one row to the next: 3 * width rounded up to 4.
  static int RowStride(int width) { return (width * 3 + 3) & ~3; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  size_t ImageSize() const { return static_cast<size_t>(RowStride(width_)) * height_; }

  // Writes `frame` into `out` (at least ImageSize() bytes). False when the
  // picture cannot be converted (unknown pixel format, no memory).
  bool Convert(const AVFrame *frame, uint8_t *out, size_t outSize);

 private:
  int width_;
  int height_;
  Yuv420Row *row_;
  SwsContextPtr scaler_;
  // The input format the scaler was made for, to set its colour matrix once.
  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  int sourceFormat_ = -1;
  int sourceColorSpace_ = -1;
  int sourceRange_ = -1;
};

}  // namespace mediagraph
