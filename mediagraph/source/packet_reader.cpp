#include "mediagraph/source/packet_reader.h"

namespace mediagraph {

void PacketReader::Start(MovieFile *file, PacketBuffer *buffer) {
  Join();
  thread_ = std::thread(&PacketReader::Read, file, buffer);
}

void PacketReader::Join() {
  if (thread_.joinable()) thread_.join();
}

void PacketReader::Read(MovieFile *file, PacketBuffer *buffer) {
  while (buffer->WaitForRoom()) {
    PacketPtr packet = MakePacket();
    if (!packet) break;
    // Any read error ends the movie here: a truncated or damaged file plays
    // what could be read and then ends cleanly.
    if (file->ReadPacket(packet.get()) < 0) break;
    const PacketBuffer::Stream stream = packet->stream_index == file->VideoIndex()
                                            ? PacketBuffer::kVideo
                                            : PacketBuffer::kAudio;
    buffer->Push(stream, std::move(packet));
  }
  buffer->PushEnd();
}

}  // namespace mediagraph
