// CMovieSourceFilter: the filter behind MovieSource. It owns the opened file,
// the video output pin, the decoders and the sound output, and runs one
// streaming session at a time: a demux thread (PacketReader) feeding a video
// thread (VideoStreamer) and an audio thread (SoundStreamer).
//
// Filter state and sessions:
//
//   Stopped --Pause--> Paused --Run--> Running
//      ^                 |               |
//      +------Stop-------+------Stop-----+
//
//   Pause from Stopped starts a session at the current position; Stop ends it:
//   the threads are told to end at once and joined by a retiring thread, so
//   that Stop does not wait for a picture being decoded; a Pause that comes
//   before they are joined has that thread start the next session as soon as
//   they are. A seek while not stopped ends the session with a
//   flush downstream, repositions, sends NewSegment and starts a new one:
//   while running at the stream time reached, so that the clock runs on and
//   the new segment's first sample is due at once (the joining and the new
//   start then happen on the retiring thread too). While stopped a seek only
//   records the position.
//
// Locks and threads: the filter lock (also the pin lock) serialises state
// changes, seeking and connection on the application thread. The streaming
// threads never take it: they see the session through what Start handed
// them, and raise events without a lock. So joining them under the filter
// lock cannot deadlock, provided downstream lets the video thread go (the
// graph stops renderers before sources; a seek flushes first).
//
// The session lock guards starting and ending sessions (the session fields
// below): the application thread takes it inside the filter lock, the
// retiring thread alone. Nobody waits for the retiring thread with it held,
// and the retiring thread never takes the filter lock (nor the pin lock, the
// same): a session it starts has its transport taken by whoever asked.
//
// The position lock guards only the positions. Position queries take it
// alone, because they arrive from downstream on the streaming thread with
// the renderer's locks held (its end-of-stream asks for the stop position)
// while the application thread may hold the filter lock and wait for that
// renderer. Order: filter lock, then position lock; nothing is called with
// the position lock held.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "filterbase/base_filter.h"
#include "filterbase/critical_lock.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"
#include "mediagraph/source/job_thread.h"
#include "mediagraph/source/movie_source.h"
#include "mediagraph/source/packet_reader.h"
#include "mediagraph/source/sound_streamer.h"
#include "mediagraph/source/video_output_pin.h"
#include "mediagraph/source/video_streamer.h"

namespace mediagraph {

// {6B0E7C52-3F1D-4A8E-9C27-5D4F1A0B8E63}
inline constexpr CLSID CLSID_MovieSource = {
    0x6B0E7C52, 0x3F1D, 0x4A8E, {0x9C, 0x27, 0x5D, 0x4F, 0x1A, 0x0B, 0x8E, 0x63}};

class CMovieSourceFilter final : public CBaseFilter {
 public:
  // Takes the opened file and the decoding parts; `sound` may be null. The
  // object starts with a count of 0.
  CMovieSourceFilter(std::unique_ptr<MovieFile> file, std::unique_ptr<StreamDecoder> video,
                     std::unique_ptr<StreamDecoder> audioDecoder,
                     std::unique_ptr<SoundResampler> resampler,
                     std::unique_ptr<SoundOutput> sound);
  ~CMovieSourceFilter() override;

  MovieSource *Handle() { return &handle; }
  CVideoOutputPin *VideoPin() { return &pin; }

  // --- CBaseFilter
  int PinCount() override { return 1; }
  CBasePin *PinAt(int index) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // --- for the pin's IMediaSeeking (application thread)
  REFERENCE_TIME Duration() const { return file->Duration(); }
  // Moves the current and stop positions (movie time, already checked by the
  // pin); restarts streaming when not stopped. A stop at or past the length
  // means the real end of the file.
  HRESULT SetPositions(REFERENCE_TIME current, REFERENCE_TIME stop);
  // The segment start and the stop (the length when playing to the end).
  // Position lock only: any thread.
  void Positions(REFERENCE_TIME *current, REFERENCE_TIME *stop) const;
  // The position of the picture last handed downstream, else the segment
  // start. Position lock only: any thread.
  REFERENCE_TIME CurrentPosition() const;

  // The sound's last heard movie time with the clock time it was heard at
  // (for measurements); false without sound or before it plays.
  bool LastHeard(REFERENCE_TIME *clockTime, REFERENCE_TIME *movieTime) const;

 private:
  // The MovieSource face of the filter, for the graph manager.
  class SourceHandle final : public MovieSource {
   public:
    explicit SourceHandle(CMovieSourceFilter *owner) : filter(owner) {}
    ULONG AddRef() override;
    ULONG Release() override;
    IBaseFilter *Filter() override;
    IPin *VideoPin() override;
    IMediaSeeking *Seeking() override;
    bool HasAudioStream() const override;
    bool HasSound() const override;
    HRESULT SetVolume(LONG level) override;
    HRESULT GetVolume(LONG *level) override;
    REFERENCE_TIME Duration() const override;
    REFERENCE_TIME StreamEnd() const override;
    REFERENCE_TIME SoundLatency() const override;
    REFERENCE_TIME EarliestStart(REFERENCE_TIME now, REFERENCE_TIME lead) const override;
    bool AwaitFirstPicture(DWORD milliseconds, REFERENCE_TIME within) override;
    bool FirstPictureUnderWay() const override;
    REFERENCE_TIME SegmentBase() const override;
    void SetLooping(bool looping) override;

   private:
    CMovieSourceFilter *const filter;
  };

  // Both with the session lock held (and the filter lock, but on the retiring
  // thread). loopEnd: a loop; the stream time at which the pass before it
  // ends. retiringThread: started there, with the transport
  // AskStartAfterRetiring took.
  void StartSession(REFERENCE_TIME loopEnd = 0, bool retiringThread = false);
  // flush: the filter is active and downstream may hold the video thread, so
  // BeginFlush/EndFlush around the join. keepSoundStart: a loop; the sound may
  // keep the movie's start it queued after the end.
  void EndSession(bool flush, bool keepSoundStart = false);
  // With the filter lock and `session` (the session lock, given up here):
  // tells the session's threads to end and hands their joining to the
  // retiring thread, which then starts a session at the current position when
  // `restart` (a seek while running; loopEnd as for StartSession). flush:
  // downstream is active (see EndSession).
  void RetireSession(std::unique_lock<std::mutex> *session, bool flush, bool keepSoundStart,
                     bool restart, REFERENCE_TIME loopEnd);
  // With the filter lock: starts a session, or has the retiring thread start it
  // once the last one is joined.
  void StartWhenRetired();
  // The retiring thread: joins, ends the flush of `flushed` (one reference,
  // released here; null without a flush), then starts the session asked for
  // meanwhile.
  void FinishRetiring(IPin *flushed, bool keepSoundStart);
  // With the filter lock and the session lock: whether the retiring thread
  // starts a session when done, with the transport taken for it here.
  void AskStartAfterRetiring(bool start, REFERENCE_TIME loopEnd);
  // Waits for the last retiring job; never with the session lock held.
  void AwaitRetired();
  // With the session lock: joins the threads, ends the flush of `flushed`
  // (null: none) and lets the transport go.
  void JoinSession(IPin *flushed, bool keepSoundStart);

  CriticalLock lock;  // the filter lock and the pin lock
  const std::unique_ptr<MovieFile> file;
  // --- with the filter lock
  CVideoOutputPin pin;
  SourceHandle handle;
  JobThread retirer{"cl-retire"};  // retires one session at a time, off the caller's thread
  std::mutex sessionLock;
  // --- with sessionLock, or the retiring thread's while `retiring`
  bool retiring;
  bool startAfterRetiring;  // a Pause or a seek while running came while retiring
  REFERENCE_TIME restartLoopEnd;  // for that start
  IMemAllocator *nextAllocator;    // and its transport, one reference each
  IMemInputPin *nextInput;
  // Flushed by a Pause that came while retiring (one reference): a picture
  // the old video thread still hands over must not become the cued one.
  IPin *cueFlushed;
  PacketBuffer buffer;
  PacketReader reader;
  VideoStreamer video;
  std::unique_ptr<SoundStreamer> sound;  // null without sound
  const bool hasAudioStream;
  // The running session's transport, one reference each (null without video).
  IMemAllocator *sessionAllocator;
  IMemInputPin *sessionInput;
  bool fileAtStart;  // nothing read since the file was opened
  // --- with the filter lock
  bool loopHinted;   // told whether the movie loops: no guessing from seeks
  std::atomic<bool> looping;  // told so, or seen looping untold (read by StreamEnd)
  std::atomic<REFERENCE_TIME> segmentBase;  // of the last session started
  std::atomic<LONG> volume;  // hundredths of a decibel, kept also without sound

  mutable std::mutex positionLock;
  // --- with positionLock (written also under the filter lock)
  bool sessionActive;
  REFERENCE_TIME currentPosition;  // segment start of the next or running session
  REFERENCE_TIME stopPosition;     // kToTheEnd unless a stop was set
};

}  // namespace mediagraph
