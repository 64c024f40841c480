#include "mediagraph/decode/picture_shape.h"

#include <cstdlib>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace mediagraph {

namespace {

// Wider than this is no picture a game shows; a ratio that makes one is damage.
constexpr int kWidest = 16384;

// The square-pixel width, as ffplay sizes its window: the height kept, the
// width from the display aspect ratio.
int SquareWidth(int width, AVRational ratio) {
  if (ratio.num <= 0 || ratio.den <= 0 || ratio.num == ratio.den) return width;
  if (ratio.num > 16LL * ratio.den || ratio.den > 16LL * ratio.num) return width;
  const int64_t square = av_rescale(width, ratio.num, ratio.den);
  return square < 1 || square > kWidest ? width : static_cast<int>(square);
}

}  // namespace

PictureShape PictureShape::Square(int width, int height) {
  PictureShape shape;
  shape.width = width;
  shape.height = height;
  return shape;
}

PictureShape PictureShape::Of(AVFormatContext *format, AVStream *stream) {
  const AVCodecParameters *par = stream->codecpar;
  PictureShape shape = Square(par->width, par->height);
  // The container's ratio wins over the codec's, as players take it.
  shape.width = SquareWidth(par->width, av_guess_sample_aspect_ratio(format, stream, nullptr));

  size_t size = 0;
  const auto *matrix = reinterpret_cast<const int32_t *>(
      av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
  if (matrix == nullptr || size < 9 * sizeof(int32_t)) return shape;
  // A shown point (x', y') = (a x + c y, b x + d y) plus a shift, with y
  // downwards; only the signs of a quarter turn or a mirror matter here.
  const int64_t a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
  const auto small = [](int64_t value, int64_t than) { return std::llabs(value) * 64 <= than; };
  const int64_t straight = std::llabs(a) + std::llabs(d);
  const int64_t across = std::llabs(b) + std::llabs(c);
  if (a != 0 && d != 0 && small(b, straight) && small(c, straight)) {
    shape.mirrorX = a < 0;
    shape.mirrorY = d < 0;
  } else if (b != 0 && c != 0 && small(a, across) && small(d, across)) {
    shape.transposed = true;
    shape.mirrorX = c < 0;  // shown x follows y
    shape.mirrorY = b < 0;  // shown y follows x
  }
  return shape;
}

}  // namespace mediagraph
