#include "mediagraph/source/video_streamer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mediagraph {

namespace {

// Further than this ahead of the last picture is a jump of the clock.
constexpr REFERENCE_TIME kLongestJump = 100000000;  // 10 s

}  // namespace

VideoStreamer::VideoStreamer(const MovieFile *file, std::unique_ptr<StreamDecoder> decoder)
    : file_(file), decoder_(std::move(decoder)), converter_(file->Shape()) {}

VideoStreamer::~VideoStreamer() { Stop(); }

void VideoStreamer::Start(PacketBuffer *buffer, const Downstream &downstream,
                          const Segment &segment) {
  Stop();
  stopping_ = false;
  lastDelivered_ = segment.start;
  lastStop_ = segment.base;
  ended_ = false;
  thread_ = std::thread(&VideoStreamer::Run, this, buffer, downstream, segment);
}

void VideoStreamer::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  decoder_->Flush();
}

void VideoStreamer::Run(PacketBuffer *buffer, Downstream downstream, Segment segment) {
  const AVStream *stream = file_->VideoStream();
  FramePtr frame = MakeFrame();
  if (!frame) return;
  bool draining = false;
  bool first = true;
  // Time of the last picture. A picture without a time stamp, or with one that
  // does not move on from there (damaged streams), comes one nominal picture
  // later: not after the last picture's own duration, which may be damaged
  // too and would hold back every picture after it.
  // Where time stamps may jump, a picture far ahead of the last one is taken
  // as a break too, rather than waited for (as players do).
  REFERENCE_TIME last = AV_NOPTS_VALUE;
  const bool mayJump = file_->TimeStampsMayJump();
  // A loop shows the kept first picture at once; the decoder's own first
  // picture is then that one again.
  bool skipFirst = false;
  if (segment.start == 0 && firstPicture_) {
    if (!Deliver(nullptr, downstream, segment, firstTime_, firstDuration_, true)) return;
    first = false;
    skipFirst = true;
  }
  for (;;) {
    if (stopping_) return;
    const int got = decoder_->Receive(frame.get());
    if (got == 0) {
      REFERENCE_TIME time = file_->ToMovieTime(stream, frame->best_effort_timestamp);
      const REFERENCE_TIME since = last == AV_NOPTS_VALUE ? segment.start : last;
      if (time == AV_NOPTS_VALUE || (last != AV_NOPTS_VALUE && time <= last) ||
          (mayJump && time > since + kLongestJump)) {
        time = last == AV_NOPTS_VALUE ? segment.start : last + file_->FrameDuration();
      }
      last = time;
      REFERENCE_TIME duration = frame->pkt_duration > 0
                                    ? MovieFile::ToReferenceTime(stream, frame->pkt_duration)
                                    : file_->FrameDuration();
      if (duration <= 0) duration = file_->FrameDuration();
      // The renderer completes at the last picture's end: a damaged duration
      // must not carry it past the movie's end (the nominal one may be damaged
      // as well).
      const REFERENCE_TIME end = file_->Duration();
      if (end > 0 && time + duration > end) {
        duration = time < end ? end - time : std::min(duration, file_->FrameDuration());
      }
      if (time >= segment.stop) {
        av_frame_unref(frame.get());
        break;
      }
      if (skipFirst) {
        skipFirst = false;
        av_frame_unref(frame.get());
        continue;
      }
      bool keepGoing = true;
      if (time + duration > segment.start) {
        keepGoing = Deliver(frame.get(), downstream, segment, time, duration, first);
        first = false;
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
        if (decoder_->Send(packet.get())) break;
        [[fallthrough]];  // a decoder that failed for good ends the picture here
      case PacketBuffer::PopResult::kEnd:
      case PacketBuffer::PopResult::kTimeout:
        draining = true;
        decoder_->Send(nullptr);
        break;
    }
  }
  if (stopping_) return;
  ended_ = true;
  downstream.peer->EndOfStream();
}

bool VideoStreamer::Deliver(const AVFrame *frame, const Downstream &downstream,
                            const Segment &segment, REFERENCE_TIME time,
                            REFERENCE_TIME duration, bool first) {
  IMediaSample *sample = nullptr;
  // Fails once the allocator is decommitted: the filter is stopping.
  if (FAILED(downstream.allocator->GetBuffer(&sample, nullptr, nullptr, 0))) return false;
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
    return true;  // this picture is lost; the next may convert
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
  sample->SetActualDataLength(static_cast<LONG>(converter_.ImageSize()));
  const HRESULT hr = downstream.input->Receive(sample);
  sample->Release();
  if (stopping_ || hr != S_OK) return false;
  lastDelivered_ = time;
  lastStop_ = stop;
  ++delivered_;
  return true;
}

}  // namespace mediagraph
