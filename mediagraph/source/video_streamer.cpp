#include "mediagraph/source/video_streamer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

#include "mediagraph/source/rows_forecast.h"
#include "platform/host/background_thread.h"
#include "platform/host/huge_pages.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

namespace {

// Further than this ahead of the last picture is a jump of the clock.
constexpr REFERENCE_TIME kLongestJump = 100000000;  // 10 s
// The time of a picture that must not be shown: none can be told for it.
constexpr REFERENCE_TIME kUntimed = INT64_MIN / 2;
// After a jump, pictures without times (or broken) are dropped until one is
// fine; a stream that never gives one shows the next after this many.
constexpr int kMostDropped = 50;

// Up to a 1080p30 picture rate one thread decodes in time, a few ms a
// picture. Above it FFmpeg picks its thread count from the cores: frame
// threads, which wake each other for every picture and on two cores kept
// taking the game's core (its waits for a core over 1 ms: 1.7 times as many).
constexpr double kOneThreadPixelsPerSecond = 1920.0 * 1080.0 * 30.0 * 1.01;
// Samples larger than a 1080p picture's have their pages backed ahead.
constexpr LONG kWarmedSampleBytes = LONG{12} << 20;

// 0 lets FFmpeg choose.
int DecoderThreads(const MovieFile &file) {
  const AVCodecParameters *shape = file.VideoStream()->codecpar;
  const int64_t frame = file.FrameDuration();  // 100 ns
  if (frame <= 0) return 0;
  const double pixels = double(shape->width) * double(shape->height);
  return pixels * 1e7 / double(frame) <= kOneThreadPixelsPerSecond ? 1 : 0;
}

// Opens the decoder with its threads on a thread of its own, beside the
// picture decoded ahead: the pictures after that one come from it, and the
// open (some milliseconds of fresh memory) would come on top of their time.
class DecoderOpener {
 public:
  DecoderOpener(const MovieFile &file, std::unique_ptr<StreamDecoder> *into)
      : stream_(file.VideoStream()), threads_(DecoderThreads(file)), into_(into) {
    if (*into_) return;
    try {
      // FFmpeg's decoding threads, started by the open, take its name.
      thread_ = std::thread([this] {
        NameThisThread("cl-decode");
        RunInLongTurns();
        GiveWayToStarter();
        opened_ = StreamDecoder::Create(stream_, threads_);
      });
    } catch (const std::system_error &) {
      // Opened when first needed.
    }
  }
  ~DecoderOpener() { Join(); }
  DecoderOpener(const DecoderOpener &) = delete;
  DecoderOpener &operator=(const DecoderOpener &) = delete;

  // The decoder, opened here if the thread could not; null if it will not.
  StreamDecoder *Take() {
    Join();
    if (!*into_) *into_ = StreamDecoder::Create(stream_, threads_);
    return into_->get();
  }

 private:
  void Join() {
    if (thread_.joinable()) {
      thread_.join();
      *into_ = std::move(opened_);
    }
  }

  const AVStream *const stream_;
  const int threads_;
  std::unique_ptr<StreamDecoder> *const into_;
  std::unique_ptr<StreamDecoder> opened_;
  std::thread thread_;
};

}  // namespace

VideoStreamer::VideoStreamer(const MovieFile *file, std::unique_ptr<StreamDecoder> lone)
    : file_(file), lone_(std::move(lone)), converter_(file->Shape()) {}

VideoStreamer::~VideoStreamer() { Stop(); }

void VideoStreamer::Start(PacketBuffer *buffer, const Downstream &downstream,
                          const Segment &segment) {
  Stop();
  stopping_ = false;
  lastDelivered_ = segment.start;
  lastStop_ = segment.base;
  ended_ = false;
  segmentShown_ = false;
  NoteFirstPicture(false);
  aheadUnderWay_ = false;
  if (!thread_.HasThread()) {
    ended_ = true;
    downstream.peer->EndOfStream();
    return;
  }
  started_ = true;
  thread_.Post([this, buffer, downstream, segment] { Run(buffer, downstream, segment); });
}

void VideoStreamer::Stop() {
  stopping_ = true;
  if (started_.exchange(false)) thread_.AwaitIdle();
  if (decoder_) decoder_->Flush();
  NoteFirstPicture(false);
  aheadUnderWay_ = false;
}

void VideoStreamer::NoteFirstPicture(bool coming) {
  std::lock_guard<std::mutex> hold(firstLock_);
  firstComing_ = coming;
  if (coming) firstCame_.notify_all();
}

bool VideoStreamer::AwaitFirstPicture(DWORD milliseconds, REFERENCE_TIME within) {
  firstWithin_ = within;
  std::unique_lock<std::mutex> hold(firstLock_);
  return firstCame_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                             [this] { return firstComing_; });
}

// Hands one sample downstream on a thread of its own. Joined before anything
// else goes downstream, and on every way out of the video thread.
class VideoStreamer::HandOff {
 public:
  HandOff() = default;
  ~HandOff() { Wait(); }
  HandOff(const HandOff &) = delete;
  HandOff &operator=(const HandOff &) = delete;

  // False when no thread could be made; the caller hands it over itself.
  template <typename Job>
  bool Start(Job job) {
    try {
      thread_ = std::thread([this, job] {
        NameThisThread("cl-handoff");
        RunInTimedTurns();
        handed_ = job();
      });
    } catch (const std::system_error &) {
      return false;
    }
    return true;
  }
  // False when the sample handed over ended delivery.
  bool Wait() {
    if (thread_.joinable()) thread_.join();
    return handed_;
  }

 private:
  std::thread thread_;
  bool handed_ = true;
};

void VideoStreamer::PictureTimes(const AVFrame *frame, REFERENCE_TIME last,
                                 const Segment &segment, REFERENCE_TIME *time,
                                 REFERENCE_TIME *duration) const {
  const AVStream *stream = file_->VideoStream();
  // A picture without a time stamp, or with one that does not move on from
  // the last (damaged streams), comes one nominal picture later: not after
  // the last picture's own duration, which may be damaged too and would hold
  // back every picture after it. Where time stamps may jump, a picture far
  // ahead of the last one is taken as a break too, rather than waited for
  // (as players do).
  // A segment's first picture without a time is not known to be at its
  // start: after a jump it may be the key frame far before it (AVI stores
  // decode times only, and a reordering decoder gives its first picture none).
  REFERENCE_TIME at = file_->ToMovieTime(stream, frame->best_effort_timestamp);
  const REFERENCE_TIME since = last == AV_NOPTS_VALUE ? segment.start : last;
  if (at == AV_NOPTS_VALUE && last == AV_NOPTS_VALUE && segment.start > 0) {
    at = kUntimed;
  } else if (at == AV_NOPTS_VALUE || (last != AV_NOPTS_VALUE && at <= last) ||
             (file_->TimeStampsMayJump() && at > since + kLongestJump)) {
    at = last == AV_NOPTS_VALUE ? segment.start : last + file_->FrameDuration();
  }
  REFERENCE_TIME length = frame->pkt_duration > 0
                              ? MovieFile::ToReferenceTime(stream, frame->pkt_duration)
                              : file_->FrameDuration();
  if (length <= 0) length = file_->FrameDuration();
  // The renderer completes at the last picture's end: a damaged duration
  // must not carry it past the movie's end (the nominal one may be damaged
  // as well).
  const REFERENCE_TIME end = file_->Duration();
  if (at != kUntimed && end > 0 && at + length > end) {
    length = at < end ? end - at : std::min(length, file_->FrameDuration());
  }
  *time = at;
  *duration = length;
}

VideoStreamer::Ahead VideoStreamer::ShowAhead(const AVPacket *packet,
                                              const Downstream &downstream,
                                              const Segment &segment, HandOff *handOff,
                                              int64_t *stamp, REFERENCE_TIME *time) {
  const AVStream *stream = file_->VideoStream();
  // A packet of an interlaced stream may hold one field only.
  const AVFieldOrder fields = stream->codecpar->field_order;
  if ((packet->flags & AV_PKT_FLAG_KEY) == 0 ||
      (fields != AV_FIELD_UNKNOWN && fields != AV_FIELD_PROGRESSIVE)) {
    return Ahead::kNotShown;
  }
  FramePtr picture = MakeFrame();
  if (!picture) return Ahead::kNotShown;
  // A packet of the segment's own time: its rows tell when it will be done.
  PictureBuffers::RowsDone rows;
  const REFERENCE_TIME packetTime = file_->ToMovieTime(stream, packet->pts);
  if (packetTime != AV_NOPTS_VALUE && packetTime >= segment.start &&
      packetTime < segment.stop) {
    rows = [this, forecast = RowsForecast()](int done, int height) mutable {
      if (forecast.Soon(done, height, RowsForecast::Clock::now(), firstWithin_.load())) {
        NoteFirstPicture(true);
      } else if (forecast.Judged()) {
        aheadUnderWay_ = false;  // too slow to be trusted
      }
    };
    aheadUnderWay_ = true;
  }
  // The sample this picture goes into, taken first: a big one's pages are
  // backed while the picture decodes. In a new process the host backs them
  // too, and a 4K sample's first write made its picture 25 to 35 ms late.
  // Joined (the warmer) before the sample can go back.
  IMediaSample *taken = nullptr;
  PageWarmer warmer;
  BYTE *data = nullptr;
  if (SUCCEEDED(downstream.allocator->GetBuffer(&taken, nullptr, nullptr, AM_GBF_NOWAIT)) &&
      SUCCEEDED(taken->GetPointer(&data)) && taken->GetSize() >= kWarmedSampleBytes) {
    warmer.Start(data, static_cast<size_t>(taken->GetSize()));
  }
  lone_->Flush();
  lone_->WatchRows(std::move(rows));
  const bool decoded =
      lone_->Send(packet) && lone_->Send(nullptr) && lone_->Receive(picture.get()) == 0;
  lone_->WatchRows({});
  aheadUnderWay_ = false;
  REFERENCE_TIME duration = 0;
  if (decoded) PictureTimes(picture.get(), AV_NOPTS_VALUE, segment, time, &duration);
  if (!decoded || (picture->flags & AV_FRAME_FLAG_CORRUPT) != 0 ||
      picture->decode_error_flags != 0 || *time == kUntimed || *time >= segment.stop ||
      *time + duration <= segment.start) {
    warmer.Wait();
    if (taken != nullptr) taken->Release();
    return Ahead::kNotShown;
  }
  NoteFirstPicture(true);
  bool ended = false;
  IMediaSample *sample =
      Fill(picture.get(), downstream, segment, *time, duration, true, &ended, taken);
  warmer.Wait();
  if (sample == nullptr) return ended ? Ahead::kEnded : Ahead::kNotShown;
  const REFERENCE_TIME at = *time;
  if (!handOff->Start([this, sample, downstream, at] { return Hand(sample, downstream, at); }) &&
      !Hand(sample, downstream, at)) {
    return Ahead::kEnded;
  }
  *stamp = picture->best_effort_timestamp;
  return Ahead::kShown;
}

void VideoStreamer::Run(PacketBuffer *buffer, Downstream downstream, Segment segment) {
  // Decoding is ahead of its time (FFmpeg's threads, started by the opener,
  // keep the batch policy but not the turn).
  RunInLongTurns();
  FramePtr frame = MakeFrame();
  if (!frame) return;
  DecoderOpener opener(*file_, &decoder_);
  HandOff handOff;
  bool draining = false;
  bool first = true;
  REFERENCE_TIME last = AV_NOPTS_VALUE;  // time of the last picture
  // A picture shown before the decoder gives it (its stamp): the decoder's
  // copy is dropped, and so is any picture it gives before that one.
  bool skipping = false;
  int64_t shownStamp = AV_NOPTS_VALUE;
  bool tryAhead = false;
  int dropped = 0;  // first pictures dropped for want of a time or references
  if (segment.start == 0 && firstPicture_) {
    NoteFirstPicture(true);
    if (!Deliver(nullptr, downstream, segment, firstTime_, firstDuration_, true)) return;
    first = false;
    skipping = true;
    shownStamp = firstPicture_->best_effort_timestamp;
    last = firstTime_;
  } else {
    tryAhead = true;
  }
  for (;;) {
    if (stopping_) return;
    const int got = decoder_ ? decoder_->Receive(frame.get())
                             : draining ? AVERROR_EOF : AVERROR(EAGAIN);
    if (got == 0) {
      if (skipping) {
        const int64_t stamp = frame->best_effort_timestamp;
        const bool stamped = stamp != AV_NOPTS_VALUE && shownStamp != AV_NOPTS_VALUE;
        if (!stamped || stamp <= shownStamp) {
          skipping = stamped && stamp < shownStamp;
          av_frame_unref(frame.get());
          continue;
        }
        skipping = false;
      }
      REFERENCE_TIME time = 0;
      REFERENCE_TIME duration = 0;
      PictureTimes(frame.get(), last, segment, &time, &duration);
      // Nor is a first picture the decoder says it made without its
      // references (a jump into a stream whose key frame it did not see).
      const bool broken = (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 && first;
      if ((time == kUntimed || broken) && ++dropped < kMostDropped) {
        av_frame_unref(frame.get());
        continue;
      }
      if (time == kUntimed) time = segment.start;
      last = time;
      if (time >= segment.stop) {
        av_frame_unref(frame.get());
        break;
      }
      bool keepGoing = true;
      if (time + duration > segment.start) {
        if (first) NoteFirstPicture(true);
        bool ended = false;
        IMediaSample *sample =
            Fill(frame.get(), downstream, segment, time, duration, first, &ended);
        first = false;
        // Converted while the picture ahead is still held; handed after it.
        if (!handOff.Wait()) {
          if (sample != nullptr) sample->Release();
          return;
        }
        keepGoing = sample != nullptr ? Hand(sample, downstream, time) : !ended;
      }
      av_frame_unref(frame.get());
      if (!keepGoing) return;  // stopping, or downstream refused (it reports why)
      continue;
    }
    if (got == AVERROR_EOF || draining) break;
    PacketPtr packet;
    switch (buffer->Pop(PacketBuffer::kVideo, &packet)) {
      case PacketBuffer::PopResult::kAborted:
        return;
      case PacketBuffer::PopResult::kPacket:
        if (tryAhead) {
          tryAhead = false;
          REFERENCE_TIME time = 0;
          switch (ShowAhead(packet.get(), downstream, segment, &handOff, &shownStamp, &time)) {
            case Ahead::kEnded:
              return;
            case Ahead::kShown:
              first = false;
              skipping = true;
              last = time;
              break;
            case Ahead::kNotShown:
              break;
          }
        }
        if (opener.Take() != nullptr && decoder_->Send(packet.get())) break;
        [[fallthrough]];  // a decoder that failed for good ends the picture here
      case PacketBuffer::PopResult::kEnd:
      case PacketBuffer::PopResult::kTimeout:
        draining = true;
        if (decoder_) decoder_->Send(nullptr);
        break;
    }
  }
  if (stopping_ || !handOff.Wait()) return;
  ended_ = true;
  downstream.peer->EndOfStream();
}

IMediaSample *VideoStreamer::Fill(const AVFrame *frame, const Downstream &downstream,
                                  const Segment &segment, REFERENCE_TIME time,
                                  REFERENCE_TIME duration, bool first, bool *ended,
                                  IMediaSample *taken) {
  IMediaSample *sample = taken;
  // Fails once the allocator is decommitted: the filter is stopping.
  if (sample == nullptr && FAILED(downstream.allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
    *ended = true;
    return nullptr;
  }
  BYTE *data = nullptr;
  const LONG size = sample->GetSize();
  const size_t imageSize = converter_.ImageSize();
  bool filled = SUCCEEDED(sample->GetPointer(&data)) && data != nullptr && size >= 0 &&
                static_cast<size_t>(size) >= imageSize;
  if (filled) {
    filled = converter_.Convert(frame != nullptr ? frame : firstPicture_.get(), data,
                                static_cast<size_t>(size));
    // Kept once per file, for every loop to come.
    if (filled && frame != nullptr && first && segment.start == 0 && !firstPicture_) {
      FramePtr kept = MakeFrame();
      if (kept && av_frame_ref(kept.get(), frame) == 0) {
        firstPicture_ = std::move(kept);
        firstTime_ = time;
        firstDuration_ = duration;
      }
    }
  }
  if (!filled) {
    sample->Release();
    return nullptr;  // this picture is lost; the next may convert
  }
  REFERENCE_TIME start = segment.ToStreamTime(time);
  REFERENCE_TIME stop = start + duration;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  sample->SetPreroll(FALSE);
  // A segment that goes on from the stream time reached (a loop while running)
  // is no break in the stream: marked as one, the renderer would take the last
  // picture's longer stay as falling behind and hurry the next pictures.
  sample->SetDiscontinuity(first && segment.base == 0 ? TRUE : FALSE);
  sample->SetActualDataLength(static_cast<LONG>(imageSize));
  return sample;
}

bool VideoStreamer::Hand(IMediaSample *sample, const Downstream &downstream,
                         REFERENCE_TIME time) {
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  sample->GetTime(&start, &stop);
  // The renderer waits for the picture's time and shows it: woken, it takes
  // a core from the decoders at once.
  RunInTimedTurns();
  const HRESULT hr = downstream.input->Receive(sample);
  // On show now: said at once, for the positions that follow the picture.
  if (hr == S_OK && !stopping_) {
    lastDelivered_ = time;
    segmentShown_ = true;
  }
  RunInLongTurns();
  sample->Release();
  if (stopping_ || hr != S_OK) return false;
  lastStop_ = stop;
  ++delivered_;
  return true;
}

bool VideoStreamer::Deliver(const AVFrame *frame, const Downstream &downstream,
                            const Segment &segment, REFERENCE_TIME time,
                            REFERENCE_TIME duration, bool first) {
  bool ended = false;
  IMediaSample *sample = Fill(frame, downstream, segment, time, duration, first, &ended);
  if (sample == nullptr) return !ended;
  return Hand(sample, downstream, time);
}

}  // namespace mediagraph
