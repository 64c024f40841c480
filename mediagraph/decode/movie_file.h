// One opened movie file: the demuxer, its chosen video and audio streams, the
// movie's time origin and length, reading packets and repositioning.
//
// Not thread-safe (but for the length): one thread at a time (the demux
// thread while streaming, the application thread while the streaming threads
// are stopped).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "mediagraph/decode/av_handles.h"
#include "mediagraph/decode/file_input.h"
#include "mediagraph/decode/open_status.h"
#include "mediagraph/decode/picture_shape.h"

namespace mediagraph {

class MovieFile {
 public:
  // Opens and probes `path` (UTF-8). On success *out holds the file.
  static OpenStatus Open(const std::string &path, std::unique_ptr<MovieFile> *out);

  MovieFile(const MovieFile &) = delete;
  MovieFile &operator=(const MovieFile &) = delete;

  const AVStream *VideoStream() const { return format_->streams[videoIndex_]; }
  // Null when the file has no audio stream FFmpeg can decode.
  const AVStream *AudioStream() const {
    return audioIndex_ < 0 ? nullptr : format_->streams[audioIndex_];
  }
  int VideoIndex() const { return videoIndex_; }
  // How the video stream's pictures are shown.
  const PictureShape &Shape() const { return shape_; }
  int AudioIndex() const { return audioIndex_; }

  // Length of the movie in 100 ns units: the container's, or where it tells
  // none or only guesses, the picture's end read from the file (0 when that
  // could not be read in time). Any thread.
  int64_t Duration() const { return duration_.load(); }
  // The picture was found to end at `end` (100 ns) while it played: a length
  // that could not be read at the load grows to it. Any thread.
  void ExtendDuration(int64_t end);
  // Nominal time of one picture in 100 ns units, from the stream's frame rate.
  int64_t FrameDuration() const { return frameDuration_; }
  // How long a picture packet lasts in 100 ns units: its own duration, or the
  // nominal one where it has none.
  int64_t PictureLength(const AVPacket *packet) const;
  // Movie time at which the sound ends by the container's own account, where
  // that can be trusted (it records each stream's length, and the sound's ends
  // with the picture's); INT64_MAX otherwise. Encoders pad the last frame of
  // sound (AAC by up to a frame): what is decoded past this is that padding.
  int64_t SoundEnd() const { return soundEnd_; }

  // Whether the container's time stamps may jump (MPEG-TS): a large jump
  // there is a break in the clock or damage, not a long still picture.
  bool TimeStampsMayJump() const;
  // Converts a stream time stamp to movie time in 100 ns units, measured from
  // the start of the movie. AV_NOPTS_VALUE stays AV_NOPTS_VALUE.
  int64_t ToMovieTime(const AVStream *stream, int64_t timestamp) const;
  // Converts a length in stream units to 100 ns units.
  static int64_t ToReferenceTime(const AVStream *stream, int64_t length);

  // Reads the next packet of the video or audio stream (packets of other
  // streams are skipped). 0, AVERROR_EOF at the end, or another error.
  int ReadPacket(AVPacket *packet);

  // Repositions so that the next packets start at or before `position` (100 ns
  // from the start of the movie) on a key frame: the first picture packet read
  // then is that key frame where one was found. Reads ahead to check where it
  // landed. False when the container cannot be repositioned there.
  bool SeekTo(int64_t position);

 private:
  MovieFile() = default;
  int64_t DeclaredSoundEnd() const;  // for SoundEnd(), once the rest is known
  int ReadOwnPacket(AVPacket *packet);  // from the demuxer, past pending_
  bool SeekNear(int64_t position);      // one demuxer seek
  // Reads into pending_ up to the first key frame of the picture, dropping the
  // picture packets before it; its movie time, INT64_MIN when not known.
  int64_t ReadToKeyFrame();
  // The picture's end read from the file's end (a raw stream: the whole file),
  // within a time budget; -1 when not found. Leaves the file at its start.
  int64_t ScanPictureEnd();

  std::unique_ptr<FileInput> input_;  // outlives format_, which reads through it
  FormatContextPtr format_;
  int videoIndex_ = -1;
  int audioIndex_ = -1;
  int64_t origin_ = 0;  // container start time, 100 ns
  std::atomic<int64_t> duration_{0};
  bool lengthOpen_ = false;  // set once by Open: ExtendDuration may grow it
  int64_t frameDuration_ = 0;
  int64_t soundEnd_ = INT64_MAX;
  PictureShape shape_;
  std::deque<PacketPtr> pending_;  // read ahead by a seek, handed out first
  bool probed_ = true;  // FFmpeg probed the streams (the headers left things open)
};

}  // namespace mediagraph
