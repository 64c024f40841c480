// How a movie's pictures are meant to be seen, as the ffmpeg command shows
// them: pixels made square at the display size (the width follows the sample
// aspect ratio, the height stays), then turned and mirrored as the
// container's display matrix says (phones record upright clips on their side
// and say so there).
//
// Plain data: copied freely, read from any thread.
#pragma once

#include "mediagraph/decode/av_handles.h"

namespace mediagraph {

struct PictureShape {
  // The picture with square pixels, before it is turned.
  int width = 0;
  int height = 0;
  // Shown picture = mirrored(transposed(square picture)): transposing swaps
  // columns and rows (the main diagonal stays), mirroring reverses the
  // shown columns or rows. 90 degrees clockwise is transposed + mirrorX.
  bool transposed = false;
  bool mirrorX = false;
  bool mirrorY = false;

  // A shape that shows a picture of this size as it is.
  static PictureShape Square(int width, int height);
  // The shape of `stream` in `format` (sample aspect ratio and display
  // matrix). A ratio past 16:1 either way, or a matrix that turns by other
  // than quarter turns, is left out: damage, or beyond what we show.
  static PictureShape Of(AVFormatContext *format, AVStream *stream);

  int ShownWidth() const { return transposed ? height : width; }
  int ShownHeight() const { return transposed ? width : height; }
  bool Upright() const { return !transposed && !mirrorX && !mirrorY; }
};

}  // namespace mediagraph
