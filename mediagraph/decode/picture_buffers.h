// Where a video decoder puts its pictures: blocks on 2 MB pages, pooled per
// decoder. FFmpeg's own buffers are plain allocations on 4 KB pages, and
// their first touch made the first picture of a 1080p movie wait tens of
// milliseconds, several times that at 4K.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/host/huge_pages.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mediagraph {

class PictureBuffers {
 public:
  PictureBuffers() = default;
  // Pictures still out keep their pool until they are freed.
  ~PictureBuffers();
  PictureBuffers(const PictureBuffers &) = delete;
  PictureBuffers &operator=(const PictureBuffers &) = delete;

  // Makes `context` (not yet opened) take its pictures from here. The
  // buffers must outlive the context.
  void Serve(AVCodecContext *context);

  // Rows of the picture being decoded that are done (all planes), and its
  // height; on the decoding thread. Only decoders that draw in bands call it
  // (single-threaded H.264 among them).
  using RowsDone = std::function<void(int rows, int height)>;
  // Before the served context opens.
  void WatchRows(AVCodecContext *context, RowsDone watcher);

 private:
  static void DrawBand(AVCodecContext *context, const AVFrame *frame,
                       int offset[AV_NUM_DATA_POINTERS], int y, int type, int height);

  // The decoder's get_buffer2. Falls back on FFmpeg's own buffers for what it
  // does not lay out itself (decoders that do not allow it, hardware,
  // palette and bitstream formats).
  static int GetBuffer(AVCodecContext *context, AVFrame *frame, int flags);
  // The pool's allocator (`opaque`: the buffers); under the pool's lock.
  static AVBufferRef *AllocateBlock(void *opaque, size_t bytes);

  // Called by one decoder thread at a time (FFmpeg's promise).
  AVBufferPool *pool_ = nullptr;
  size_t poolBytes_ = 0;
  RowsDone rowsDone_;
  // Backs the decoder's first big block while it decodes into it (by writing
  // to each page); joined before the pool that unmaps the block goes.
  PageWarmer warmer_;
  bool warmed_ = false;
};

}  // namespace mediagraph
