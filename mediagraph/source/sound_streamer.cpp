#include "mediagraph/source/sound_streamer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "mediagraph/clock/system_clock.h"
#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
// Sound stamped this far from where the previous frame ended is a real gap
// (filled with silence) or overlap (dropped); less is stamp jitter.
constexpr REFERENCE_TIME kGapTolerance = 400000;   // 40 ms
constexpr REFERENCE_TIME kLongestGap = 10000000;   // 1 s of silence at most
constexpr REFERENCE_TIME kLongestLead = 100000000; // before the first sound, 10 s
// Heard this far off the clock, the source restarts in step; closer, the
// sound is stretched or shrunk by at most 0.5 % until it is back.
constexpr REFERENCE_TIME kFarOff = 600000;         // 60 ms
constexpr REFERENCE_TIME kNearEnough = 150000;     // 15 ms
// Once correcting, the sound is brought this close before it is left alone.
constexpr REFERENCE_TIME kOnTime = 40000;          // 4 ms
constexpr REFERENCE_TIME kCheckEvery = 1000000;    // 100 ms
// Late by less than this at the start is not worth skipping.
constexpr REFERENCE_TIME kSkipAbove = 20000;       // 2 ms
// How far the timeline may put the next block's sound from where the
// latency alone puts it, beyond two mixing periods.
constexpr REFERENCE_TIME kPlausible = 100000;      // 10 ms
// Containers stamp sound coarsely (Matroska to the millisecond): a frame
// stamped this close to where the last one ended follows it sample-exactly.
constexpr REFERENCE_TIME kStampJitter = 20000;     // 2 ms
// A pass's sound that starts this little after the pass (Vorbis's first
// packet gives none; Opus skips its first samples) or ends this little before
// its picture (containers round each stream's start) starts and ends with the
// pass: a loop joins it to the next without silence.
constexpr REFERENCE_TIME kSeamSlack = 100000;      // 10 ms
// Sound decoded past the picture's end by no more than this, where the
// container cannot tell where the sound ends, is the encoder's padding.
constexpr REFERENCE_TIME kMostPadding = 1000000;   // 100 ms

std::chrono::milliseconds Millis(REFERENCE_TIME units) {
  return std::chrono::milliseconds(std::max<REFERENCE_TIME>(0, units / 10000));
}

}  // namespace

SoundStreamer::SoundStreamer(const MovieFile *file, std::unique_ptr<StreamDecoder> decoder,
                             std::unique_ptr<SoundResampler> resampler,
                             std::unique_ptr<SoundOutput> output, PlayedOut playedOut)
    : file_(file),
      decoder_(std::move(decoder)),
      resampler_(std::move(resampler)),
      output_(std::move(output)),
      playedOut_(std::move(playedOut)),
      frame_(MakeFrame()) {
  startStamps_.reserve(kStampsKept);
  // Known from the start: the graph may pick a run's start time before the
  // thread has looked at the device.
  NoteLatency(output_->GetPosition());
}

void SoundStreamer::NoteLatency(const SoundOutput::Position &position) {
  if (position.latencyNs > 0) latency_ = position.latencyNs / 100;
  outputLatency_ = latency_;
}

SoundStreamer::~SoundStreamer() {
  Stop();
  if (clock_ != nullptr) clock_->Release();
}

void SoundStreamer::Start(PacketBuffer *buffer, const PacketReader *reader,
                          const Segment &segment) {
  reader_ = reader;
  if (thread_.joinable()) Stop(false);
  staging_.clear();
  if (carried_) {
    // The start of the movie is queued already: the new segment's sound goes on
    // after it, and what the decoder gives of it again is trimmed.
    trimUntil_ = StagedEnd();
  } else {
    haveOrigin_ = false;
    origin_ = 0;
    staged_ = 0;
    added_ = 0;
    trimUntil_ = segment.base;
  }
  syncCarried_ = carried_;
  if (!carried_) sync_ = Sync{};
  // Under a millisecond left is not worth the resampler's filter.
  sync_.resumeStretch = std::abs(sync_.stretchLeft) * 1000 >= resampler_->Rate();
  carried_ = false;
  continued_ = 0;
  counting_ = false;
  draining_ = false;
  decoded_ = false;
  padded_ = false;
  padding_ = 0;
  end_ = segment.base;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    heard_ = false;
  }
  try {
    thread_ = std::thread(&SoundStreamer::Stream, this, buffer, segment);
  } catch (const std::system_error &) {
    // Silent: Run reports the sound played out at once.
  }
}

void SoundStreamer::Stop(bool keepStart) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Waited for at once: as a background thread it would wait for a core's
    // turn behind the decoders (5 ms at 4K), and the stop with it.
    MakeForegroundThread(streamThread_);
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    heard_ = false;
  }
  // Carried over only while enough of it is left to bridge the restart.
  carried_ = keepStart && continued_ > 0 && output_->PendingFrames() > resampler_->Rate() / 50;
  if (carried_) {
    carriedFrom_ = StagedEnd();
    staged_ += continued_;
  } else {
    output_->Reset();
  }
  continued_ = 0;
  decoder_->Flush();
  resampler_->Reset();
}

bool SoundStreamer::CarriedFrom(REFERENCE_TIME *base) const {
  if (carried_) *base = carriedFrom_;
  return carried_;
}

void SoundStreamer::Pause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = false;
  }
  // Held still from here: woken, the audio thread would take the caller's
  // core. It finds the pause at its next look, and a start it made since it
  // last looked is undone then.
  output_->Pause();
}

void SoundStreamer::Run(IReferenceClock *clock, REFERENCE_TIME start) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    runStart_ = start;
    running_ = true;
    ++runSerial_;
    changed_.notify_all();
  }
  // No thread to play it: the movie must still end.
  if (!thread_.joinable()) playedOut_();
}

void SoundStreamer::SetLooping(bool looping) {
  std::lock_guard<std::mutex> lock(mutex_);
  looping_ = looping;
  changed_.notify_all();
}

void SoundStreamer::SetVolume(LONG level) { output_->SetVolume(level); }

REFERENCE_TIME SoundStreamer::EarliestStart(REFERENCE_TIME now, REFERENCE_TIME lead) const {
  const REFERENCE_TIME latency = outputLatency_;
  const REFERENCE_TIME plain = now + lead + latency;
  int64_t offset = 0;
  int64_t periodNs = 0;
  int64_t blockNs = 0;
  if (latency <= 0 || !output_->Timeline(&offset, &periodNs, &blockNs)) return plain;
  // When one of the device's blocks is heard; the rest follow a period apart.
  const REFERENCE_TIME block = offset + blockNs / 100 + (now - SystemClock::Now());
  // The device mixes a block as its clock moves past the block's end: at
  // the block's heard time less the latency, plus a period. The first block
  // mixed `lead` from now or later, which is at most a period before `plain`:
  const REFERENCE_TIME earliest = plain - periodNs / 100;
  const int64_t gap = (earliest - block) * 100;
  int64_t blocks = gap / periodNs;  // rounded up, either sign
  if (blocks * periodNs < gap) ++blocks;
  return block + blocks * periodNs / 100;
}

bool SoundStreamer::LastHeard(REFERENCE_TIME *clockTime, REFERENCE_TIME *movieTime) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *clockTime = heardClock_;
  *movieTime = heardMovie_;
  return heard_;
}

REFERENCE_TIME SoundStreamer::TimeOf(int64_t frame) const {
  // Frames before the staged end were stretched as much or a little less:
  // off by a fraction of a millisecond at most.
  return origin_ + (frame - added_) * kUnitsPerSecond / resampler_->Rate();
}

REFERENCE_TIME SoundStreamer::StagedEnd() const { return TimeOf(staged_); }

void SoundStreamer::Append(const int16_t *pcm, int64_t frames, const Segment &segment) {
  const int channels = resampler_->Channels();
  const size_t samples = static_cast<size_t>(frames * channels);
  // The start of the movie, kept while it is staged without a break, for loops.
  if (segment.start == 0 && trimUntil_ == segment.base &&
      static_cast<int64_t>(start_.size()) == staged_ * channels &&
      staged_ < kStartKept * resampler_->Rate() / kUnitsPerSecond) {
    if (pcm != nullptr) {
      start_.insert(start_.end(), pcm, pcm + samples);
    } else {
      start_.resize(start_.size() + samples, 0);
    }
  }
  if (pcm != nullptr) {
    staging_.insert(staging_.end(), pcm, pcm + samples);
  } else {
    staging_.resize(staging_.size() + samples, 0);
  }
  staged_ += frames;
  end_ = StagedEnd();
}

void SoundStreamer::Stage(const AVFrame *frame, const Segment &segment) {
  converted_.clear();
  const int64_t heldBefore = resampler_->Delay();
  if (!resampler_->Convert(frame, &converted_)) return;
  const int channels = resampler_->Channels();
  const int64_t rate = resampler_->Rate();

  const REFERENCE_TIME time = FrameTime(frame, segment);
  // A stretch holds back a few frames in the resampler: the frame that
  // reaches the end brings them out, or the sound would end a little early.
  const REFERENCE_TIME stop = StreamStop(segment);
  if (stop != kToTheEnd && frame->sample_rate > 0 &&
      time + frame->nb_samples * kUnitsPerSecond / frame->sample_rate >= stop) {
    resampler_->Drain(&converted_);
  }
  const int64_t frames = static_cast<int64_t>(converted_.size()) / channels;
  // What a stretch added: frames out less the movie's frames that came out.
  const int64_t in = frame->sample_rate > 0 ? frame->nb_samples * rate / frame->sample_rate
                                            : frame->nb_samples;
  const int64_t stretched = frames - (in + heldBefore - resampler_->Delay());
  if (frames == 0) return;
  int64_t skip = 0;
  // Sound before the segment start (the demuxer lands on an earlier key frame),
  // or already queued as the start carried over.
  if (time < trimUntil_) {
    skip = ((trimUntil_ - time) * rate + kUnitsPerSecond / 2) / kUnitsPerSecond;
  }
  if (skip >= frames) return;
  if (!haveOrigin_) {
    // The segment's sound counts from its start: sound that begins later is
    // preceded by silence, so that the start kept for loops, and the pass, are
    // the movie's.
    origin_ = segment.base;
    haveOrigin_ = true;
  }
  const REFERENCE_TIME expected = StagedEnd();
  const REFERENCE_TIME first = time + skip * kUnitsPerSecond / rate;
  if (first > expected + (staged_ == 0 ? 0 : kGapTolerance)) {
    const REFERENCE_TIME longest = staged_ == 0 ? kLongestLead : kLongestGap;
    Append(nullptr, std::min(first - expected, longest) * rate / kUnitsPerSecond, segment);
  } else if (time < expected - kGapTolerance) {
    skip = std::max<int64_t>(skip, (expected - time) * rate / kUnitsPerSecond);
    if (skip >= frames) return;
  }
  added_ += stretched;  // first: the room up to the stop is in frames out
  // Done once it has added (or taken) all it was asked to; what the filter
  // holds and gives back without a stretch asked counts for none.
  if (sync_.stretchLeft > 0) {
    sync_.stretchLeft = std::max<int64_t>(0, sync_.stretchLeft - stretched);
  } else if (sync_.stretchLeft < 0) {
    sync_.stretchLeft = std::min<int64_t>(0, sync_.stretchLeft - stretched);
  }
  AppendUpToStop(converted_.data() + skip * channels, frames - skip, segment);
  // What the last pass's stretch has yet to do, from the frame after the one
  // that joins this pass to the start queued before it: begun on the joining
  // frame, the resampler's filter put a step in the wave there.
  if (sync_.resumeStretch) {
    sync_.resumeStretch = false;
    resampler_->Compensate(static_cast<int>(sync_.stretchLeft), static_cast<int>(rate));
  }
}

REFERENCE_TIME SoundStreamer::FrameTime(const AVFrame *frame, const Segment &segment) {
  const REFERENCE_TIME stamp =
      file_->ToMovieTime(file_->AudioStream(), frame->best_effort_timestamp);
  const int rate = frame->sample_rate;
  const REFERENCE_TIME counted =
      countFrom_ + (rate > 0 ? countedSamples_ * kUnitsPerSecond / rate : 0);
  REFERENCE_TIME time = 0;
  if (stamp == AV_NOPTS_VALUE) {
    time = counting_ ? counted : haveOrigin_ ? StagedEnd() : segment.base;
  } else {
    time = segment.ToStreamTime(stamp);
    // Once, from the movie's first sound: a demuxer back at the start may
    // not give that packet again (Matroska lands on the picture's cue).
    if (!shiftKnown_ && !counting_ && segment.start == 0 && trimUntil_ == segment.base) {
      shiftKnown_ = true;
      const REFERENCE_TIME lead = time - segment.base;
      shift_ = lead > 0 && lead <= kSeamSlack ? lead : 0;
    }
    time -= shift_;
    if (counting_ && rate == countRate_ && std::abs(time - counted) <= kStampJitter) {
      time = counted;
    }
    if (segment.start == 0) time = SameAsBefore(stamp, time, segment);
  }
  if (!counting_ || rate != countRate_ || time != counted) {
    counting_ = true;
    countRate_ = rate;
    countFrom_ = time;
    countedSamples_ = 0;
  }
  countedSamples_ += frame->nb_samples;
  return time;
}

REFERENCE_TIME SoundStreamer::SameAsBefore(REFERENCE_TIME stamp, REFERENCE_TIME time,
                                          const Segment &segment) {
  const REFERENCE_TIME offset = time - segment.base;
  if (!counting_) {
    // A pass's first frame has nothing to count from: a coarse stamp would
    // put it a fraction of a millisecond off the samples queued before it.
    for (const StampAt &seen : startStamps_) {
      if (seen.stamp == stamp) return segment.base + seen.offset;
    }
  } else if (trimUntil_ == segment.base && offset < kStartKept &&
             startStamps_.size() < startStamps_.capacity()) {
    for (const StampAt &seen : startStamps_) {
      if (seen.stamp == stamp) return time;
    }
    startStamps_.push_back({stamp, offset});
  }
  return time;
}

REFERENCE_TIME SoundStreamer::StreamStop(const Segment &segment) const {
  REFERENCE_TIME stop = std::min<REFERENCE_TIME>(segment.stop, file_->SoundEnd());
  int64_t pictureEnd = 0;
  int64_t soundEnd = 0;
  // Where the container cannot tell, sound decoded a little past the picture
  // is padding (Vorbis in Matroska has no end trimming).
  if (file_->SoundEnd() == INT64_MAX && reader_ != nullptr &&
      reader_->PictureEnd(&pictureEnd) && reader_->SoundEnd(&soundEnd) &&
      soundEnd > pictureEnd && soundEnd - pictureEnd <= kMostPadding) {
    stop = std::min<REFERENCE_TIME>(stop, pictureEnd);
  }
  return stop == kToTheEnd ? kToTheEnd : segment.ToStreamTime(stop) - shift_;
}

void SoundStreamer::AppendUpToStop(const int16_t *pcm, int64_t frames, const Segment &segment) {
  // The encoder's padding after the sound's end is no part of the movie: a
  // loop would grow by it.
  const REFERENCE_TIME stop = StreamStop(segment);
  const int64_t room = stop == kToTheEnd
                           ? frames
                           : (stop - StagedEnd()) * resampler_->Rate() / kUnitsPerSecond;
  if (room < frames) {
    frames = std::max<int64_t>(0, room);
    decoded_ = true;  // the rest lies beyond the stop position
  }
  Append(pcm, frames, segment);
}

void SoundStreamer::StageRest(const Segment &segment) {
  converted_.clear();
  const int64_t heldBefore = resampler_->Delay();
  if (!haveOrigin_ || !resampler_->Drain(&converted_)) return;
  const int64_t frames = static_cast<int64_t>(converted_.size()) / resampler_->Channels();
  added_ += frames - (heldBefore - resampler_->Delay());
  AppendUpToStop(converted_.data(), frames, segment);
}

bool SoundStreamer::PadToEnd(const Segment &segment) {
  if (segment.stop != kToTheEnd) return true;
  if (!haveOrigin_) {
    // No sound in this segment at all: it is silent up to the end.
    origin_ = segment.base;
    haveOrigin_ = true;
  }
  // Where the picture's end cannot be told, the sound ends where it does.
  int64_t pictureEnd = 0;
  if (reader_ == nullptr || !reader_->PictureEnd(&pictureEnd)) return true;
  const int64_t rate = resampler_->Rate();
  const REFERENCE_TIME passEnd = segment.ToStreamTime(pictureEnd) - shift_;
  const int64_t missing = (passEnd - StagedEnd()) * rate / kUnitsPerSecond;
  if (missing <= 0) return true;
  // A picture that ends a little later only because it starts as much later
  // than the sound (to the container's rounding) is as long: the pass ends
  // with the sound.
  int64_t pictureStart = 0;
  const REFERENCE_TIME shortBy = passEnd - StagedEnd();
  if (padding_ == 0 && shortBy <= kSeamSlack && reader_->PictureStart(&pictureStart) &&
      pictureStart > shift_ && shortBy <= pictureStart - shift_ + kStampJitter) {
    return true;
  }
  padding_ += std::min<int64_t>(missing, rate / 50);
  // In pieces, kept kLead ahead like the sound: a long picture after a short
  // sound needs no long buffer.
  Append(nullptr, std::min<int64_t>(missing, rate / 50), segment);
  return missing <= rate / 50;
}

void SoundStreamer::Flush(bool all) {
  const int channels = resampler_->Channels();
  const int frames = static_cast<int>(staging_.size() / channels);
  // 20 ms pieces: few buffers in the source's queue, still a fine grain.
  if (frames == 0 || (!all && frames < resampler_->Rate() / 50)) return;
  if (output_->Queue(staging_.data(), frames)) staging_.clear();
}

void SoundStreamer::QueueStart(const Segment &segment) {
  const int channels = resampler_->Channels();
  if (!looping_ || continued_ > 0 || segment.stop != kToTheEnd || start_.empty()) return;
  const int frames = static_cast<int>(start_.size() / channels);
  if (output_->Queue(start_.data(), frames)) continued_ = frames;
}

void SoundStreamer::DropStart() {
  if (output_->DropNewest(static_cast<int>(continued_.load()))) {
    continued_ = 0;
  } else if (output_->PendingFrames() <= continued_) {
    // The end has been heard and the start has begun: cut it short. The
    // source counts from 0 again, from the end of the sound.
    output_->Reset();
    origin_ = StagedEnd();
    staged_ = 0;
    added_ = 0;
    continued_ = 0;
  }
}

bool SoundStreamer::Feed(PacketBuffer *buffer, const Segment &segment) {
  const int64_t rate = resampler_->Rate();
  const int channels = resampler_->Channels();
  for (;;) {
    const int64_t ahead =
        output_->PendingFrames() + static_cast<int64_t>(staging_.size()) / channels;
    if (decoded_ && !padded_ && ahead * kUnitsPerSecond / rate < kLead) {
      padded_ = PadToEnd(segment);
    }
    Flush(decoded_ && padded_);
    if (decoded_) {
      if (padded_ && staging_.empty()) QueueStart(segment);
      return true;
    }
    if (ahead * kUnitsPerSecond / rate >= kLead) return true;
    const int got = decoder_->Receive(frame_.get());
    if (got == 0) {
      Stage(frame_.get(), segment);
      av_frame_unref(frame_.get());
      continue;
    }
    if (got == AVERROR_EOF || draining_) {
      StageRest(segment);
      decoded_ = true;
      continue;
    }
    PacketPtr packet;
    switch (buffer->PopFor(PacketBuffer::kAudio, &packet, std::chrono::milliseconds(5))) {
      case PacketBuffer::PopResult::kAborted:
        return false;
      case PacketBuffer::PopResult::kTimeout:
        return true;
      case PacketBuffer::PopResult::kPacket:
        if (decoder_->Send(packet.get())) break;
        [[fallthrough]];  // a decoder that failed for good ends the sound here
      case PacketBuffer::PopResult::kEnd:
        draining_ = true;
        decoder_->Send(nullptr);
        break;
    }
  }
}

void SoundStreamer::Stream(PacketBuffer *buffer, Segment segment) {
  NameThisThread("cl-sound");
  // Hands the device its sound on time; woken by its timer, it must not take
  // the game's core.
  RunInBufferedTurns();
  GiveWayToStarter();
  struct Known {
    SoundStreamer *self;
    explicit Known(SoundStreamer *streamer) : self(streamer) {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->streamThread_ = ThisThreadId();
    }
    // Before the id can name another thread.
    ~Known() {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->streamThread_ = 0;
    }
  } known(this);
  const int64_t rate = resampler_->Rate();
  bool playing = false;     // the source was started in this run
  bool completed = false;   // played out was reported in this run
  uint64_t serial = 0;      // the run the flags above belong to
  // A loop's pass: the sound plays on, judged and stretched as before.
  bool carriedOn = syncCarried_;
  REFERENCE_TIME &nextCheck = sync_.nextCheck;
  REFERENCE_TIME &compensatedUntil = sync_.compensatedUntil;
  REFERENCE_TIME(&errors)[kErrorWindow] = sync_.errors;
  int &checks = sync_.checks;
  bool &correcting = sync_.correcting;
  const REFERENCE_TIME mixPeriod = output_->MixPeriodNs() / 100;

  for (;;) {
    bool running = false;
    IReferenceClock *clock = nullptr;
    REFERENCE_TIME runStart = 0;
    uint64_t runSerial = 0;
    const bool looping = looping_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      running = running_;
      clock = clock_;
      if (clock != nullptr) clock->AddRef();
      runStart = runStart_;
      runSerial = runSerial_;
    }
    const bool fed = Feed(buffer, segment);
    if (continued_ > 0 && !looping_) DropStart();
    REFERENCE_TIME now = 0;
    const bool haveNow = clock != nullptr && SUCCEEDED(clock->GetTime(&now));
    // From the monotonic clock the timeline counts on to the graph's.
    const REFERENCE_TIME shift = now - SystemClock::Now();
    if (clock != nullptr) clock->Release();
    if (!fed) break;
    SoundOutput::Timing timing{};
    const bool timed = output_->GetTiming(&timing);
    int64_t heardOffset = 0;
    int64_t periodNs = 0;
    const bool mixesKnown = timed && output_->Timeline(&heardOffset, &periodNs);
    // When the block the device mixes next is heard, on the graph's clock:
    // followed only where it agrees with the latency to two periods, so that
    // a driver whose clock misleads cannot hold the sound back.
    const REFERENCE_TIME heardNext = heardOffset + timing.mixAtNs / 100 + shift;
    const bool placed = mixesKnown && haveNow &&
                        std::abs(heardNext - (now + timing.latencyNs / 100)) <=
                            2 * mixPeriod + kPlausible;

    std::chrono::milliseconds wait(10);
    // Until a mix has been seen as it happened, the device is watched closely
    // while the sound plays (for a quarter of a second at most); a device
    // started again after a pause has a new timeline to learn.
    if (const int restarts = output_->DeviceRestarts(); restarts != deviceRestarts_) {
      deviceRestarts_ = restarts;
      learning_ = kLearningLooks;
    }
    if (running && timed && !mixesKnown && learning_ > 0) {
      --learning_;
      wait = std::chrono::milliseconds(1);
    }
    bool idle = false;
    if (!running) {
      if (playing) output_->Pause();
      playing = false;
      completed = false;
      // Known before the run, so that the graph can start it far enough ahead.
      NoteLatency(output_->GetPosition());
      // Held with all it needs queued: nothing changes until the graph asks,
      // so the thread sleeps until then (the device may not be mixing).
      const int64_t ahead = output_->PendingFrames() +
                            static_cast<int64_t>(staging_.size()) / resampler_->Channels();
      const bool full = (decoded_ && padded_ && staging_.empty()) ||
                        ahead * kUnitsPerSecond / rate >= kLead;
      idle = full;
    } else {
      if (runSerial != serial) {
        // A new run: start again in step with its start time.
        serial = runSerial;
        completed = false;
        if (playing) output_->Pause();
        playing = false;
      }
      const SoundOutput::Position position = output_->GetPosition();
      NoteLatency(position);
      const int64_t pending = output_->QueuedFrames() - position.played;
      // Stream time of the next frame the source will mix.
      const REFERENCE_TIME next = TimeOf(position.played);
      if (playing && pending > 0 && output_->IsIdle()) playing = false;  // starved
      if (!playing && pending > 0) {
        // The source starts with the device's next mix, within a period from
        // now. Where the timeline tells when that block is heard, the start
        // takes the block heard nearest its time, up to half a period early,
        // and skips what is due before it: nothing where the graph started the
        // run on one of the device's blocks (EarliestStart). Otherwise the
        // latency is taken to count from the end of that block: started half
        // a period late, the sound is heard within half a period of its time
        // either way. The checks take it from there.
        REFERENCE_TIME late = now - (runStart + next - latency_ + mixPeriod / 2);
        if (placed) {
          late = heardNext - (runStart + next);
          const REFERENCE_TIME early = std::max<REFERENCE_TIME>(kSkipAbove, periodNs / 200);
          if (late < 0 && late >= -early) late = 0;
        }
        if (!haveNow) {
          output_->Play();
          playing = true;
          carriedOn = false;
        } else if (late >= 0) {
          output_->Play(late > kSkipAbove || placed ? late * rate / kUnitsPerSecond : 0);
          playing = true;
          if (!carriedOn) {
            nextCheck = now + kCheckEvery;
            checks = 0;
            correcting = true;  // up to half a period out: bring it in
          }
          carriedOn = false;
        } else if (placed) {
          // Looked at again within a millisecond of the mix before the block
          // to start with.
          wait = std::min(wait, std::max(std::chrono::milliseconds(1), Millis(-late - mixPeriod)));
        } else {
          wait = std::min(wait, Millis(-late));
        }
      } else if (playing && position.playing && haveNow && now >= nextCheck) {
        nextCheck = now + kCheckEvery;
        // Stream time heard now.
        const REFERENCE_TIME heard =
            placed ? TimeOf(timing.played) - (heardNext - now)
                   : next - latency_;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          heard_ = true;
          heardClock_ = now;
          heardMovie_ = heard - segment.base + segment.start;
        }
        // Without the timeline the source's position moves in whole mixing
        // periods: right after a mix it is exact, later it lags. The largest
        // error of the last few checks is therefore the true one.
        errors[checks++ % kErrorWindow] = heard - (now - runStart);  // > 0: sound early
        if (checks >= kErrorWindow) {
          const REFERENCE_TIME error = *std::max_element(errors, errors + kErrorWindow);
          const REFERENCE_TIME tolerance = correcting ? kOnTime : kNearEnough;
          if (error > kFarOff || error < -kFarOff) {
            output_->Pause();
            playing = false;
            correcting = false;
            resampler_->Compensate(0, 0);
            sync_.stretchLeft = 0;
          } else if (error <= tolerance && error >= -tolerance) {
            correcting = false;
          } else if (now >= compensatedUntil) {
            correcting = true;
            // More frames delay the sound, fewer bring it forward; spread over
            // a second and kept below what an ear notices as a change of pitch.
            const int64_t limit = rate / 200;
            const int64_t delta =
                std::clamp<int64_t>(error * rate / kUnitsPerSecond, -limit, limit);
            resampler_->Compensate(static_cast<int>(delta), static_cast<int>(rate));
            sync_.stretchLeft = delta;
            compensatedUntil = now + kUnitsPerSecond + kLead;
            checks = 0;  // judge again once the correction is heard
          }
        }
      }
      if (decoded_ && padded_ && staging_.empty() && (continued_ > 0 || pending <= 0) &&
          !completed) {
        // Heard to its end once the device's latency has passed too. Where the
        // start follows, its end is bridged already: complete kLoopAhead early,
        // so that the loop's seek comes before the start's picture is due.
        const REFERENCE_TIME endAt = runStart + (haveOrigin_ ? StagedEnd() : segment.base) -
                                     (continued_ > 0 ? kLoopAhead : 0);
        if (!haveNow || now >= endAt) {
          completed = true;
          playedOut_();
        } else {
          wait = std::min(wait, Millis(endAt - now) + std::chrono::milliseconds(1));
        }
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const auto changed = [&] {
      return stopping_ || running_ != running || runSerial_ != runSerial || looping_ != looping;
    };
    if (idle) {
      changed_.wait(lock, changed);
    } else {
      changed_.wait_for(lock, wait, changed);
    }
  }
  // The source is left as it is: Stop resets it, or keeps the start of the
  // movie playing on across a loop.
}

}  // namespace mediagraph
