// The demux thread: reads the movie file into the packet buffer until the end
// of the file, then marks the end for both consumers.
#pragma once

#include <thread>

#include "mediagraph/decode/movie_file.h"
#include "mediagraph/decode/packet_buffer.h"

namespace mediagraph {

class PacketReader {
 public:
  PacketReader() = default;
  ~PacketReader() { Join(); }
  PacketReader(const PacketReader &) = delete;
  PacketReader &operator=(const PacketReader &) = delete;

  // Starts reading from the file's current position. The file belongs to the
  // thread until Join returns.
  void Start(MovieFile *file, PacketBuffer *buffer);
  // Waits for the thread; abort the buffer first to end it early.
  void Join();

 private:
  static void Read(MovieFile *file, PacketBuffer *buffer);

  std::thread thread_;
};

}  // namespace mediagraph
