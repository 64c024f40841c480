// One movie's sound: an OpenAL source on the shared device, fed with 16-bit
// PCM through a queue of buffers, with its own volume.
//
// Positions are counted in frames since the last Reset: "queued" is what has
// been handed over, "played" is what the source has moved past. The device
// plays a frame some latency after the source moves past it.
//
// Used by one thread at a time (the movie's audio thread while it streams);
// only SetVolume, Pause and Timeline may be called from another thread at any
// time.
//
// Once the process is ending and the device has closed, Queue refuses, the
// position stands still and the rest does nothing, so a streaming thread
// still running parks in its wait for room.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "mediagraph/audio/audio_device.h"

namespace mediagraph {

class SoundOutput {
 public:
  // Null when the device cannot take another source or the format is not
  // playable (channels other than 1 or 2, a rate that is not positive).
  static std::unique_ptr<SoundOutput> Create(std::shared_ptr<AudioDevice> device, int rate,
                                             int channels);
  ~SoundOutput();
  SoundOutput(const SoundOutput &) = delete;
  SoundOutput &operator=(const SoundOutput &) = delete;

  int Rate() const { return rate_; }
  int Channels() const { return channels_; }

  // Hands `frames` frames of interleaved PCM to the source. False when every
  // buffer is in use (try again once some have played).
  bool Queue(const int16_t *pcm, int frames);
  // Frames handed over and not yet played.
  int64_t PendingFrames();
  int64_t QueuedFrames() const { return queuedTotal_; }

  struct Position {
    int64_t played;     // frames the source has moved past since Reset
    int64_t latencyNs;  // how much later the device outputs them
    bool playing;       // the source is moving (not paused, stopped or starved)
  };
  // The device mixes in blocks of this many ns (0 when it does not say): the
  // position moves a block at a time, and the latency counts from a block's
  // end, so a block's first frame is heard that much sooner.
  int64_t MixPeriodNs() const;
  Position GetPosition();
  // The same against the device's clock: the source mixes the frame `played`
  // when the device's clock (ns) stands at `mixAtNs`, and the device outputs
  // it `latencyNs` after the mix. False where the device keeps no clock, or
  // has closed.
  struct Timing {
    int64_t played;
    int64_t mixAtNs;
    int64_t latencyNs;
  };
  bool GetTiming(Timing *timing);
  // When the device's mixes are heard, learnt from every reading above
  // (AudioDevice::Timeline). Any thread.
  // How often the device started again after a pause (its timeline is new).
  int DeviceRestarts() const { return device_->Restarts(); }
  bool Timeline(int64_t *heardOffset, int64_t *periodNs, int64_t *blockNs = nullptr) const {
    return device_->Timeline(heardOffset, periodNs, blockNs);
  }

  // Starts or resumes; when `skipFrames` is positive, that many pending
  // frames are skipped first (they are already late).
  // The device mixes while a source of it plays (AudioDevice::Mixing).
  void Play(int64_t skipFrames = 0);
  void Pause();
  // Stops and forgets every queued frame; positions start again at 0.
  void Reset();
  // Takes the newest buffer off the queue again, if it holds `frames` frames
  // and the source, playing or not yet started, has not reached it; the rest
  // plays on where it was. False otherwise (paused sources included).
  bool DropNewest(int frames);
  // The source ran out of frames while playing (or was never started).
  bool IsIdle();

  // Called with every piece of PCM Queue hands to the source, on the
  // queueing thread (to check what a movie's sound is made of). Set before
  // anything is queued.
  using Tap = std::function<void(const int16_t *pcm, int frames)>;
  void SetTap(Tap tap) { tap_ = std::move(tap); }

  // Hundredths of a decibel, -10000 (silence) to 0; clamped.
  void SetVolume(int32_t level);
  static float GainForLevel(int32_t level);

 private:
  SoundOutput() = default;
  // Unqueues the buffers the source has finished with.
  void Reclaim();
  void RewindIfStopped();

  std::atomic<bool> mixing_{false};  // counted in the device's Mixing
  std::shared_ptr<AudioDevice> device_;
  ALuint source_ = 0;
  ALenum format_ = 0;
  int rate_ = 0;
  int channels_ = 0;
  // Buffers not in the queue; in the queue with their frame counts, oldest first.
  std::vector<ALuint> freeBuffers_;
  std::deque<std::pair<ALuint, int>> queued_;
  std::vector<ALuint> allBuffers_;
  int64_t queuedTotal_ = 0;    // frames handed over since Reset
  int64_t unqueuedTotal_ = 0;  // frames of buffers unqueued since Reset (played)
  Tap tap_;

  static constexpr size_t kMaxBuffers = 64;
};

}  // namespace mediagraph
