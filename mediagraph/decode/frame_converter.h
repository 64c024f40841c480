// Converts decoded pictures into the graph's frame layout: 24-bit pixels
// (blue, green, red from the lowest address), rows bottom-up, each row padded
// to a multiple of 4 bytes, the picture shown as its shape says (square
// pixels, turned and mirrored). Pictures of another size than the square
// picture (a stream that changes size midway, or pixels that are not square)
// are scaled to it, so the connected format holds.
//
// Used by the video thread only. Convert allocates nothing once the scaler
// (and, where needed, the picture to turn) exists for a given input format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/picture_shape.h"
#include "mediagraph/decode/yuv420_to_bgr24.h"

namespace mediagraph {

class FrameConverter {
 public:
  // Pictures shown as they are, at width x height.
  FrameConverter(int width, int height);
  explicit FrameConverter(const PictureShape &shape);

  // Bytes from one row to the next: 3 * width rounded up to 4.
  static int RowStride(int width) { return (width * 3 + 3) & ~3; }
  // The shown picture's size.
  int Width() const { return width_; }
  int Height() const { return height_; }
  size_t ImageSize() const { return static_cast<size_t>(RowStride(width_)) * height_; }

  // Writes `frame` into `out` (at least ImageSize() bytes). False when the
  // picture cannot be converted (unknown pixel format, no memory).
  bool Convert(const AVFrame *frame, uint8_t *out, size_t outSize);

 private:
  // Copies the square picture in scratch_ into `out` as shown.
  void Place(uint8_t *out) const;

  const PictureShape shape_;
  const int width_;   // shown
  const int height_;
  // libswscale's converters write whole groups of pixels and leave the last
  // ones out of a row too tight for the group: only rows with room for them
  // are written straight into the sample.
  const bool roomyRows_;
  Yuv420Row *row_;
  SwsContextPtr scaler_;
  // The input format the scaler was made for, to set its colour matrix once.
  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  int sourceFormat_ = -1;
  int sourceColorSpace_ = -1;
  int sourceRange_ = -1;
  // The square picture, top-down with roomy rows, where it cannot be drawn
  // into the sample as it is shown; made at its first use.
  std::vector<uint8_t> scratch_;
  int scratchPitch_ = 0;
};

}  // namespace mediagraph
