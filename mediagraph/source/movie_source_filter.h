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
//   Pause from Stopped starts a session at the current position; Stop ends
//   it and joins its threads. A seek while not stopped ends the session with
//   a flush downstream, repositions, sends NewSegment and starts a new one:
//   while running at the stream time reached, so that the clock runs on and
//   the new segment's first sample is due at once. While stopped a seek only
//   records the position.
//
// Locks and threads: the filter lock (also the pin lock) serialises state
// changes, seeking and connection, made by one thread at a time (the graph's
// worker, or the thread that builds the graph). The streaming threads never
// take it: they see the session through what StartSession handed them, and
// raise events without a lock. So joining them under the filter lock cannot
// deadlock, provided downstream lets the video thread go (the graph stops
// renderers before sources; a seek flushes first).
//
// The position lock guards only the positions. Position queries take it
// alone, because they arrive from downstream on the streaming thread with
// the renderer's locks held (its end-of-stream asks for the stop position),
// and from the application's thread while the worker may hold the filter
// lock and wait for that renderer. Order: filter lock, then position lock;
// nothing is called with the position lock held.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "filterbase/base_filter.h"
#include "filterbase/critical_lock.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"
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

  // --- for the pin's IMediaSeeking (the graph's worker; queries any thread)
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
    bool SegmentShown() const override;
    void SetLooping(bool looping) override;

   private:
    CMovieSourceFilter *const filter;
  };

  // With the filter lock. loopEnd: a loop; the stream time at which the pass
  // before it ends.
  void StartSession(REFERENCE_TIME loopEnd = 0);
  // flush: the filter is active and downstream may hold the video thread, so
  // BeginFlush/EndFlush around the join. keepSoundStart: a loop; the sound may
  // keep the movie's start it queued after the end.
  void EndSession(bool flush, bool keepSoundStart = false);
  // Joins the threads, ends the flush of `flushed` (null: none) and lets the
  // transport go.
  void JoinSession(IPin *flushed, bool keepSoundStart);

  CriticalLock lock;  // the filter lock and the pin lock
  const std::unique_ptr<MovieFile> file;
  // --- with the filter lock
  CVideoOutputPin pin;
  SourceHandle handle;
  PacketBuffer buffer;
  PacketReader reader;
  VideoStreamer video;
  std::unique_ptr<SoundStreamer> sound;  // null without sound
  const bool hasAudioStream;
  // The running session's transport, one reference each (null without video).
  IMemAllocator *sessionAllocator;
  IMemInputPin *sessionInput;
  bool fileAtStart;  // nothing read since the file was opened
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
