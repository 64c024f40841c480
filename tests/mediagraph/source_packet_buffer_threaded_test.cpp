// The read-ahead between the demux thread and the two decoding threads: a
// starved consumer is fed however long the other queue is, reading stops
// once every consumer has enough until one runs low, the end reaches both, and an abort frees
// every waiter. And the job thread that retires a session's threads.
#include <chrono>
#include <future>
#include <vector>
#include <thread>

#include <gtest/gtest.h>

#include "mediagraph/decode/packet_buffer.h"
#include "mediagraph/source/job_thread.h"

namespace mediagraph {
namespace {

using namespace std::chrono_literals;

PacketPtr Packet(int size) {
  PacketPtr packet = MakePacket();
  av_new_packet(packet.get(), size);
  return packet;
}

TEST(PacketBufferTest, StarvedConsumerIsFedWhileTheOtherHasPlenty) {
  PacketBuffer buffer;
  buffer.EnableStream(PacketBuffer::kVideo, true);
  buffer.EnableStream(PacketBuffer::kAudio, true);
  for (size_t i = 0; i < 3 * PacketBuffer::kWantedPackets; ++i) {
    ASSERT_TRUE(buffer.WaitForRoom());  // the audio queue is empty: keep reading
    buffer.Push(PacketBuffer::kVideo, Packet(100));
  }
  EXPECT_EQ(3 * PacketBuffer::kWantedPackets, buffer.QueuedPackets(PacketBuffer::kVideo));
  for (size_t i = 0; i < PacketBuffer::kWantedPackets; ++i) {
    buffer.Push(PacketBuffer::kAudio, Packet(100));
  }
  // Both have enough now: the reader waits until a queue runs low, not just
  // until a consumer takes one.
  auto reader = std::async(std::launch::async, [&] { return buffer.WaitForRoom(); });
  EXPECT_EQ(std::future_status::timeout, reader.wait_for(50ms));
  PacketPtr taken;
  ASSERT_EQ(PacketBuffer::PopResult::kPacket, buffer.Pop(PacketBuffer::kAudio, &taken));
  EXPECT_EQ(std::future_status::timeout, reader.wait_for(50ms));
  while (buffer.QueuedPackets(PacketBuffer::kAudio) > PacketBuffer::kLowPackets) {
    ASSERT_EQ(PacketBuffer::PopResult::kPacket, buffer.Pop(PacketBuffer::kAudio, &taken));
  }
  EXPECT_TRUE(reader.get());
}

TEST(PacketBufferTest, StreamWithoutConsumerIsNeitherWaitedForNorKept) {
  PacketBuffer buffer;
  buffer.EnableStream(PacketBuffer::kVideo, true);
  buffer.Push(PacketBuffer::kAudio, Packet(10));
  EXPECT_EQ(0u, buffer.QueuedPackets(PacketBuffer::kAudio));
  for (size_t i = 0; i < PacketBuffer::kWantedPackets; ++i) {
    buffer.Push(PacketBuffer::kVideo, Packet(10));
  }
  auto reader = std::async(std::launch::async, [&] { return buffer.WaitForRoom(); });
  EXPECT_EQ(std::future_status::timeout, reader.wait_for(50ms));
  buffer.Abort();
  EXPECT_FALSE(reader.get());
}

TEST(PacketBufferTest, ByteCapStopsReadingEvenForAStarvedConsumer) {
  PacketBuffer buffer;
  buffer.EnableStream(PacketBuffer::kVideo, true);
  buffer.EnableStream(PacketBuffer::kAudio, true);
  buffer.Push(PacketBuffer::kVideo, Packet(static_cast<int>(PacketBuffer::kMaxBytes)));
  auto reader = std::async(std::launch::async, [&] { return buffer.WaitForRoom(); });
  EXPECT_EQ(std::future_status::timeout, reader.wait_for(50ms));
  PacketPtr taken;
  ASSERT_EQ(PacketBuffer::PopResult::kPacket, buffer.Pop(PacketBuffer::kVideo, &taken));
  EXPECT_TRUE(reader.get());
}

TEST(PacketBufferTest, EndReachesEachConsumerAfterItsLastPacket) {
  PacketBuffer buffer;
  buffer.EnableStream(PacketBuffer::kVideo, true);
  buffer.EnableStream(PacketBuffer::kAudio, true);
  buffer.Push(PacketBuffer::kVideo, Packet(1));
  buffer.PushEnd();
  PacketPtr taken;
  EXPECT_EQ(PacketBuffer::PopResult::kPacket, buffer.Pop(PacketBuffer::kVideo, &taken));
  EXPECT_EQ(PacketBuffer::PopResult::kEnd, buffer.Pop(PacketBuffer::kVideo, &taken));
  EXPECT_EQ(PacketBuffer::PopResult::kEnd, buffer.Pop(PacketBuffer::kAudio, &taken));
  EXPECT_EQ(PacketBuffer::PopResult::kEnd,
            buffer.PopFor(PacketBuffer::kAudio, &taken, std::chrono::milliseconds(0)));
}

TEST(PacketBufferTest, AbortFreesWaitersAndResetStartsAgain) {
  PacketBuffer buffer;
  buffer.EnableStream(PacketBuffer::kVideo, true);
  PacketPtr taken;
  EXPECT_EQ(PacketBuffer::PopResult::kTimeout,
            buffer.PopFor(PacketBuffer::kVideo, &taken, std::chrono::milliseconds(10)));
  auto consumer = std::async(std::launch::async, [&] {
    PacketPtr packet;
    return buffer.Pop(PacketBuffer::kVideo, &packet);
  });
  EXPECT_EQ(std::future_status::timeout, consumer.wait_for(50ms));
  buffer.Abort();
  EXPECT_EQ(PacketBuffer::PopResult::kAborted, consumer.get());
  buffer.Push(PacketBuffer::kVideo, Packet(1));  // dropped while aborted
  EXPECT_EQ(0u, buffer.QueuedPackets(PacketBuffer::kVideo));

  buffer.Reset();
  buffer.Push(PacketBuffer::kVideo, Packet(1));
  EXPECT_EQ(PacketBuffer::PopResult::kPacket, buffer.Pop(PacketBuffer::kVideo, &taken));
}

// A job thread (the video thread) runs its jobs in turn, off the poster's thread; AwaitIdle waits for
// one still running, and the end runs what is left.
TEST(JobThreadTest, RunsJobsInTurnOffThePostersThreadAndAwaitsTheRunningOne) {
  std::vector<int> order;  // the jobs' own; read once they are awaited
  std::thread::id ranOn;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  {
    JobThread jobs("test-jobs");
    jobs.Post([&] { order.push_back(1); });
    jobs.Post([&] {  // taken off the queue, and still running
      ranOn = std::this_thread::get_id();
      released.wait();
      order.push_back(2);
    });
    auto idle = std::async(std::launch::async, [&] { jobs.AwaitIdle(); });
    EXPECT_EQ(std::future_status::timeout, idle.wait_for(20ms));
    release.set_value();
    idle.get();
    EXPECT_EQ((std::vector<int>{1, 2}), order);
    EXPECT_NE(std::this_thread::get_id(), ranOn);
    jobs.Post([&] { order.push_back(3); });
  }
  EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
}

}  // namespace
}  // namespace mediagraph
