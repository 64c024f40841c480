// The library's one OpenAL device and context, shared by every movie that
// plays sound. The first Acquire opens them; they close a few
// seconds after the last holder lets go (unless it is taken again meanwhile),
// or when the process ends, whichever comes first.
//
// The game may have an OpenAL context of its own, current for the whole
// process. Ours is never made so: every OpenAL call of ours is made inside an
// Access, which makes our context the calling thread's own
// (ALC_EXT_thread_local_context) and gives the thread back what it had.
//
// Movie records live for the whole process, and so may their sound and its
// streaming thread. At exit OpenAL would tear itself down under a thread still
// calling it, so the device closes first, from an exit handler: every OpenAL
// call of a sound user is made inside an Access, the handler waits for the
// calls in flight and closes the device, and later Accesses make no call.
//
// Thread-safe: Acquire, the release of the last holder and the exit handler
// serialise on a mutex; OpenAL's own calls are thread-safe.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include "mediagraph/audio/mix_timeline.h"

namespace mediagraph {

class AudioDevice {
 public:
  // The shared device, opening it (on a thread of its own) if nobody holds
  // it, and waiting for that. Null when there is no sound device, OpenAL
  // refuses or has no thread-local contexts (the caller then plays no
  // sound), and once the process is ending.
  static std::shared_ptr<AudioDevice> Acquire();
  // How many times a device has been opened in this process.
  static int Opens();

  ~AudioDevice();
  AudioDevice(const AudioDevice &) = delete;
  AudioDevice &operator=(const AudioDevice &) = delete;

  ALCdevice *Device() const { return device_; }
  // Output rate of the device, in frames per second.
  int MixRate() const { return mixRate_; }
  // How many times a second the device mixes (0 when it does not say).
  int MixesPerSecond() const { return mixesPerSecond_; }

  // Reads a source's queue offset (frames) with the device's output latency
  // (ns) in one atomic step when the implementation offers it
  // (AL_SOFT_source_latency); otherwise the plain offset and latency 0.
  // Called inside an Access.
  void SourceOffsetAndLatency(ALuint source, int64_t *frames, int64_t *latencyNs) const;
  // The device's clock: ns of sound mixed since it opened, which is where
  // its next mix begins. Read with a source's queue offset (frames: what the
  // source gives that mix) or with the output latency (ns), each pair in one
  // atomic step. False where the implementation keeps no clock
  // (ALC_SOFT_device_clock). Called inside an Access.
  bool SourceOffsetAndClock(ALuint source, int64_t *frames, int64_t *clockNs) const;
  bool ClockAndLatency(int64_t *clockNs, int64_t *latencyNs) const;

  // When what the device mixes is heard (MixTimeline), learnt from every
  // reading of its clock a user notes: `now` (SystemClock::Now) taken after
  // the reading. Any thread.
  void NoteClock(int64_t now, int64_t clockNs, int64_t latencyNs);
  // The heard time of device time 0 (100 ns, monotonic), the mixing period
  // (ns) and the device time of a block's start (ns); false until a mix has
  // been seen as it happened. Any thread, without a lock: the game's thread
  // asks when it starts a run, and a mixing thread waiting for a core must
  // not hold it up.
  bool Timeline(int64_t *heardOffset, int64_t *periodNs, int64_t *blockNs = nullptr) const;

  // A source of ours starts or stops mixing. The device mixes only while one
  // does, or for kPauseAfter after the last stopped: an idle device's mixing
  // thread would wake every period for nothing. Started again (on a thread of
  // ordinary scheduling, for the mixing thread it makes), its clock has stood
  // still: its timeline is learnt afresh. Any thread; pairs of calls.
  void Mixing(bool starts);
  // How often the device was started again after a pause. Any thread.
  int Restarts() const { return restarts_.load(); }
  // The device stops mixing (kept open). The closer's, with the library's
  // device mutex held.
  void PauseMixing();

  // Scope of a sound user's OpenAL calls, on any thread: the device's context
  // is the thread's own meanwhile, and what the thread had before is back
  // after it. False once the process is ending: the device is closed (or
  // closing) and no OpenAL call may be made. Nests.
  class Access {
   public:
    explicit Access(const AudioDevice &device);
    ~Access();
    Access(const Access &) = delete;
    Access &operator=(const Access &) = delete;
    explicit operator bool() const { return open_; }

   private:
    bool open_;
    bool switched_ = false;
    ALCcontext *previous_ = nullptr;
  };

 private:
  AudioDevice() = default;
  // The opener, a thread of ordinary scheduling whatever its starter's, so
  // that OpenAL's mixing thread is one too; sets `opening` when it starts.
  // With the mutex held.
  static void StartOpener();
  static void *OpenAndWatch(void *);
  // Opens the device and keeps it, with the mutex held; the first handle.
  static std::shared_ptr<AudioDevice> Open();
  // The exit handler: closes the open device for good, after the OpenAL calls
  // in flight. Later Acquires give null, later Accesses false.
  static void CloseForExit();
  void Close();
  // The resume, on a thread of ordinary scheduling (`device`: this).
  static void *Resume(void *device);

  ALCdevice *device_ = nullptr;
  ALCcontext *context_ = nullptr;
  int mixRate_ = 0;
  int mixesPerSecond_ = 0;
  LPALGETSOURCEI64VSOFT getSourcei64v_ = nullptr;
  LPALCGETINTEGER64VSOFT getDeviceInteger64v_ = nullptr;  // with the device clock only
  LPALCDEVICEPAUSESOFT pauseDevice_ = nullptr;    // where it can pause (ALC_SOFT_pause_device)
  LPALCDEVICERESUMESOFT resumeDevice_ = nullptr;
  std::atomic<int> restarts_{0};
  std::mutex timelineMutex_;
  MixTimeline timeline_;  // guarded by timelineMutex_
  // Published from it after every reading (0: not known). Read apart, they
  // may come from two readings, which agree on the blocks.
  std::atomic<int64_t> heardOffset_{0};
  std::atomic<int64_t> periodNs_{0};
  std::atomic<int64_t> blockNs_{0};
};

}  // namespace mediagraph
