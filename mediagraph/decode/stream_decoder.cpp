#include "mediagraph/decode/stream_decoder.h"

#include <cerrno>
#include <utility>

#include "mediagraph/decode/quiet_log.h"

namespace mediagraph {

std::unique_ptr<StreamDecoder> StreamDecoder::Create(const AVStream *stream, int threads) {
  const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return nullptr;
  std::unique_ptr<StreamDecoder> decoder(new StreamDecoder());
  decoder->context_.reset(avcodec_alloc_context3(codec));
  AVCodecContext *context = decoder->context_.get();
  if (context == nullptr) return nullptr;
  if (avcodec_parameters_to_context(context, stream->codecpar) < 0) return nullptr;
  context->pkt_timebase = stream->time_base;
  context->log_level_offset = kQuietLogOffset;
  context->thread_count = threads;
  context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (context->codec_type == AVMEDIA_TYPE_VIDEO) decoder->pictures_.Serve(context);
  if (avcodec_open2(context, codec, nullptr) < 0) return nullptr;
  return decoder;
}

bool StreamDecoder::Send(const AVPacket *packet) {
  const int error = avcodec_send_packet(context_.get(), packet);
  // EAGAIN cannot happen: the caller empties the decoder before each packet.
  // AVERROR_EOF means draining already began; a damaged packet is skipped.
  return error >= 0 || error == AVERROR_INVALIDDATA || error == AVERROR_EOF ||
         error == AVERROR(EAGAIN) || error == AVERROR_PATCHWELCOME ||
         error == AVERROR(ERANGE) || error == AVERROR(EINVAL);
}

int StreamDecoder::Receive(AVFrame *frame) {
  const int error = avcodec_receive_frame(context_.get(), frame);
  if (error >= 0 || error == AVERROR(EAGAIN) || error == AVERROR_EOF) return error;
  // A broken picture or sound frame: ask for the next packet instead.
  return AVERROR(EAGAIN);
}

void StreamDecoder::Flush() { avcodec_flush_buffers(context_.get()); }

void StreamDecoder::WatchRows(PictureBuffers::RowsDone rows) {
  if (context_->codec_type == AVMEDIA_TYPE_VIDEO) pictures_.WatchRows(context_.get(), std::move(rows));
}

}  // namespace mediagraph
