#include "mediagraph/decode/packet_buffer.h"

#include <utility>

namespace mediagraph {

PacketBuffer::PacketBuffer() = default;

void PacketBuffer::EnableStream(Stream stream, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_[stream] = enabled;
  roomChanged_.notify_all();
}

bool PacketBuffer::WantsMoreLocked() const {
  if (bytes_ >= kMaxBytes) return false;
  for (int i = 0; i < 2; ++i) {
    if (enabled_[i] && queues_[i].size() < kWantedPackets) return true;
  }
  return false;
}

bool PacketBuffer::RunningLowLocked() const {
  if (bytes_ >= kMaxBytes) return false;
  for (int i = 0; i < 2; ++i) {
    if (enabled_[i] && queues_[i].size() <= kLowPackets) return true;
  }
  return false;
}

bool PacketBuffer::WaitForRoom() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!aborted_ && !WantsMoreLocked()) {
    roomChanged_.wait(lock, [this] { return aborted_ || RunningLowLocked(); });
  }
  return !aborted_;
}

void PacketBuffer::Push(Stream stream, PacketPtr packet) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted_ || !enabled_[stream]) return;
  bytes_ += static_cast<size_t>(packet->size);
  queues_[stream].push_back(std::move(packet));
  dataChanged_[stream].notify_all();
}

void PacketBuffer::PushEnd() {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  dataChanged_[kVideo].notify_all();
  dataChanged_[kAudio].notify_all();
}

PacketBuffer::PopResult PacketBuffer::Pop(Stream stream, PacketPtr *out) {
  std::unique_lock<std::mutex> lock(mutex_);
  dataChanged_[stream].wait(lock,
                            [&] { return aborted_ || ended_ || !queues_[stream].empty(); });
  return TakeLocked(stream, out);
}

PacketBuffer::PopResult PacketBuffer::PopFor(Stream stream, PacketPtr *out,
                                             std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!dataChanged_[stream].wait_for(lock, timeout, [&] {
        return aborted_ || ended_ || !queues_[stream].empty();
      })) {
    return PopResult::kTimeout;
  }
  return TakeLocked(stream, out);
}

PacketBuffer::PopResult PacketBuffer::TakeLocked(Stream stream, PacketPtr *out) {
  if (aborted_) return PopResult::kAborted;
  if (queues_[stream].empty()) return PopResult::kEnd;
  *out = std::move(queues_[stream].front());
  queues_[stream].pop_front();
  bytes_ -= static_cast<size_t>((*out)->size);
  if (RunningLowLocked()) roomChanged_.notify_all();
  return PopResult::kPacket;
}

void PacketBuffer::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_ = true;
  roomChanged_.notify_all();
  dataChanged_[kVideo].notify_all();
  dataChanged_[kAudio].notify_all();
}

void PacketBuffer::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  queues_[0].clear();
  queues_[1].clear();
  bytes_ = 0;
  ended_ = false;
  aborted_ = false;
}

size_t PacketBuffer::QueuedPackets(Stream stream) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queues_[stream].size();
}

}  // namespace mediagraph
