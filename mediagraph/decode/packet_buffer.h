// Packets read ahead by the demux thread for the video and the audio thread.
//
// The demux thread reads while any consumer still wants packets and the total
// stays below a cap: a consumer that is starved is fed even when the other
// queue is long, so one slow stream cannot stall the other (the pattern of
// interleaving varies a lot between containers). Once content, the demux
// thread sleeps until a queue runs low, and each consumer is woken only for
// its own stream: a few wake-ups a second instead of one per packet.
//
// Thread-safe: one mutex guards everything; any thread may call Abort.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "mediagraph/decode/av_handles.h"

namespace mediagraph {

class PacketBuffer {
 public:
  enum Stream { kVideo = 0, kAudio = 1 };
  enum class PopResult { kPacket, kEnd, kAborted, kTimeout };

  PacketBuffer();

  // A stream with no consumer is never waited for. Set before streaming starts.
  void EnableStream(Stream stream, bool enabled);

  // Demux thread: waits until some consumer wants more packets. False when aborted.
  bool WaitForRoom();
  // Demux thread: appends a packet (ownership moves in).
  void Push(Stream stream, PacketPtr packet);
  // Demux thread: no more packets will come for any stream.
  void PushEnd();

  // Consumer thread: takes the next packet of its stream, waiting for one.
  PopResult Pop(Stream stream, PacketPtr *out);
  // The same, waiting at most `timeout` (kTimeout when none came).
  PopResult PopFor(Stream stream, PacketPtr *out, std::chrono::milliseconds timeout);

  // Wakes every waiter; Push drops, WaitForRoom and Pop fail until Reset.
  void Abort();
  // Drops every packet and the end mark and clears the abort (between sessions).
  void Reset();

  size_t QueuedPackets(Stream stream) const;

  // A consumer is content with this many packets read ahead...
  static constexpr size_t kWantedPackets = 48;
  // ...and nothing more is read ahead once this many bytes are waiting.
  static constexpr size_t kMaxBytes = 24u << 20;
  // A content demux thread reads again once a queue is down to this.
  static constexpr size_t kLowPackets = kWantedPackets / 2;

 private:
  bool WantsMoreLocked() const;
  bool RunningLowLocked() const;
  PopResult TakeLocked(Stream stream, PacketPtr *out);

  mutable std::mutex mutex_;
  // --- guarded by mutex_
  std::condition_variable roomChanged_;  // demux waits here
  std::condition_variable dataChanged_[2];  // each stream's consumer waits here
  std::deque<PacketPtr> queues_[2];
  bool enabled_[2] = {false, false};
  size_t bytes_ = 0;
  bool ended_ = false;
  bool aborted_ = false;
};

}  // namespace mediagraph
