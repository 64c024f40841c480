#include "mediagraph/audio/audio_device.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "mediagraph/clock/system_clock.h"
#include "platform/host/background_thread.h"
#include "platform/host/exit_deadline.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

namespace {

// The library's state, never destroyed: streaming threads may still use it
// while the process's static objects go.
struct Shared {
  std::mutex mutex;
  // Guarded by `mutex`. `current` expires when the last holder releases;
  // `kept` owns the device until it has been idle for kLinger; `open` is the
  // device whose handles are open (null once closed).
  std::weak_ptr<AudioDevice> current;
  std::shared_ptr<AudioDevice> kept;
  AudioDevice *open = nullptr;
  int opens = 0;
  bool exitHandlerSet = false;
  // The closer: idle since `idleSince` while `idle`; runs while a device is
  // kept.
  std::condition_variable idleChanged;
  std::chrono::steady_clock::time_point idleSince;
  bool idle = false;
  bool closerRunning = false;
  // The exit gate: a user counts itself in, then looks at `closed`; the exit
  // handler sets `closed`, then waits for the count to drop. Both sequentially
  // consistent, so at least one of the two sees the other.
  std::atomic<int> users{0};
  std::atomic<bool> closed{false};
  // The opener: `opening` until it has tried. Guarded by `mutex`.
  bool opening = false;
  std::condition_variable opened;
  // Sources mixing, and since when none has; whether the device is paused.
  // Guarded by `mutex`; the closer pauses it (idleChanged).
  int mixing = 0;
  std::chrono::steady_clock::time_point unmixedSince;
  bool paused = false;
};

Shared &State() {
  static Shared *const state = new Shared;
  return *state;
}


// How long the device stays open with nobody holding it. Opening it costs a
// load milliseconds (the context's buffers are fresh memory), and a game
// often loads its next movie right after releasing one.
constexpr auto kLinger = std::chrono::seconds(3);

// Looks a millisecond apart at a device just opened, to see a mix happen.
constexpr int kLooksToLearn = 100;

// How long the device goes on mixing with no source of ours playing: a
// game's pause and play should not restart it, an idle movie should not
// keep it awake.
constexpr auto kPauseAfter = std::chrono::milliseconds(250);

// Starts `run(argument)` on a thread of ordinary scheduling, whatever its
// starter's: OpenAL's own threads, started there, take that policy. False when
// no thread could be made.
bool StartOrdinaryThread(void *(*run)(void *), void *argument, bool detached,
                         pthread_t *thread) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  sched_param ordinary{};
  pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
  pthread_attr_setschedpolicy(&attributes, SCHED_OTHER);
  pthread_attr_setschedparam(&attributes, &ordinary);
  if (detached) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  const bool started = pthread_create(thread, &attributes, run, argument) == 0;
  pthread_attr_destroy(&attributes);
  return started;
}

void SetExitHandler(Shared &state, void (*handler)()) {
  if (state.exitHandlerSet) return;
  // Runs before OpenAL's own teardown, which comes with the unloading of
  // its library at the very end of the exit.
  state.exitHandlerSet = std::atexit(handler) == 0;
}

// Closes the kept device once it has been idle for kLinger, then ends; also
// ends at exit.
void CloseWhenIdle() {
  NameThisThread("cl-audio-close");
  RunAsBackgroundThread();
  GiveWayToStarter();
  Shared &state = State();
  const auto ending = [&state] { return state.closed.load(); };
  std::unique_lock<std::mutex> lock(state.mutex);
  while (state.kept && !ending()) {
    const bool unmixed = state.mixing == 0 && !state.paused;
    if (!state.idle && !unmixed) {
      state.idleChanged.wait(lock, [&] {
        return state.idle || (state.mixing == 0 && !state.paused) || ending();
      });
      continue;
    }
    const auto pauseAt = unmixed ? state.unmixedSince + kPauseAfter
                                 : std::chrono::steady_clock::time_point::max();
    const auto closeAt = state.idle ? state.idleSince + kLinger
                                    : std::chrono::steady_clock::time_point::max();
    const auto mixing = state.mixing;
    const bool idle = state.idle;
    if (state.idleChanged.wait_until(lock, std::min(pauseAt, closeAt), [&] {
          return state.mixing != mixing || state.idle != idle || ending();
        })) {
      continue;  // taken again, or the exit handler closes it
    }
    const auto now = std::chrono::steady_clock::now();
    if (unmixed && now >= pauseAt && state.kept) state.kept->PauseMixing();
    if (!idle || now < closeAt) continue;
    state.idle = false;
    if (state.open == state.kept.get()) state.open = nullptr;
    // Closing under the mutex: a new Acquire never opens a second device
    // while this one is still closing.
    state.kept.reset();
  }
  state.closerRunning = false;
}

// A holder's handle to the kept device: the last one to go starts the idle
// time.
std::shared_ptr<AudioDevice> Handle(Shared &state) {
  state.idle = false;
  std::shared_ptr<AudioDevice> handle(state.kept.get(), [](AudioDevice *) {
    Shared &releasing = State();
    std::lock_guard<std::mutex> lock(releasing.mutex);
    releasing.idle = true;
    releasing.idleSince = std::chrono::steady_clock::now();
    releasing.idleChanged.notify_all();
  });
  state.current = handle;
  return handle;
}

// ALC_EXT_thread_local_context, found at the first open (under the mutex,
// before any device is handed out).
PFNALCGETTHREADCONTEXTPROC getThreadContext = nullptr;
PFNALCSETTHREADCONTEXTPROC setThreadContext = nullptr;

bool FindThreadContexts(ALCdevice *device) {
  if (setThreadContext != nullptr) return true;
  if (alcIsExtensionPresent(device, "ALC_EXT_thread_local_context") != ALC_TRUE) return false;
  getThreadContext = reinterpret_cast<PFNALCGETTHREADCONTEXTPROC>(
      alcGetProcAddress(device, "alcGetThreadContext"));
  setThreadContext = reinterpret_cast<PFNALCSETTHREADCONTEXTPROC>(
      alcGetProcAddress(device, "alcSetThreadContext"));
  return getThreadContext != nullptr && setThreadContext != nullptr;
}

// Makes `context` the calling thread's own; false (and nothing changed) when
// it already is, or OpenAL refuses.
bool SwitchThreadContext(ALCcontext *context, ALCcontext **previous) {
  *previous = getThreadContext();
  return *previous != context && setThreadContext(context) == ALC_TRUE;
}

}  // namespace

AudioDevice::Access::Access(const AudioDevice &device) : open_(true) {
  Shared &state = State();
  state.users.fetch_add(1);
  if (state.closed.load()) {
    state.users.fetch_sub(1);
    open_ = false;
    return;
  }
  switched_ = SwitchThreadContext(device.context_, &previous_);
}

AudioDevice::Access::~Access() {
  if (!open_) return;
  if (switched_) setThreadContext(previous_);
  State().users.fetch_sub(1);
}

std::shared_ptr<AudioDevice> AudioDevice::Acquire() {
  Shared &state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  if (state.closed.load()) return nullptr;
  if (state.current.expired() && !state.kept && !state.opening) {
    StartOpener();
    if (!state.opening) return Open();  // no thread: here, then
  }
  state.opened.wait(lock, [&state] { return !state.opening; });
  if (state.closed.load()) return nullptr;
  // The opener's handle while it holds one: one count for every holder.
  if (std::shared_ptr<AudioDevice> existing = state.current.lock()) return existing;
  return state.kept ? Handle(state) : nullptr;
}

void AudioDevice::StartOpener() {
  Shared &state = State();
  // Before the thread: an exit while it opens waits for the open, then
  // closes the device, before OpenAL tears itself down.
  SetExitHandler(state, [] { CloseForExit(); });
  // The device's mixing thread, started by the open, inherits its policy.
  pthread_t thread;
  state.opening = StartOrdinaryThread(&AudioDevice::OpenAndWatch, nullptr, true, &thread);
}

void *AudioDevice::OpenAndWatch(void *) {
  NameThisThread("cl-audio");
  Shared &state = State();
  std::shared_ptr<AudioDevice> held;
  {
    // Held while it opens: an Acquire waits for this device rather than
    // opening another, and the exit handler for the open to end.
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.closed.load()) held = Open();
    state.opening = false;
    state.opened.notify_all();
  }
  if (!held) return nullptr;
  // Watched closely until a mix is seen as it happens (a period or two), so
  // that the first movie's run starts on one of the device's blocks.
  RunInBufferedTurns();
  for (int look = 0; look < kLooksToLearn && !held->Timeline(nullptr, nullptr); ++look) {
    {
      const Access access(*held);
      int64_t clockNs = 0;
      int64_t latencyNs = 0;
      if (!access || !held->ClockAndLatency(&clockNs, &latencyNs)) break;
      held->NoteClock(SystemClock::Now(), clockNs, latencyNs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  held.reset();  // takes the mutex: the last holder starts the idle time
  return nullptr;
}

std::shared_ptr<AudioDevice> AudioDevice::Open() {
  Shared &state = State();
  SetExitHandler(state, [] { CloseForExit(); });
  std::unique_ptr<AudioDevice> device(new AudioDevice());
  device->device_ = alcOpenDevice(nullptr);
  if (device->device_ == nullptr) return nullptr;
  // Without thread-local contexts ours would have to be the whole process's.
  if (!FindThreadContexts(device->device_)) return nullptr;  // the destructor closes it
  device->context_ = alcCreateContext(device->device_, nullptr);
  if (device->context_ == nullptr) return nullptr;
  ALCint rate = 0;
  alcGetIntegerv(device->device_, ALC_FREQUENCY, 1, &rate);
  device->mixRate_ = rate;
  ALCint refresh = 0;
  alcGetIntegerv(device->device_, ALC_REFRESH, 1, &refresh);
  device->mixesPerSecond_ = std::max(0, refresh);
  {
    const Access access(*device);
    if (access && alIsExtensionPresent("AL_SOFT_source_latency")) {
      device->getSourcei64v_ =
          reinterpret_cast<LPALGETSOURCEI64VSOFT>(alGetProcAddress("alGetSourcei64vSOFT"));
      // A device that writes a file (OpenAL's wave writer) starts the file
      // again when it resumes: it keeps mixing, silence included.
      const ALCchar *name = alcGetString(device->device_, ALC_ALL_DEVICES_SPECIFIER);
      const bool writesFile = name != nullptr && std::strstr(name, "Wave File Writer") != nullptr;
      if (!writesFile && alcIsExtensionPresent(device->device_, "ALC_SOFT_pause_device")) {
        device->pauseDevice_ = reinterpret_cast<LPALCDEVICEPAUSESOFT>(
            alcGetProcAddress(device->device_, "alcDevicePauseSOFT"));
        device->resumeDevice_ = reinterpret_cast<LPALCDEVICERESUMESOFT>(
            alcGetProcAddress(device->device_, "alcDeviceResumeSOFT"));
      }
      if (alcIsExtensionPresent(device->device_, "ALC_SOFT_device_clock")) {
        device->getDeviceInteger64v_ = reinterpret_cast<LPALCGETINTEGER64VSOFT>(
            alcGetProcAddress(device->device_, "alcGetInteger64vSOFT"));
      }
    }
  }
  state.kept = std::move(device);
  state.open = state.kept.get();
  state.mixing = 0;
  state.paused = false;
  state.unmixedSince = std::chrono::steady_clock::now();
  ++state.opens;
  if (!state.closerRunning) {
    try {
      std::thread(CloseWhenIdle).detach();
      state.closerRunning = true;
    } catch (const std::system_error &) {
      // No thread: the device stays open until the process ends.
    }
  }
  return Handle(state);
}

int AudioDevice::Opens() {
  Shared &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.opens;
}

void AudioDevice::CloseForExit() {
  Shared &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.closed.store(true);
  state.idleChanged.notify_all();
  // A call stuck inside OpenAL must not hang the exit; the device then stays open.
  const auto giveUp = ExitDeadline();
  while (state.users.load() != 0) {
    if (std::chrono::steady_clock::now() > giveUp) return;
    std::this_thread::yield();
  }
  if (state.open != nullptr) state.open->Close();
  state.open = nullptr;
}

AudioDevice::~AudioDevice() { Close(); }

void AudioDevice::Close() {
  // Destroying the context also deletes the sources and buffers still in it.
  if (context_ != nullptr) alcDestroyContext(context_);
  context_ = nullptr;
  if (device_ != nullptr) alcCloseDevice(device_);
  device_ = nullptr;
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

bool AudioDevice::SourceOffsetAndClock(ALuint source, int64_t *frames, int64_t *clockNs) const {
  if (getDeviceInteger64v_ == nullptr || getSourcei64v_ == nullptr) return false;
  ALint64SOFT values[2] = {0, 0};
  getSourcei64v_(source, AL_SAMPLE_OFFSET_CLOCK_SOFT, values);
  *frames = values[0] >> 32;  // 32.32 fixed point
  *clockNs = values[1];
  return true;
}

void AudioDevice::Mixing(bool starts) {
  Shared &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!starts) {
    if (--state.mixing == 0) {
      state.unmixedSince = std::chrono::steady_clock::now();
      state.idleChanged.notify_all();
    }
    return;
  }
  if (state.mixing++ > 0 || !state.paused) {
    state.idleChanged.notify_all();
    return;
  }
  state.paused = false;
  if (resumeDevice_ == nullptr || state.closed.load()) return;
  // The resume starts the device's mixing thread, which takes the policy of
  // the thread that starts it: an ordinary one.
  pthread_t thread;
  if (StartOrdinaryThread(&AudioDevice::Resume, this, false, &thread)) {
    pthread_join(thread, nullptr);
  } else {
    resumeDevice_(device_);  // mixing on this thread's policy beats silence
  }
  {
    std::lock_guard<std::mutex> timeline(timelineMutex_);
    timeline_ = MixTimeline();
    periodNs_ = 0;
    heardOffset_ = 0;
    blockNs_ = 0;
  }
  ++restarts_;
}

void *AudioDevice::Resume(void *device) {
  auto *const self = static_cast<AudioDevice *>(device);
  self->resumeDevice_(self->device_);
  return nullptr;
}

void AudioDevice::PauseMixing() {
  if (pauseDevice_ == nullptr || State().closed.load()) return;
  pauseDevice_(device_);
  State().paused = true;
}

void AudioDevice::NoteClock(int64_t now, int64_t clockNs, int64_t latencyNs) {
  std::lock_guard<std::mutex> lock(timelineMutex_);
  timeline_.Note(now, clockNs, latencyNs);
  if (!timeline_.Known() || timeline_.PeriodNs() <= 0) return;
  heardOffset_ = timeline_.HeardAt(0);
  blockNs_ = timeline_.LatestNs();
  periodNs_ = timeline_.PeriodNs();
}

bool AudioDevice::Timeline(int64_t *heardOffset, int64_t *periodNs, int64_t *blockNs) const {
  const int64_t period = periodNs_;  // published last
  if (period <= 0) return false;
  if (heardOffset != nullptr) *heardOffset = heardOffset_;
  if (periodNs != nullptr) *periodNs = period;
  if (blockNs != nullptr) *blockNs = blockNs_;
  return true;
}

bool AudioDevice::ClockAndLatency(int64_t *clockNs, int64_t *latencyNs) const {
  if (getDeviceInteger64v_ == nullptr) return false;
  ALCint64SOFT values[2] = {0, 0};
  getDeviceInteger64v_(device_, ALC_DEVICE_CLOCK_LATENCY_SOFT, 2, values);
  *clockNs = values[0];
  *latencyNs = values[1];
  return true;
}

}  // namespace mediagraph
