#include "mediagraph/source/packet_reader.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

void PacketReader::Start(MovieFile *file, PacketBuffer *buffer) {
  Join();
  try {
    thread_ = std::thread(&PacketReader::Read, this, file, buffer);
  } catch (const std::system_error &) {
    buffer->PushEnd();  // nothing is read: the streams end at once
  }
}

namespace {

bool Known(const std::atomic<int64_t> &value, int64_t *out) {
  const int64_t known = value.load();
  if (known < 0) return false;
  *out = known;
  return true;
}

}  // namespace

bool PacketReader::PictureEnd(int64_t *end) const { return Known(pictureEnd_, end); }

bool PacketReader::PictureStart(int64_t *start) const { return Known(pictureStart_, start); }

bool PacketReader::SoundEnd(int64_t *end) const { return Known(soundEnd_, end); }

void PacketReader::Join() {
  if (thread_.joinable()) thread_.join();
  pictureEnd_ = -1;  // the next session reads from elsewhere
  pictureStart_ = -1;
  soundEnd_ = -1;
}

void PacketReader::Read(MovieFile *file, PacketBuffer *buffer) {
  NameThisThread("cl-read");
  // Reading is ahead of its time; woken by the game's thread (a stop, a
  // seek), it must not take that thread's core.
  RunInLongTurns();
  GiveWayToStarter();
  const AVStream *picture = file->VideoStream();
  const AVStream *sound = file->AudioStream();
  int64_t pictureStart = INT64_MAX;
  int64_t pictureEnd = 0;
  int64_t soundEnd = 0;
  bool whole = false;
  // The last sound packet read, handed on once the next one is read: the
  // sound thread learns where the file ends before it stages its end.
  PacketPtr heldSound;
  while (buffer->WaitForRoom()) {
    PacketPtr packet = MakePacket();
    if (!packet) break;
    // Any read error ends the movie here: a truncated or damaged file plays
    // what could be read and then ends cleanly.
    const int read = file->ReadPacket(packet.get());
    if (read < 0) {
      whole = read == AVERROR_EOF;
      break;
    }
    const PacketBuffer::Stream stream = packet->stream_index == file->VideoIndex()
                                            ? PacketBuffer::kVideo
                                            : PacketBuffer::kAudio;
    if (stream == PacketBuffer::kVideo && packet->pts != AV_NOPTS_VALUE) {
      const int64_t length = file->PictureLength(packet.get());
      const int64_t at = file->ToMovieTime(picture, packet->pts);
      pictureStart = std::min(pictureStart, at);
      pictureEnd = std::max(pictureEnd, at + length);
    }
    if (stream == PacketBuffer::kAudio) {
      if (packet->pts != AV_NOPTS_VALUE) {
        soundEnd = std::max(soundEnd, file->ToMovieTime(sound, packet->pts) +
                                          MovieFile::ToReferenceTime(sound, packet->duration));
      }
      std::swap(packet, heldSound);
      if (!packet) continue;
    }
    buffer->Push(stream, std::move(packet));
  }
  if (whole && !file->TimeStampsMayJump()) {
    soundEnd_ = soundEnd;
    pictureStart_ = std::max<int64_t>(0, std::min(pictureStart, pictureEnd));
    pictureEnd_ = pictureEnd;
    // A length that was not told or could not be read in time at the load.
    file->ExtendDuration(pictureEnd);
  }
  if (heldSound) buffer->Push(PacketBuffer::kAudio, std::move(heldSound));
  buffer->PushEnd();
}

}  // namespace mediagraph
