// The process's one OpenAL device and context, shared by every movie that
// plays sound. The first Acquire opens them and makes the context current for
// the whole process; they close when the last holder lets go.
//
// Thread-safe: Acquire and the release of the last holder serialise on a
// process-wide mutex; OpenAL's own calls are thread-safe.
#pragma once

#include <memory>

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

namespace mediagraph {

class AudioDevice {
 public:
  // The shared device, opening it if nobody holds it. Null when there is no
  // sound device or OpenAL refuses (the caller then plays no sound).
  static std::shared_ptr<AudioDevice> Acquire();

  ~AudioDevice();
  AudioDevice(const AudioDevice &) = delete;
  AudioDevice &operator=(const AudioDevice &) = delete;

  ALCdevice *Device() const { return device_; }
  // Output rate of the device, in frames per second.
  int MixRate() const { return mixRate_; }

  // Reads a source's queue offset (frames) with the device's output latency
  // (ns) in one atomic step when the implementation offers it
  // (AL_SOFT_source_latency); otherwise the plain offset and latency 0.
  void SourceOffsetAndLatency(ALuint source, int64_t *frames, int64_t *latencyNs) const;

 private:
  AudioDevice() = default;

  ALCdevice *device_ = nullptr;
  ALCcontext *context_ = nullptr;
  int mixRate_ = 0;
  LPALGETSOURCEI64VSOFT getSourcei64v_ = nullptr;
};

}  // namespace mediagraph
