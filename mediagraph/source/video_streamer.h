// The video thread: decodes the video packets of one segment, converts each
// picture into a sample of the connection's allocator and hands it to the
// connected input pin, which blocks until the picture is due. Ends with
// EndOfStream downstream at the end of the segment.
//
// Sample times are stream times: movie time minus the segment start plus the
// segment's base, in 100 ns; the first sample of a segment that starts the
// stream time afresh is marked as a discontinuity.
//
// The first picture of the movie is kept, converted, once it has been seen: a
// segment from the start of the movie (a loop) hands it downstream as soon as
// the thread starts, before any packet is read or decoded, and drops the same
// picture when the decoder produces it again.
//
// A segment that starts on a key frame without that picture shows it ahead:
// a decoder of one thread, the movie's own, decodes that one packet alone. FFmpeg's
// frame threads and the stream's reordering give their first picture out
// only after several packets, which on two cores is 4 to 8 times as long.
// The picture goes downstream from a thread of its own (a paused renderer
// holds it until the run reaches it) while the video thread decodes on, and
// the decoder's own copy of it is dropped.
//
// The video thread is made with the streamer and kept: a thread made per
// segment would map its stack on the way to every first picture.
//
// Threads: Start and Stop on the graph's worker (under the filter lock);
// everything else on the video thread. Before Stop, whoever stops must make
// sure the thread cannot stay blocked downstream: abort the packet buffer and
// flush or stop the peer, and decommit the allocator.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <memory>
#include <thread>
#include <vector>

#include "mediagraph/decode/frame_converter.h"
#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"
#include "mediagraph/decode/stream_decoder.h"
#include "mediagraph/source/job_thread.h"
#include "mediagraph/source/segment.h"
#include "platform/media/media.h"

namespace mediagraph {

class VideoStreamer {
 public:
  // The file is read only for its stream's time base, origin and shape.
  // `lone`: a decoder of one thread, kept for showing pictures ahead.
  VideoStreamer(const MovieFile *file, std::unique_ptr<StreamDecoder> lone);
  ~VideoStreamer();
  VideoStreamer(const VideoStreamer &) = delete;
  VideoStreamer &operator=(const VideoStreamer &) = delete;

  // Where the pictures go. The caller keeps references on all three for as
  // long as a thread may run.
  struct Downstream {
    IMemAllocator *allocator;
    IMemInputPin *input;
    IPin *peer;
  };

  // Starts the thread on a fresh segment (the decoder has been flushed).
  // Without a thread, the segment ends at once.
  void Start(PacketBuffer *buffer, const Downstream &downstream, const Segment &segment);
  // Asks the thread to end and waits for it; then forgets the decoder's state.
  void Stop();

  // Movie time of the last picture handed downstream, or the segment start.
  REFERENCE_TIME LastDelivered() const { return lastDelivered_.load(); }
  // Pictures handed downstream since construction (for statistics).
  int64_t Delivered() const { return delivered_.load(); }
  // Stream time at which the last picture handed downstream ends, or the
  // segment's base.
  REFERENCE_TIME LastStop() const { return lastStop_.load(); }
  // A picture of the segment under way has been handed downstream (shown).
  // Any thread.
  bool SegmentShown() const { return segmentShown_.load(); }
  // The segment's last picture has gone downstream, with the end of stream.
  bool ReachedEnd() const { return ended_.load(); }
  // Waits up to `milliseconds` for the segment's first picture to be decoded
  // (from then on it is only converted and handed on), or for a picture
  // decoded ahead to be far enough along that it will be, converted too, well
  // within `within`; true once it is. Any thread.
  bool AwaitFirstPicture(DWORD milliseconds, REFERENCE_TIME within);
  // A picture is being decoded ahead and its rows have not said it will be
  // late. Any thread.
  bool FirstPictureUnderWay() const { return aheadUnderWay_.load(); }

 private:
  class HandOff;
  enum class Ahead { kNotShown, kShown, kEnded };

  void Run(PacketBuffer *buffer, Downstream downstream, Segment segment);
  void NoteFirstPicture(bool coming);
  // The movie time and duration of a decoded picture, given the last one's
  // time (AV_NOPTS_VALUE before the first).
  void PictureTimes(const AVFrame *frame, REFERENCE_TIME last, const Segment &segment,
                    REFERENCE_TIME *time, REFERENCE_TIME *duration) const;
  // Decodes the segment's first packet alone and, where it is a picture of
  // the segment, hands it downstream through `handOff`; *stamp and *time
  // tell which.
  Ahead ShowAhead(const AVPacket *packet, const Downstream &downstream, const Segment &segment,
                  HandOff *handOff, int64_t *stamp, REFERENCE_TIME *time);
  // Converts one picture (null: the kept first picture) into a sample with
  // its times: `taken` (its reference passes) or one from the allocator.
  // Null when the picture is lost; *ended when delivery must end.
  IMediaSample *Fill(const AVFrame *frame, const Downstream &downstream, const Segment &segment,
                     REFERENCE_TIME time, REFERENCE_TIME duration, bool first, bool *ended,
                     IMediaSample *taken = nullptr);
  // Hands a filled sample of movie time `time` downstream and releases it.
  // False when delivery must end.
  bool Hand(IMediaSample *sample, const Downstream &downstream, REFERENCE_TIME time);
  bool Deliver(const AVFrame *frame, const Downstream &downstream, const Segment &segment,
               REFERENCE_TIME time, REFERENCE_TIME duration, bool first);

  const MovieFile *const file_;
  const std::unique_ptr<StreamDecoder> lone_;
  // With FFmpeg's threads; opened by the video thread when it first needs it.
  std::unique_ptr<StreamDecoder> decoder_;
  FrameConverter converter_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> started_{false};  // a Run is posted and not yet awaited
  std::atomic<REFERENCE_TIME> lastDelivered_{0};
  std::atomic<int64_t> delivered_{0};
  std::atomic<REFERENCE_TIME> lastStop_{0};
  std::atomic<bool> ended_{false};
  std::atomic<bool> segmentShown_{false};
  std::mutex firstLock_;
  std::condition_variable firstCame_;
  bool firstComing_ = false;  // firstLock_
  std::atomic<REFERENCE_TIME> firstWithin_{0};  // what the last waiter allows
  std::atomic<bool> aheadUnderWay_{false};

  // --- the video thread's, or Start's while no thread runs
  // The decoded first picture, a reference to the decoder's own buffer:
  // copying it converted would put a first touch of that many fresh pages
  // (tens of milliseconds at 4K) ahead of the movie's first picture.
  FramePtr firstPicture_;
  REFERENCE_TIME firstTime_ = 0;       // its movie time and duration
  REFERENCE_TIME firstDuration_ = 0;

  // Last: runs Run once everything it uses exists.
  JobThread thread_{"cl-video"};
};

}  // namespace mediagraph
