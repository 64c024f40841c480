#include "mediagraph/source/packet_reader.h"

#include <algorithm>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

void PacketReader::Start(MovieFile *file, PacketBuffer *buffer) {
  Join();
  thread_ = std::thread(&PacketReader::Read, this, file, buffer);
}

bool PacketReader::PictureEnd(int64_t *end) const {
  const int64_t known = pictureEnd_.load();
  if (known < 0) return false;
  *end = known;
  return true;
}

void PacketReader::Join() {
  if (thread_.joinable()) thread_.join();
  pictureEnd_ = -1;  // the next session reads from elsewhere
}

void PacketReader::Read(MovieFile *file, PacketBuffer *buffer) {
  NameThisThread("cl-read");
  // Reading is ahead of its time; woken by the game's thread (a stop, a
  // seek), it must not take that thread's core.
  RunInLongTurns();
  GiveWayToStarter();
  const AVStream *picture = file->VideoStream();
  int64_t pictureEnd = 0;
  bool whole = false;
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
      const int64_t length = packet->duration > 0
                                 ? MovieFile::ToReferenceTime(picture, packet->duration)
                                 : file->FrameDuration();
      pictureEnd = std::max(pictureEnd, file->ToMovieTime(picture, packet->pts) + length);
    }
    buffer->Push(stream, std::move(packet));
  }
  if (whole && !file->TimeStampsMayJump()) {
    pictureEnd_ = pictureEnd;
    // A length that was not told or could not be read in time at the load.
    file->ExtendDuration(pictureEnd);
  }
  buffer->PushEnd();
}

}  // namespace mediagraph
