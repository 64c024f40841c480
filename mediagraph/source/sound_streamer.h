// The audio thread: decodes the sound of one segment, converts it to 16-bit
// PCM and keeps a movie's OpenAL source fed a little ahead, following the
// graph clock:
//
//   - while paused it fills the source and holds it still;
//   - on Run it starts the source so that the sound of stream time t is heard
//     at run start + t, the device's output latency and mixing period
//     included: to the sample where the device's clock tells when its next
//     mix is heard (its MixTimeline), else to half a period (late sound is
//     skipped rather than played late);
//   - while running it compares what is heard with the clock and stretches or
//     shrinks the sound slightly to follow it (after a start, and once off by
//     more than 15 ms, until it is within 4 ms), or restarts the source in
//     step when it is far off;
//   - once the last sound of the segment has been heard while running, it
//     reports "played out" (once per run); kLoopAhead early where the
//     movie's start is queued behind it.
//
// A segment's sound counts from its start: sound that begins later is
// preceded by silence, and one that plays to the end of the file is followed
// by silence up to the picture's end (as the packet reader found it), so a
// pass lasts to the later of the two. Stream times count the movie's own
// frames: what a stretch added or took away is kept apart (added_).
//
// Loops: the first kStartKept of the movie's sound is kept as PCM once heard.
// Once the movie has looped (SetLooping), a segment that plays to the end of
// the file queues that start right after its end, so the source never runs
// dry there. If the next segment starts from the beginning in time,
// Stop(true) keeps it queued (CarriedFrom tells the stream time it stands
// for) and the next segment's sound goes on after it, trimmed of what is
// queued already: the stream goes on sample-exactly, with no silence.
// Otherwise it is dropped with the rest of the queue.
//
// Sound states of the thread (per session; Start begins in Holding):
//
//   Holding --Run, due time reached--> Playing --Pause--> Holding
//      ^                                  |
//      +---- far off the clock -----------+
//
// Threads: Start, Stop, Pause, Run and SetVolume are called by the filter on
// the graph's worker; the rest runs on the audio thread. The control
// fields are guarded by mutex_; the thread's own bookkeeping is touched by the
// audio thread only. Pause alone holds the source still itself, without
// waking the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mediagraph/audio/sound_output.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"
#include "mediagraph/decode/sound_resampler.h"
#include "mediagraph/decode/stream_decoder.h"
#include "mediagraph/source/packet_reader.h"
#include "mediagraph/source/segment.h"
#include "platform/media/media.h"

namespace mediagraph {

class SoundStreamer {
 public:
  // Called on the audio thread when the segment's sound has been heard.
  using PlayedOut = std::function<void()>;

  SoundStreamer(const MovieFile *file, std::unique_ptr<StreamDecoder> decoder,
                std::unique_ptr<SoundResampler> resampler, std::unique_ptr<SoundOutput> output,
                PlayedOut playedOut);
  ~SoundStreamer();
  SoundStreamer(const SoundStreamer &) = delete;
  SoundStreamer &operator=(const SoundStreamer &) = delete;

  // Starts the thread on a fresh segment, holding still until Run; `reader`
  // (kept, may be null) tells where the picture ends.
  void Start(PacketBuffer *buffer, const PacketReader *reader, const Segment &segment);
  // Ends the thread (abort the packet buffer first if it may be waiting for
  // packets) and forgets everything queued; with `keepStart`, except the start
  // of the movie queued after the end, if enough of it is still to be heard.
  void Stop(bool keepStart = false);
  // After Stop(true): whether the start was kept, and the stream time of the
  // movie's start it stands for (a segment from the start goes on there).
  bool CarriedFrom(REFERENCE_TIME *base) const;
  // Whether the movie loops: its start is queued after its end while it does.
  // Told it does not after that, the thread takes the start off the queue
  // again, or silences it if it is being heard already, so that an end that
  // is not followed by a loop stays silent. Any thread.
  void SetLooping(bool looping);

  // The graph pauses: hold the sound where it is.
  void Pause();
  // The graph runs: stream time 0 falls on `start` of `clock` (a reference is
  // kept). Without a clock the sound plays at once, free-running.
  void Run(IReferenceClock *clock, REFERENCE_TIME start);

  void SetVolume(LONG level);

  // What was heard at the last check: movie time heard at clock time
  // `clockTime`. False before any sound has been heard in this run.
  bool LastHeard(REFERENCE_TIME *clockTime, REFERENCE_TIME *movieTime) const;

  // Stream time at which the sound staged so far ends (the segment's base
  // before any). Any thread.
  REFERENCE_TIME End() const { return end_.load(); }
  // The movie's start is queued behind the end of its sound: a loop follows,
  // and the end of this segment is the start of the next. Any thread.
  bool ContinuesIntoStart() const { return continued_.load() > 0; }
  // The device's output latency as last measured (0 before). Any thread.
  REFERENCE_TIME OutputLatency() const { return outputLatency_.load(); }
  // The earliest run start, on the clock that reads `now`, that leaves the
  // thread `lead` to start the sound: `lead` plus the latency from now, or
  // where the device's mixes are known, when the first mix it can still
  // join is heard (up to a period sooner), so that the sound starts on time
  // with nothing skipped. Any thread.
  REFERENCE_TIME EarliestStart(REFERENCE_TIME now, REFERENCE_TIME lead) const;

  // How far ahead of the sound heard the source is kept fed.
  static constexpr REFERENCE_TIME kLead = 2000000;  // 200 ms
  // How much of the movie's start is kept for loops: enough to bridge a game
  // that checks for the end only now and then, and the restart after it.
  static constexpr REFERENCE_TIME kStartKept = 2500000;  // 250 ms

 private:
  void Stream(PacketBuffer *buffer, Segment segment);

  // --- audio thread only
  // Decodes until the source is fed kLead ahead or no packet is waiting.
  // False when the buffer was aborted.
  bool Feed(PacketBuffer *buffer, const Segment &segment);
  // Appends one decoded frame's PCM to the staging area, trimmed to the
  // segment, after silence where the sound begins later than it should.
  void Stage(const AVFrame *frame, const Segment &segment);
  // Stages what the resampler still holds once the decoder is drained.
  void StageRest(const Segment &segment);
  // The stream time a decoded frame starts at: counted on from the last frame
  // where its stamp is that close, moved to the pass's start by shift_.
  REFERENCE_TIME FrameTime(const AVFrame *frame, const Segment &segment);
  // A pass from the start: its first frame at the time the same stamp had
  // in the pass that kept the movie's start; that pass's frames noted.
  REFERENCE_TIME SameAsBefore(REFERENCE_TIME stamp, REFERENCE_TIME time,
                              const Segment &segment);
  // Stream time where the segment's sound ends (kToTheEnd: where it does).
  REFERENCE_TIME StreamStop(const Segment &segment) const;
  // Append, of no more than the segment's (or the sound's) end leaves room for.
  void AppendUpToStop(const int16_t *pcm, int64_t frames, const Segment &segment);
  // Stages `frames` frames of `pcm` (null: silence), keeping the movie's start.
  void Append(const int16_t *pcm, int64_t frames, const Segment &segment);
  // After the last sound of a segment that plays to the end: stages a piece
  // of the silence up to the picture's end; true once it is all staged.
  bool PadToEnd(const Segment &segment);
  // Hands staged PCM to the source once there is enough of it (or at the end).
  void Flush(bool all);
  // At the end of the file, when looping: queues the kept start after it.
  void QueueStart(const Segment &segment);
  // The movie no longer loops: takes back the start QueueStart queued.
  void DropStart();
  // Keeps the device's latency from a position that reports one (also called
  // by the constructor, before the thread exists).
  void NoteLatency(const SoundOutput::Position &position);
  // Stream time of the source's frame `frame` (staged or before): what the
  // stretches added is no part of the movie, what they took away is.
  REFERENCE_TIME TimeOf(int64_t frame) const;
  REFERENCE_TIME StagedEnd() const;  // stream time just after the last staged frame

  const MovieFile *const file_;
  const std::unique_ptr<StreamDecoder> decoder_;
  const std::unique_ptr<SoundResampler> resampler_;
  const std::unique_ptr<SoundOutput> output_;
  const PlayedOut playedOut_;
  std::thread thread_;
  std::atomic<REFERENCE_TIME> end_{0};
  std::atomic<bool> looping_{false};
  std::atomic<REFERENCE_TIME> outputLatency_{0};
  // Frames of the movie's start queued after the end; written by the audio
  // thread (and Start/Stop while it does not run).
  std::atomic<int64_t> continued_{0};

  mutable std::mutex mutex_;
  // --- guarded by mutex_
  std::condition_variable changed_;  // wakes the thread on any control change
  bool stopping_ = false;
  long streamThread_ = 0;  // the thread's system id while it runs, else 0
  bool running_ = false;
  IReferenceClock *clock_ = nullptr;  // one reference
  REFERENCE_TIME runStart_ = 0;
  uint64_t runSerial_ = 0;  // bumped by every Run
  bool heard_ = false;
  REFERENCE_TIME heardClock_ = 0;
  REFERENCE_TIME heardMovie_ = 0;

  // --- audio thread only (reset by Start)
  const PacketReader *reader_ = nullptr;
  std::vector<int16_t> converted_;  // one frame's PCM
  std::vector<int16_t> staging_;    // PCM not yet handed to the source
  bool haveOrigin_ = false;
  REFERENCE_TIME origin_ = 0;  // stream time of the source's frame 0
  int64_t staged_ = 0;         // frames staged or queued since the origin
  // Frames the resampler's stretches added (taken away, when negative) to
  // what is staged since the origin: no part of the movie's time.
  int64_t added_ = 0;
  FramePtr frame_;
  bool draining_ = false;      // the decoder was told the stream ended
  bool decoded_ = false;       // the decoder is drained (or the stop was reached)
  REFERENCE_TIME latency_ = 0;  // device output latency, 100 ns
  REFERENCE_TIME trimUntil_ = 0;  // sound stamped before this stream time is dropped
  bool padded_ = false;         // silence up to the picture's end is staged
  int64_t padding_ = 0;         // frames of it staged so far
  // Where the frames since countFrom_ (stream time) began, and how many
  // samples at countRate_ they held.
  bool counting_ = false;
  REFERENCE_TIME countFrom_ = 0;
  int64_t countedSamples_ = 0;
  int countRate_ = 0;
  // How much earlier than stamped the movie's sound is staged (kSeamSlack),
  // from its first sound; kept for good.
  bool shiftKnown_ = false;
  REFERENCE_TIME shift_ = 0;
  // The frames of the movie's kept start: each stamp (movie time) and where
  // it was staged from the pass's start. Reserved once.
  struct StampAt {
    REFERENCE_TIME stamp;
    REFERENCE_TIME offset;
  };
  static constexpr size_t kStampsKept = 256;
  std::vector<StampAt> startStamps_;
  // The movie's first sound from its very start (silence before a late
  // sound), kept across sessions.
  std::vector<int16_t> start_;
  // How far the sound is off the clock, and the stretch that brings it back.
  // Kept across a restart that carries the sound on (a loop): judged afresh
  // each pass, with the stretch dropped along with the resampler's input, a
  // loop shorter than a judgement (a second or two) kept its start's error
  // for good (10 ms late, pass after pass, on a 1 s loop).
  static constexpr int kErrorWindow = 8;  // checks judged together
  struct Sync {
    REFERENCE_TIME errors[kErrorWindow] = {};
    int checks = 0;           // errors measured since the source last started
    bool correcting = false;  // started, or off by more than kNearEnough, since on time
    REFERENCE_TIME nextCheck = 0;
    REFERENCE_TIME compensatedUntil = 0;
    int64_t stretchLeft = 0;  // frames the stretch asked has yet to add (< 0: take)
    bool resumeStretch = false;  // once the new pass's sound is joined
  };
  Sync sync_;
  static constexpr int kLearningLooks = 250;
  int learning_ = kLearningLooks;  // close looks left to see a mix by (the device's timeline)
  int deviceRestarts_ = 0;         // the device's restarts when learning_ was last filled
  // --- the graph's worker, between Stop and Start
  bool carried_ = false;
  bool syncCarried_ = false;  // for the next thread: sync_ goes on
  REFERENCE_TIME carriedFrom_ = 0;
};

}  // namespace mediagraph
