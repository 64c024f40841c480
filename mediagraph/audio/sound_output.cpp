#include "mediagraph/audio/sound_output.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "mediagraph/clock/system_clock.h"

namespace mediagraph {

std::unique_ptr<SoundOutput> SoundOutput::Create(std::shared_ptr<AudioDevice> device, int rate,
                                                 int channels) {
  if (!device || rate <= 0 || (channels != 1 && channels != 2)) return nullptr;
  std::unique_ptr<SoundOutput> output(new SoundOutput());
  output->device_ = std::move(device);
  output->rate_ = rate;
  output->channels_ = channels;
  output->format_ = channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
  const AudioDevice::Access access(*output->device_);
  if (!access) return nullptr;
  alGetError();
  alGenSources(1, &output->source_);
  if (alGetError() != AL_NO_ERROR) {
    output->source_ = 0;
    return nullptr;
  }
  // Heard as it is: no position, distance or direction applies.
  alSourcei(output->source_, AL_SOURCE_RELATIVE, AL_TRUE);
  alSource3f(output->source_, AL_POSITION, 0.0f, 0.0f, 0.0f);
  alSourcef(output->source_, AL_ROLLOFF_FACTOR, 0.0f);
  return output;
}

SoundOutput::~SoundOutput() {
  if (mixing_.exchange(false)) device_->Mixing(false);
  // A closed device took its sources and buffers with it.
  const AudioDevice::Access access(*device_);
  if (!access) return;
  if (source_ != 0) {
    alSourceStop(source_);
    alSourcei(source_, AL_BUFFER, 0);
    alDeleteSources(1, &source_);
  }
  if (!allBuffers_.empty()) {
    alDeleteBuffers(static_cast<ALsizei>(allBuffers_.size()), allBuffers_.data());
  }
}

void SoundOutput::Reclaim() {
  ALint processed = 0;
  alGetSourcei(source_, AL_BUFFERS_PROCESSED, &processed);
  while (processed-- > 0 && !queued_.empty()) {
    ALuint buffer = queued_.front().first;
    alSourceUnqueueBuffers(source_, 1, &buffer);
    unqueuedTotal_ += queued_.front().second;
    queued_.pop_front();
    freeBuffers_.push_back(buffer);
  }
}

void SoundOutput::RewindIfStopped() {
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  if (state != AL_STOPPED) return;
  // A stopped source counts every queued buffer as processed, also buffers
  // queued after it stopped, and would replay from its queue's head: take the
  // played buffers off and go back to the initial state before adding more.
  Reclaim();
  alSourceRewind(source_);
}

bool SoundOutput::Queue(const int16_t *pcm, int frames) {
  if (frames <= 0) return true;
  // Once the device is closed every buffer stays in use: the feeder waits.
  const AudioDevice::Access access(*device_);
  if (!access) return false;
  RewindIfStopped();
  Reclaim();
  if (freeBuffers_.empty()) {
    if (allBuffers_.size() >= kMaxBuffers) return false;
    ALuint buffer = 0;
    alGetError();
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR) return false;
    allBuffers_.push_back(buffer);
    freeBuffers_.push_back(buffer);
  }
  const ALuint buffer = freeBuffers_.back();
  alBufferData(buffer, format_, pcm, frames * channels_ * static_cast<int>(sizeof(int16_t)),
               rate_);
  alSourceQueueBuffers(source_, 1, &buffer);
  freeBuffers_.pop_back();
  queued_.emplace_back(buffer, frames);
  queuedTotal_ += frames;
  if (tap_) tap_(pcm, frames);
  return true;
}

int64_t SoundOutput::PendingFrames() { return queuedTotal_ - GetPosition().played; }

SoundOutput::Position SoundOutput::GetPosition() {
  Position position{};
  position.played = unqueuedTotal_;
  const AudioDevice::Access access(*device_);
  if (!access) return position;  // closed: nothing moves any more
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  if (state == AL_STOPPED) {
    // Starved or finished: everything handed over has been played.
    position.played = queuedTotal_;
    return position;
  }
  int64_t offset = 0;
  device_->SourceOffsetAndLatency(source_, &offset, &position.latencyNs);
  // The offset counts from the oldest buffer still in the queue.
  position.played = std::min(unqueuedTotal_ + offset, queuedTotal_);
  position.playing = state == AL_PLAYING;
  return position;
}

bool SoundOutput::GetTiming(Timing *timing) {
  const AudioDevice::Access access(*device_);
  if (!access) return false;
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  int64_t offset = 0;
  int64_t clockNs = 0;
  if (!device_->SourceOffsetAndClock(source_, &offset, &clockNs)) return false;
  int64_t latencyNs = 0;
  int64_t clockLaterNs = 0;  // a moment later: the latency is what is wanted
  device_->ClockAndLatency(&clockLaterNs, &latencyNs);
  timing->played = state == AL_STOPPED ? queuedTotal_
                                       : std::min(unqueuedTotal_ + offset, queuedTotal_);
  timing->mixAtNs = clockNs;
  timing->latencyNs = latencyNs;
  device_->NoteClock(SystemClock::Now(), clockNs, latencyNs);
  return true;
}

int64_t SoundOutput::MixPeriodNs() const {
  const int mixes = device_->MixesPerSecond();
  return mixes > 0 ? 1000000000 / mixes : 0;
}

void SoundOutput::Play(int64_t skipFrames) {
  const AudioDevice::Access access(*device_);
  if (!access) return;
  RewindIfStopped();
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  if (state == AL_PLAYING) return;
  if (!mixing_.exchange(true)) device_->Mixing(true);
  if (skipFrames > 0) {
    Reclaim();
    int64_t inQueue = 0;
    for (const auto &entry : queued_) inQueue += entry.second;
    // The offset counts from the queue's head; a paused source is already
    // somewhere inside it.
    const int64_t current = state == AL_PAUSED ? GetPosition().played - unqueuedTotal_ : 0;
    const int64_t target = std::min(current + skipFrames, inQueue > 0 ? inQueue - 1 : 0);
    if (target > current) alSourcei(source_, AL_SAMPLE_OFFSET, static_cast<ALint>(target));
  }
  alSourcePlay(source_);
}

void SoundOutput::Pause() {
  const AudioDevice::Access access(*device_);
  if (access) alSourcePause(source_);
  if (mixing_.exchange(false)) device_->Mixing(false);
}

void SoundOutput::Reset() {
  const AudioDevice::Access access(*device_);
  if (!access) return;
  alSourceStop(source_);
  alSourcei(source_, AL_BUFFER, 0);  // unqueues everything
  for (const auto &entry : queued_) freeBuffers_.push_back(entry.first);
  queued_.clear();
  alSourceRewind(source_);
  queuedTotal_ = 0;
  unqueuedTotal_ = 0;
  if (mixing_.exchange(false)) device_->Mixing(false);
}

bool SoundOutput::DropNewest(int frames) {
  const AudioDevice::Access access(*device_);
  if (!access || queued_.empty() || queued_.back().second != frames) return false;
  Reclaim();
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  if (state != AL_PLAYING && state != AL_INITIAL) return false;
  int64_t before = 0;  // frames ahead of the newest buffer
  for (size_t i = 0; i + 1 < queued_.size(); ++i) before += queued_[i].second;
  // A playing source gives up no buffer it has not finished: stop it, queue
  // the same buffers less the newest and go on from the same offset (which
  // counts from the same head). The offset is read paused: read while it
  // plays, the mixer may move on before the stop, and that period is heard
  // twice.
  ALint offset = 0;
  if (state == AL_PLAYING) {
    alSourcePause(source_);
    alGetSourcei(source_, AL_SAMPLE_OFFSET, &offset);
  }
  if (offset >= before) {
    if (state == AL_PLAYING) alSourcePlay(source_);
    return false;
  }
  if (state == AL_PLAYING) alSourceStop(source_);
  alSourceRewind(source_);
  alSourcei(source_, AL_BUFFER, 0);
  freeBuffers_.push_back(queued_.back().first);
  queued_.pop_back();
  queuedTotal_ -= frames;
  for (const auto &entry : queued_) alSourceQueueBuffers(source_, 1, &entry.first);
  if (state == AL_PLAYING) {
    alSourcei(source_, AL_SAMPLE_OFFSET, offset);
    alSourcePlay(source_);
  }
  return true;
}

bool SoundOutput::IsIdle() {
  const AudioDevice::Access access(*device_);
  if (!access) return false;
  ALint state = AL_INITIAL;
  alGetSourcei(source_, AL_SOURCE_STATE, &state);
  return state == AL_STOPPED || state == AL_INITIAL;
}

float SoundOutput::GainForLevel(int32_t level) {
  if (level <= -10000) return 0.0f;  // the bottom of the range is silence, not -100 dB
  if (level >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, level / 2000.0));
}

void SoundOutput::SetVolume(int32_t level) {
  const AudioDevice::Access access(*device_);
  if (access) alSourcef(source_, AL_GAIN, GainForLevel(level));
}

}  // namespace mediagraph
