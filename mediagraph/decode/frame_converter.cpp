#include "mediagraph/decode/frame_converter.h"

#include "mediagraph/decode/yuv420_to_bgr24.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace mediagraph {

namespace {

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
    : width_(width), height_(height), row_(ChosenYuv420Row()) {}

bool FrameConverter::Convert(const AVFrame *frame, uint8_t *out, size_t outSize) {
  if (frame->width <= 0 || frame->height <= 0 || outSize < ImageSize()) return false;
  bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat format = PlainFormat(static_cast<AVPixelFormat>(frame->format), &fullRange);
  // Unspecified colour spaces decode as BT.601, as for standard-definition video.
  const int space =
      frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace;
  // Bottom-up rows: start at the last row and step backwards.
  const int stride = RowStride(width_);
  uint8_t *const top = out + static_cast<size_t>(stride) * (height_ - 1);
  // 4:2:0 at the exact size, the common case, takes our own rows.
  if (format == AV_PIX_FMT_YUV420P && frame->width == width_ && frame->height == height_ &&
      frame->data[0] != nullptr && frame->data[1] != nullptr && frame->data[2] != nullptr) {
    const Yuv420Picture picture{{frame->data[0], frame->data[1], frame->data[2]},
                                {frame->linesize[0], frame->linesize[1], frame->linesize[2]},
                                width_,
                                height_};
    Yuv420ToBgr24(picture, top, -stride, MakeYuv420Matrix(sws_getCoefficients(space), fullRange),
                  row_);
    return true;
  }
  const bool sameInput = scaler_ && frame->width == sourceWidth_ &&
                         frame->height == sourceHeight_ && format == sourceFormat_ &&
                         frame->colorspace == sourceColorSpace_ &&
                         static_cast<int>(fullRange) == sourceRange_;
  if (!sameInput) {
    // Exact size: libswscale takes its unscaled converter, whatever the flag,
    // straight into the sample (no copy). Its slice threads only add CPU
    // (bench_frame_converter) and one pass takes a small part of a picture's
    // time, so none. A picture of another size is scaled bilinear, as players
    // show it.
    scaler_.reset(sws_getContext(frame->width, frame->height, format, width_, height_,
                                 AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
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
  int strides[4] = {-stride, 0, 0, 0};
  const int rows = sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height,
                             planes, strides);
  return rows == height_;
}

}  // namespace mediagraph
