#include "mediagraph/decode/frame_converter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "mediagraph/decode/yuv420_to_bgr24.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace mediagraph {

namespace {

// libswscale's special converters take 8 pixels at a time; twice that leaves
// room for any wider kernel.
constexpr int kPixelGroup = 16;

int RoomyPitch(int width) { return (width + kPixelGroup - 1) / kPixelGroup * kPixelGroup * 3; }

// Shown rows per band when turning: a band reads a short run of each square
// row, so the square picture is read through the cache once.
constexpr int kBand = 16;

// swscale warns about the deprecated full-range YUVJ formats; they are the
// ordinary formats with the JPEG range, which is set on the scaler instead.
AVPixelFormat PlainFormat(AVPixelFormat format, bool *fullRange) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
  }
}

}  // namespace

FrameConverter::FrameConverter(int width, int height)
    : FrameConverter(PictureShape::Square(width, height)) {}

FrameConverter::FrameConverter(const PictureShape &shape)
    : shape_(shape),
      width_(shape.ShownWidth()),
      height_(shape.ShownHeight()),
      roomyRows_(RowStride(shape.width) >= RoomyPitch(shape.width)),
      row_(ChosenYuv420Row()) {}

bool FrameConverter::Convert(const AVFrame *frame, uint8_t *out, size_t outSize) {
  if (frame->width <= 0 || frame->height <= 0 || outSize < ImageSize()) return false;
  bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat format = PlainFormat(static_cast<AVPixelFormat>(frame->format), &fullRange);
  // Unspecified colour spaces decode as BT.601, as for standard-definition video.
  const int space =
      frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace;
  // 4:2:0 at the square size, the common case, takes our own rows.
  const bool ownRows = format == AV_PIX_FMT_YUV420P && frame->width == shape_.width &&
                       frame->height == shape_.height && frame->data[0] != nullptr &&
                       frame->data[1] != nullptr && frame->data[2] != nullptr;
  // Upright (or upside down: rows the other way) and with rows the converter
  // fills whole, the picture goes straight into the sample.
  const bool straight = !shape_.transposed && !shape_.mirrorX && (ownRows || roomyRows_);
  uint8_t *top;
  int pitch;
  if (straight) {
    // Bottom-up rows: start at the last row and step backwards.
    const int stride = RowStride(width_);
    top = shape_.mirrorY ? out : out + static_cast<size_t>(stride) * (height_ - 1);
    pitch = shape_.mirrorY ? stride : -stride;
  } else {
    if (scratch_.empty()) {
      scratchPitch_ = RoomyPitch(shape_.width);
      try {
        scratch_.resize(static_cast<size_t>(scratchPitch_) * shape_.height);
      } catch (const std::bad_alloc &) {
        return false;
      }
    }
    top = scratch_.data();
    pitch = scratchPitch_;
  }

  if (ownRows) {
    const Yuv420Picture picture{{frame->data[0], frame->data[1], frame->data[2]},
                                {frame->linesize[0], frame->linesize[1], frame->linesize[2]},
                                shape_.width,
                                shape_.height};
    Yuv420ToBgr24(picture, top, pitch, MakeYuv420Matrix(sws_getCoefficients(space), fullRange),
                  row_);
  } else {
    const bool sameInput = scaler_ && frame->width == sourceWidth_ &&
                           frame->height == sourceHeight_ && format == sourceFormat_ &&
                           frame->colorspace == sourceColorSpace_ &&
                           static_cast<int>(fullRange) == sourceRange_;
    if (!sameInput) {
      // Exact size: libswscale takes its unscaled converter, whatever the
      // flag, straight into the sample where the rows allow. Its slice
      // threads only add CPU (bench_frame_converter) and one pass takes a
      // small part of a picture's time, so none. A picture of another size
      // is scaled bilinear, as players show it.
      scaler_.reset(sws_getContext(frame->width, frame->height, format, shape_.width,
                                   shape_.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr));
      if (!scaler_) return false;
      const int *coefficients = sws_getCoefficients(space);
      sws_setColorspaceDetails(scaler_.get(), coefficients, fullRange ? 1 : 0,
                               sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
      sourceWidth_ = frame->width;
      sourceHeight_ = frame->height;
      sourceFormat_ = format;
      sourceColorSpace_ = frame->colorspace;
      sourceRange_ = fullRange ? 1 : 0;
    }
    uint8_t *planes[4] = {top, nullptr, nullptr, nullptr};
    int strides[4] = {pitch, 0, 0, 0};
    const int rows = sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height,
                               planes, strides);
    if (rows != shape_.height) return false;
  }
  if (!straight) Place(out);
  return true;
}

void FrameConverter::Place(uint8_t *out) const {
  const ptrdiff_t pitch = scratchPitch_;
  // The square pixel under shown pixel (0, 0), and the steps through the
  // square picture for one shown pixel right and one shown row down.
  const int cornerX = shape_.mirrorX ? width_ - 1 : 0;
  const int cornerY = shape_.mirrorY ? height_ - 1 : 0;
  const ptrdiff_t signX = shape_.mirrorX ? -1 : 1;
  const ptrdiff_t signY = shape_.mirrorY ? -1 : 1;
  const uint8_t *origin;
  ptrdiff_t stepX, stepY;
  if (shape_.transposed) {
    origin = scratch_.data() + cornerX * pitch + cornerY * 3;
    stepX = signX * pitch;
    stepY = signY * 3;
  } else {
    origin = scratch_.data() + cornerY * pitch + cornerX * 3;
    stepX = signX * 3;
    stepY = signY * pitch;
  }
  const ptrdiff_t stride = RowStride(width_);
  // Shown row y is row height_ - 1 - y in memory (bottom-up).
  uint8_t *const topRow = out + stride * (height_ - 1);
  if (stepX == 3) {
    for (int y = 0; y < height_; ++y) {
      std::memcpy(topRow - y * stride, origin + y * stepY, static_cast<size_t>(width_) * 3);
    }
    return;
  }
  for (int band = 0; band < height_; band += kBand) {
    const int end = std::min(height_, band + kBand);
    for (int x = 0; x < width_; ++x) {
      const uint8_t *from = origin + x * stepX + band * stepY;
      uint8_t *to = topRow - band * stride + x * 3;
      for (int y = band; y < end; ++y) {
        std::memcpy(to, from, 3);
        from += stepY;
        to -= stride;
      }
    }
  }
}

}  // namespace mediagraph
