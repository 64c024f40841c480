#include "mediagraph/decode/movie_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include "mediagraph/decode/quiet_log.h"

namespace mediagraph {

namespace {

// The first aim before a jump's target, and how often it moves further back.
constexpr int64_t kSeekMargin = 5000000;  // 0.5 s
constexpr int kSeekAttempts = 5;
// Packets read after a jump to find its first key frame.
constexpr int kKeyFrameSearch = 2000;
// Reading the end of a file whose length is not told: how much, and for how
// long at most on the load's time (a raw stream is read whole).
constexpr int64_t kEndScanBytes = int64_t{4} << 20;
constexpr std::chrono::milliseconds kEndScanBudget{150};

// What a failure of FFmpeg's means once the file itself is open: a file
// missing or refused is one the container named.
OpenStatus StatusFromOpenError(int error) {
  if (error == AVERROR(ENOENT) || error == AVERROR(ENOTDIR) || error == AVERROR(EACCES) ||
      error == AVERROR(EPERM)) {
    return OpenStatus::kNamesOtherFiles;
  }
  if (error == AVERROR(ENOMEM)) return OpenStatus::kNoMemory;
  if (error == AVERROR(EIO) || error == AVERROR(EISDIR)) return OpenStatus::kUnreadable;
  return OpenStatus::kUnknownFormat;
}

bool HasDecoder(const AVStream *stream) {
  return avcodec_find_decoder(stream->codecpar->codec_id) != nullptr;
}

// Whether the container's headers say all the movie needs of every stream:
// the codec, the picture's size and rate, the sound's rate and channels, and
// the length. Probing would then only decode pictures (a 4K one takes tens
// of milliseconds) to learn the pixel format, which the decoder tells anyway.
bool HeadersSayEnough(const AVFormatContext *format) {
  if (format->duration == AV_NOPTS_VALUE || format->duration <= 0) return false;
  bool video = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream *stream = format->streams[i];
    const AVCodecParameters *par = stream->codecpar;
    if (par->codec_id == AV_CODEC_ID_NONE) return false;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      const bool rate = stream->avg_frame_rate.num > 0 || stream->r_frame_rate.num > 0;
      if (par->width <= 0 || par->height <= 0 || !rate) return false;
      video = true;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) return false;
    }
  }
  return video;
}

// Where the movie starts when it was not probed: the earliest stream start
// the headers give (probing takes the same minimum), else 0.
int64_t HeaderStart(const AVFormatContext *format) {
  int64_t start = AV_NOPTS_VALUE;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream *stream = format->streams[i];
    if (stream->start_time == AV_NOPTS_VALUE) continue;
    const int64_t at = av_rescale_q(stream->start_time, stream->time_base, AV_TIME_BASE_Q);
    if (start == AV_NOPTS_VALUE || at < start) start = at;
  }
  return start == AV_NOPTS_VALUE ? 0 : start;
}

}  // namespace

OpenStatus MovieFile::Open(const std::string &path, std::unique_ptr<MovieFile> *out) {
  out->reset();
  std::unique_ptr<FileInput> input;
  const OpenStatus opened = FileInput::Open(path, &input);
  if (opened != OpenStatus::kOk) return opened;
  AVFormatContext *raw = avformat_alloc_context();
  if (raw == nullptr) return OpenStatus::kNoMemory;
  QuietLog(raw);
  if (!input->Attach(raw)) {
    avformat_free_context(raw);
    return OpenStatus::kNoMemory;
  }
  // The path still names the file for probing by its extension. Demuxers
  // that read no byte stream but open their input by name themselves (image
  // sequences, devices) are no movie file.
  const AVInputFormat *demuxer = nullptr;
  int error = av_probe_input_buffer2(raw->pb, &demuxer, path.c_str(), raw, 0, 0);
  if (error < 0 || (demuxer->flags & AVFMT_NOFILE)) {
    avformat_free_context(raw);
    return error < 0 ? StatusFromOpenError(error) : OpenStatus::kNamesOtherFiles;
  }
  error = avformat_open_input(&raw, path.c_str(), demuxer, nullptr);
  if (input->RefusedAnOpen()) {
    if (error >= 0) avformat_close_input(&raw);
    return OpenStatus::kNamesOtherFiles;
  }
  if (error < 0) return StatusFromOpenError(error);
  std::unique_ptr<MovieFile> file(new MovieFile());
  file->input_ = std::move(input);
  file->format_.reset(raw);
  AVFormatContext *format = raw;

  // Only on the load's time: probe only what the headers leave open.
  file->probed_ = !HeadersSayEnough(format);
  if (file->probed_) {
    QuietStreamOptions options(format);
    error = avformat_find_stream_info(format, options.Get());
    if (error == AVERROR(ENOMEM)) return OpenStatus::kNoMemory;
  }
  if (file->input_->RefusedAnOpen()) return OpenStatus::kNamesOtherFiles;
  // A failure here still leaves the streams found so far usable.
  if (format->nb_streams == 0) return OpenStatus::kUnknownFormat;

  int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  // Cover art is a still picture in the video stream list, not a movie.
  if (video >= 0 && (format->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
    video = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      const AVStream *stream = format->streams[i];
      if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && HasDecoder(stream)) {
        video = static_cast<int>(i);
        break;
      }
    }
  }
  if (video < 0 || !HasDecoder(format->streams[video])) return OpenStatus::kNoVideo;
  const AVCodecParameters *videoPar = format->streams[video]->codecpar;
  if (videoPar->width <= 0 || videoPar->height <= 0) return OpenStatus::kNoVideo;
  file->videoIndex_ = video;
  file->shape_ = PictureShape::Of(format, format->streams[video]);

  int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
  if (audio >= 0 && HasDecoder(format->streams[audio]) &&
      format->streams[audio]->codecpar->sample_rate > 0) {
    file->audioIndex_ = audio;
  }

  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const bool wanted = static_cast<int>(i) == file->videoIndex_ || static_cast<int>(i) == file->audioIndex_;
    format->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }

  const int64_t start = file->probed_ ? format->start_time : HeaderStart(format);
  if (start != AV_NOPTS_VALUE) {
    file->origin_ = av_rescale_q(start, AV_TIME_BASE_Q, kReferenceTimeBase);
  }
  const AVStream *videoStream = format->streams[video];
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    file->duration_ = av_rescale_q(format->duration, AV_TIME_BASE_Q, kReferenceTimeBase);
  } else if (videoStream->duration != AV_NOPTS_VALUE && videoStream->duration > 0) {
    file->duration_ = ToReferenceTime(videoStream, videoStream->duration);
  }

  AVRational rate = videoStream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = videoStream->r_frame_rate;
  if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000.0) {
    file->frameDuration_ = av_rescale_q(1, av_inv_q(rate), kReferenceTimeBase);
  } else {
    file->frameDuration_ = 400000;  // 25 pictures a second when the file does not say
  }
  // A length guessed from the bit rate (raw elementary streams say a few ms
  // for movies of many seconds), or none: the picture's own end, read.
  const bool guessed = format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  if (file->duration_ <= 0 || (file->probed_ && guessed)) {
    const int64_t end = file->ScanPictureEnd();
    if (end > 0) {
      file->duration_ = end;
    } else {
      file->lengthOpen_ = true;  // the reader tells it once it reaches the end
    }
  }
  file->soundEnd_ = file->DeclaredSoundEnd();
  *out = std::move(file);
  return OpenStatus::kOk;
}

int64_t MovieFile::DeclaredSoundEnd() const {
  const AVStream *sound = AudioStream();
  const AVStream *picture = VideoStream();
  // Lengths estimated from time stamps or the bit rate are guesses, often short.
  // Unprobed, the streams' lengths are the headers' own (or missing).
  const bool fromStreams =
      !probed_ || format_->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
  if (sound == nullptr || !fromStreams) return INT64_MAX;
  const auto end = [this](const AVStream *stream) -> int64_t {
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return INT64_MAX;
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return ToMovieTime(stream, start) + ToReferenceTime(stream, stream->duration);
  };
  const int64_t soundEnd = end(sound);
  const int64_t pictureEnd = end(picture);
  if (soundEnd == INT64_MAX || pictureEnd == INT64_MAX) return INT64_MAX;
  // A header that has the sound end elsewhere than the picture may be wrong
  // (AVI's audio lengths often are): better some padding than lost sound.
  // MP4's edit lists give each stream's own length exactly: a sound longer
  // or shorter than the picture ends there too, or every loop grows by the
  // padding.
  const bool exact = std::strcmp(format_->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0;
  return exact || std::llabs(soundEnd - pictureEnd) <= frameDuration_ ? soundEnd : INT64_MAX;
}

int64_t MovieFile::ScanPictureEnd() {
  AVFormatContext *format = format_.get();
  const auto deadline = std::chrono::steady_clock::now() + kEndScanBudget;
  // Raw streams (no start time found) count their pictures' times from where
  // reading starts.
  const bool counted = (format->iformat->flags & AVFMT_NOTIMESTAMPS) != 0 ||
                       VideoStream()->start_time == AV_NOPTS_VALUE;
  const int64_t size = format->pb != nullptr ? avio_size(format->pb) : -1;
  if (!counted && size > kEndScanBytes &&
      av_seek_frame(format, -1, size - kEndScanBytes, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_ANY) < 0) {
    return -1;
  }
  const AVStream *picture = VideoStream();
  int64_t end = -1;
  bool whole = false;
  PacketPtr packet = MakePacket();
  while (packet && std::chrono::steady_clock::now() < deadline) {
    const int read = ReadOwnPacket(packet.get());
    if (read < 0) {
      whole = read == AVERROR_EOF;
      break;
    }
    const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (packet->stream_index == videoIndex_ && stamp != AV_NOPTS_VALUE) {
      end = std::max(end, ToMovieTime(picture, stamp) + PictureLength(packet.get()));
    }
    av_packet_unref(packet.get());
  }
  // The streams start from the beginning again (the first load reads on).
  if (!SeekNear(0)) return -1;
  return whole ? end : -1;
}

int64_t MovieFile::PictureLength(const AVPacket *packet) const {
  return packet->duration > 0 ? ToReferenceTime(VideoStream(), packet->duration) : frameDuration_;
}

void MovieFile::ExtendDuration(int64_t end) {
  if (!lengthOpen_) return;
  int64_t known = duration_.load();
  while (end > known && !duration_.compare_exchange_weak(known, end)) {
  }
}

bool MovieFile::TimeStampsMayJump() const {
  return (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
}

int64_t MovieFile::ToMovieTime(const AVStream *stream, int64_t timestamp) const {
  if (timestamp == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  return av_rescale_q(timestamp, stream->time_base, kReferenceTimeBase) - origin_;
}

int64_t MovieFile::ToReferenceTime(const AVStream *stream, int64_t length) {
  return av_rescale_q(length, stream->time_base, kReferenceTimeBase);
}

int MovieFile::ReadPacket(AVPacket *packet) {
  if (!pending_.empty()) {
    av_packet_move_ref(packet, pending_.front().get());
    pending_.pop_front();
    return 0;
  }
  return ReadOwnPacket(packet);
}

int MovieFile::ReadOwnPacket(AVPacket *packet) {
  for (;;) {
    const int error = av_read_frame(format_.get(), packet);
    if (error < 0) return error;
    if (packet->stream_index == videoIndex_ || packet->stream_index == audioIndex_) return 0;
    av_packet_unref(packet);
  }
}

bool MovieFile::SeekNear(int64_t position) {
  pending_.clear();
  AVFormatContext *format = format_.get();
  const int64_t target =
      av_rescale_q(position + origin_, kReferenceTimeBase, AV_TIME_BASE_Q);
  // Back to the start, aim well before it: demuxers that search the file by
  // time stamp (MPEG-TS) land on the first packet decoded at or after the
  // target, which passes over the first key frame when it is decoded before
  // the movie's first picture time (reordered pictures), losing its group of
  // pictures. Before the start they land on the first packet.
  const int64_t early = target - 10 * int64_t{AV_TIME_BASE};
  if (position <= 0 && avformat_seek_file(format, -1, INT64_MIN, early, early, 0) >= 0) return true;
  if (avformat_seek_file(format, -1, INT64_MIN, target, target, 0) >= 0) return true;
  if (av_seek_frame(format, -1, target, AVSEEK_FLAG_BACKWARD) >= 0) return true;
  // Containers without an index can still go back to their first byte.
  if (position <= 0 && av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0) return true;
  return false;
}

int64_t MovieFile::ReadToKeyFrame() {
  const AVStream *picture = VideoStream();
  for (int read = 0; read < kKeyFrameSearch; ++read) {
    PacketPtr packet = MakePacket();
    if (!packet || ReadOwnPacket(packet.get()) < 0) break;
    const bool video = packet->stream_index == videoIndex_;
    if (video && (packet->flags & AV_PKT_FLAG_KEY) != 0) {
      // Shown after its decode time by the stream's reordering (three pictures
      // with MPEG's two B-frames) where the container does not say.
      const bool shown = packet->pts != AV_NOPTS_VALUE;
      const int64_t stamp = shown ? packet->pts : packet->dts;
      const int64_t reorder =
          shown ? 0 : int64_t{std::max(picture->codecpar->video_delay + 1, 3)} * frameDuration_;
      pending_.push_back(std::move(packet));
      // Pictures before it would decode without their references.
      for (auto it = pending_.begin(); it + 1 != pending_.end();) {
        it = (*it)->stream_index == videoIndex_ ? pending_.erase(it) : it + 1;
      }
      return stamp == AV_NOPTS_VALUE ? INT64_MIN : ToMovieTime(picture, stamp) + reorder;
    }
    pending_.push_back(std::move(packet));
  }
  return INT64_MIN;  // none found: everything read plays as it is
}

bool MovieFile::SeekTo(int64_t position) {
  if (position <= 0) return SeekNear(0);
  // Demuxers that search by time stamp or byte (MPEG program streams) may land
  // after the target: aim before it, and further back while the first key
  // frame comes after it.
  int64_t margin = kSeekMargin;
  for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
    const int64_t aim = position - margin;
    if (aim <= 0) break;
    if (!SeekNear(aim)) return attempt > 0 && SeekNear(0);
    const int64_t key = ReadToKeyFrame();
    if (key <= position) return true;
    margin = 2 * margin + (key - position);
  }
  if (!SeekNear(0)) return false;
  ReadToKeyFrame();
  return true;
}

}  // namespace mediagraph
