#include "mediagraph/decode/sound_resampler.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "mediagraph/decode/quiet_log.h"

namespace mediagraph {

std::unique_ptr<SoundResampler> SoundResampler::Create(const AVCodecParameters *parameters) {
  if (parameters->sample_rate <= 0) return nullptr;
  std::unique_ptr<SoundResampler> resampler(new SoundResampler());
  resampler->rate_ = parameters->sample_rate;
  const int channels = parameters->ch_layout.nb_channels;
  resampler->channels_ = channels == 1 ? 1 : 2;
  // The format is only known once frames arrive; the context is made then.
  return resampler;
}

SoundResampler::~SoundResampler() { av_channel_layout_uninit(&inputLayout_); }

bool SoundResampler::Configure(const AVChannelLayout &layout, int format, int rate) {
  AVChannelLayout inLayout{};
  if (layout.nb_channels <= 0) return false;
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, layout.nb_channels);
  } else if (av_channel_layout_copy(&inLayout, &layout) < 0) {
    return false;
  }
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, channels_);
  SwrContext *raw = nullptr;
  const int error =
      swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, rate_, &inLayout,
                          static_cast<AVSampleFormat>(format), rate, kQuietLogOffset, nullptr);
  av_channel_layout_uninit(&outLayout);
  SwrContextPtr context(raw);
  if (error < 0 || !context || swr_init(context.get()) < 0) {
    av_channel_layout_uninit(&inLayout);
    return false;
  }
  av_channel_layout_uninit(&inputLayout_);
  inputLayout_ = inLayout;
  inputFormat_ = format;
  inputRate_ = rate;
  context_ = std::move(context);
  compensating_ = false;
  return true;
}

bool SoundResampler::Convert(const AVFrame *frame, std::vector<int16_t> *out) {
  if (frame->nb_samples <= 0) return true;
  const bool same = context_ && frame->format == inputFormat_ &&
                    frame->sample_rate == inputRate_ &&
                    (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC
                         ? frame->ch_layout.nb_channels == inputLayout_.nb_channels
                         : av_channel_layout_compare(&frame->ch_layout, &inputLayout_) == 0);
  if (!same) {
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : rate_;
    if (!Configure(frame->ch_layout, frame->format, rate)) return false;
  }
  const int room = swr_get_out_samples(context_.get(), frame->nb_samples);
  if (room < 0) return false;
  const size_t before = out->size();
  // Grows only while the largest frame so far is exceeded.
  out->resize(before + static_cast<size_t>(room) * channels_);
  uint8_t *target = reinterpret_cast<uint8_t *>(out->data() + before);
  const int produced =
      swr_convert(context_.get(), &target, room,
                  const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
  if (produced < 0) {
    out->resize(before);
    return false;
  }
  out->resize(before + static_cast<size_t>(produced) * channels_);
  return true;
}

bool SoundResampler::Drain(std::vector<int16_t> *out) {
  if (!context_) return true;
  const int room = swr_get_out_samples(context_.get(), 0);
  if (room <= 0) return room == 0;
  const size_t before = out->size();
  out->resize(before + static_cast<size_t>(room) * channels_);
  uint8_t *target = reinterpret_cast<uint8_t *>(out->data() + before);
  const int produced = swr_convert(context_.get(), &target, room, nullptr, 0);
  out->resize(before + static_cast<size_t>(std::max(produced, 0)) * channels_);
  return produced >= 0;
}

int64_t SoundResampler::Delay() const {
  return context_ ? swr_get_delay(context_.get(), rate_) : 0;
}

void SoundResampler::Compensate(int delta, int distance) {
  // The first stretch switches the context to resampling; ending a stretch
  // that never began must not.
  if (!context_ || (delta == 0 && !compensating_)) return;
  compensating_ = swr_set_compensation(context_.get(), delta, distance) >= 0 && delta != 0;
}

void SoundResampler::Reset() {
  // A new context drops the delay line cheaply and exactly.
  context_.reset();
  inputFormat_ = -1;
  compensating_ = false;
}

}  // namespace mediagraph
