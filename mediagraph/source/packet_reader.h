// The demux thread: reads the movie file into the packet buffer until the end
// of the file, then marks the end for both consumers. On the way it notes
// where the picture ends, which the sound needs before the picture gets there.
#pragma once

#include <atomic>
#include <cstdint>
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

  // Once the whole file has been read since Start: the movie time at which
  // its last picture ends, from the packets' own times. False before, or
  // where time stamps may jump (no end can be told from them). Any thread.
  bool PictureEnd(int64_t *end) const;
  // Likewise where the first picture starts and the last sound packet ends.
  // All three are known before that packet is handed on.
  bool PictureStart(int64_t *start) const;
  bool SoundEnd(int64_t *end) const;

 private:
  void Read(MovieFile *file, PacketBuffer *buffer);

  std::thread thread_;
  std::atomic<int64_t> pictureEnd_{-1};  // -1 until the end of the file
  std::atomic<int64_t> pictureStart_{-1};
  std::atomic<int64_t> soundEnd_{-1};
};

}  // namespace mediagraph
