#include "mediagraph/audio/audio_device.h"

#include <mutex>

namespace mediagraph {

namespace {

std::mutex &SharedMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by SharedMutex(); expires when the last holder releases.
std::weak_ptr<AudioDevice> &SharedDevice() {
  static std::weak_ptr<AudioDevice> device;
  return device;
}

}  // namespace

std::shared_ptr<AudioDevice> AudioDevice::Acquire() {
  std::lock_guard<std::mutex> lock(SharedMutex());
  if (std::shared_ptr<AudioDevice> existing = SharedDevice().lock()) return existing;

  std::unique_ptr<AudioDevice> device(new AudioDevice());
  device->device_ = alcOpenDevice(nullptr);
  if (device->device_ == nullptr) return nullptr;
  device->context_ = alcCreateContext(device->device_, nullptr);
  if (device->context_ == nullptr || alcMakeContextCurrent(device->context_) != ALC_TRUE) {
    return nullptr;  // the destructor closes what was opened
  }
  ALCint rate = 0;
  alcGetIntegerv(device->device_, ALC_FREQUENCY, 1, &rate);
  device->mixRate_ = rate;
  if (alIsExtensionPresent("AL_SOFT_source_latency")) {
    device->getSourcei64v_ =
        reinterpret_cast<LPALGETSOURCEI64VSOFT>(alGetProcAddress("alGetSourcei64vSOFT"));
  }
  // The last release closes the device under the mutex, so a new Acquire
  // never opens a second device while the old one is still closing.
  std::shared_ptr<AudioDevice> shared(device.release(), [](AudioDevice *closing) {
    std::lock_guard<std::mutex> closeLock(SharedMutex());
    delete closing;
  });
  SharedDevice() = shared;
  return shared;
}

AudioDevice::~AudioDevice() {
  if (context_ != nullptr) {
    if (alcGetCurrentContext() == context_) alcMakeContextCurrent(nullptr);
    alcDestroyContext(context_);
  }
  if (device_ != nullptr) alcCloseDevice(device_);
}

void AudioDevice::SourceOffsetAndLatency(ALuint source, int64_t *frames,
                                         int64_t *latencyNs) const {
  if (getSourcei64v_ != nullptr) {
    ALint64SOFT values[2] = {0, 0};
    getSourcei64v_(source, AL_SAMPLE_OFFSET_LATENCY_SOFT, values);
    *frames = values[0] >> 32;  // 32.32 fixed point
    *latencyNs = values[1];
    return;
  }
  ALint offset = 0;
  alGetSourcei(source, AL_SAMPLE_OFFSET, &offset);
  *frames = offset;
  *latencyNs = 0;
}

}  // namespace mediagraph
