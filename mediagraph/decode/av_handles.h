// Owning handles for the FFmpeg objects the decoding core keeps.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace mediagraph {

struct FormatContextCloser {
  void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecContextFreer {
  void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
  void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct SwsContextFreer {
  void operator()(SwsContext *context) const { sws_freeContext(context); }
};
struct SwrContextFreer {
  void operator()(SwrContext *context) const { swr_free(&context); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFreer>;

inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }
inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }

// 100 ns units, the graph's time base.
inline constexpr AVRational kReferenceTimeBase = {1, 10000000};

}  // namespace mediagraph
