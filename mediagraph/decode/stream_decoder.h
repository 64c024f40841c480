// The FFmpeg decoder of one stream (video or audio), with FFmpeg's own
// decoding threads. Used by one thread at a time.
#pragma once

#include <memory>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/picture_buffers.h"

namespace mediagraph {

class StreamDecoder {
 public:
  // threads: decoding threads for FFmpeg, 0 lets FFmpeg choose by core count.
  // Null when no decoder exists or it will not open.
  static std::unique_ptr<StreamDecoder> Create(const AVStream *stream, int threads);

  StreamDecoder(const StreamDecoder &) = delete;
  StreamDecoder &operator=(const StreamDecoder &) = delete;

  // Hands one packet to the decoder; null starts draining at the end of the
  // stream. Packets the decoder refuses as damaged are dropped (the next key
  // frame recovers). False only when the decoder has failed for good.
  bool Send(const AVPacket *packet);
  // Takes the next decoded frame: 0, AVERROR(EAGAIN) when it needs another
  // packet, AVERROR_EOF when drained.
  int Receive(AVFrame *frame);
  // Forgets everything buffered (after repositioning); leaves drain mode.
  void Flush();
  // From now on tells `rows` (empty: nobody) how far each picture's decoding
  // is, where the decoder says. A video decoder of one thread only.
  void WatchRows(PictureBuffers::RowsDone rows);

  const AVCodecContext *Context() const { return context_.get(); }

 private:
  StreamDecoder() = default;

  PictureBuffers pictures_;  // video only; outlives the context
  CodecContextPtr context_;
};

}  // namespace mediagraph
