#include "mediagraph/decode/picture_buffers.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/host/huge_pages.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace mediagraph {

namespace {

// Plane starts and rows on 64 bytes, the widest vector FFmpeg uses; after
// each plane, the margin FFmpeg's own buffers leave for reads past the end.
constexpr size_t kAlign = 64;
constexpr size_t kMargin = 16 + kAlign - 1;
// A picture's first block larger than this (twice a 1080p one) is backed ahead.
constexpr size_t kWarmedBytes = size_t{8} << 20;

size_t AlignUp(size_t value, size_t to) { return (value + to - 1) / to * to; }

void FreeBlock(void *opaque, uint8_t *data) {
  UnmapHugePageBlock(data, reinterpret_cast<uintptr_t>(opaque));
}

}  // namespace

AVBufferRef *PictureBuffers::AllocateBlock(void *opaque, size_t bytes) {
  void *const block = MapHugePageBlock(bytes);
  if (block == nullptr) return nullptr;
  auto *const self = static_cast<PictureBuffers *>(opaque);
  if (self != nullptr && !self->warmed_ && bytes >= kWarmedBytes) {
    // Backed ahead of the rows the decoder writes: a decoder's first big
    // picture lands in memory that is fresh to the host as well.
    self->warmer_.Start(block, bytes);
    self->warmed_ = true;
  }
  AVBufferRef *buffer = av_buffer_create(static_cast<uint8_t *>(block), bytes, FreeBlock,
                                         reinterpret_cast<void *>(uintptr_t(bytes)), 0);
  if (buffer == nullptr) UnmapHugePageBlock(block, bytes);
  return buffer;
}

PictureBuffers::~PictureBuffers() {
  // The pool unmaps its blocks once it goes (and each picture still out when
  // that comes back): never under the warmer's writes.
  warmer_.Wait();
  av_buffer_pool_uninit(&pool_);
}

void PictureBuffers::Serve(AVCodecContext *context) {
  context->opaque = this;
  context->get_buffer2 = &PictureBuffers::GetBuffer;
}

void PictureBuffers::WatchRows(AVCodecContext *context, RowsDone watcher) {
  rowsDone_ = std::move(watcher);
  context->draw_horiz_band = rowsDone_ ? &PictureBuffers::DrawBand : nullptr;
}

void PictureBuffers::DrawBand(AVCodecContext *context, const AVFrame *frame, int *, int y, int,
                              int height) {
  auto *const self = static_cast<PictureBuffers *>(context->opaque);
  if (self != nullptr && self->rowsDone_ && frame != nullptr) {
    self->rowsDone_(y + height, frame->height);
  }
}

int PictureBuffers::GetBuffer(AVCodecContext *context, AVFrame *frame, int flags) {
  auto *const self = static_cast<PictureBuffers *>(context->opaque);
  const auto format = static_cast<AVPixelFormat>(frame->format);
  const AVPixFmtDescriptor *const descriptor = av_pix_fmt_desc_get(format);
  if (self == nullptr || (context->codec->capabilities & AV_CODEC_CAP_DR1) == 0 ||
      descriptor == nullptr ||
      (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL |
                            AV_PIX_FMT_FLAG_BITSTREAM)) != 0 ||
      frame->width <= 0 || frame->height <= 0) {
    return avcodec_default_get_buffer2(context, frame, flags);
  }
  // The size the decoder may write (rounded up to its blocks), and the row
  // alignment it needs.
  int width = frame->width;
  int height = frame->height;
  int rowAlign[AV_NUM_DATA_POINTERS] = {};
  avcodec_align_dimensions2(context, &width, &height, rowAlign);
  int rows[4] = {};
  if (av_image_fill_linesizes(rows, format, width) < 0) {
    return avcodec_default_get_buffer2(context, frame, flags);
  }
  ptrdiff_t linesizes[4] = {};
  for (int i = 0; i < 4; ++i) {
    const size_t align = std::max<size_t>(kAlign, static_cast<size_t>(std::max(rowAlign[i], 1)));
    linesizes[i] = static_cast<ptrdiff_t>(AlignUp(static_cast<size_t>(rows[i]), align));
  }
  size_t planes[4] = {};
  if (av_image_fill_plane_sizes(planes, format, height, linesizes) < 0) {
    return avcodec_default_get_buffer2(context, frame, flags);
  }
  size_t bytes = 0;
  for (const size_t plane : planes) {
    if (plane != 0) bytes += AlignUp(plane + kMargin, kAlign);
  }
  if (self->pool_ == nullptr || self->poolBytes_ != bytes) {
    // A new picture size: the old pool goes once its pictures come back.
    self->warmer_.Wait();
    av_buffer_pool_uninit(&self->pool_);
    self->pool_ = av_buffer_pool_init2(bytes, self, &PictureBuffers::AllocateBlock, nullptr);
    self->poolBytes_ = self->pool_ != nullptr ? bytes : 0;
    if (self->pool_ == nullptr) return AVERROR(ENOMEM);
  }
  frame->buf[0] = av_buffer_pool_get(self->pool_);
  if (frame->buf[0] == nullptr) return AVERROR(ENOMEM);
  uint8_t *at = frame->buf[0]->data;
  for (int i = 0; i < 4; ++i) {
    if (planes[i] == 0) {
      frame->data[i] = nullptr;
      frame->linesize[i] = 0;
      continue;
    }
    frame->data[i] = at;
    frame->linesize[i] = static_cast<int>(linesizes[i]);
    at += AlignUp(planes[i] + kMargin, kAlign);
  }
  frame->extended_data = frame->data;
  return 0;
}

}  // namespace mediagraph
