// The default memory allocator across threads: waiting for a free buffer, being
// released from that wait by Decommit, and a producer/consumer run.
#include "mediagraph/allocator/memory_allocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "mediagraph/graph/com_ptr.h"
#include "platform/media/media.h"

using mediagraph::ComPtr;
using mediagraph::MemoryAllocator;

namespace {

ComPtr<IMemAllocator> Committed(LONG buffers, LONG size) {
  MemoryAllocator *raw = nullptr;
  EXPECT_EQ(MemoryAllocator::Create(&raw), S_OK);
  ComPtr<IMemAllocator> allocator = ComPtr<IMemAllocator>::Adopt(raw);
  ALLOCATOR_PROPERTIES request{buffers, size, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  return allocator;
}

// GetBuffer on another thread; the future gives its result and sample.
std::future<std::pair<HRESULT, IMediaSample *>> GetBufferAsync(IMemAllocator *allocator) {
  return std::async(std::launch::async, [allocator] {
    IMediaSample *sample = nullptr;
    const HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    return std::make_pair(hr, sample);
  });
}

}  // namespace

TEST(MemoryAllocatorThreaded, GetBufferWaitsUntilASampleComesBack) {
  ComPtr<IMemAllocator> allocator = Committed(1, 8);
  IMediaSample *held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  auto waiting = GetBufferAsync(allocator.get());
  // Still blocked while the only buffer is out.
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  held->Release();
  auto [hr, sample] = waiting.get();
  ASSERT_EQ(hr, S_OK);
  sample->Release();
}

TEST(MemoryAllocatorThreaded, DecommitReleasesAWaitingThreadWithAFailure) {
  ComPtr<IMemAllocator> allocator = Committed(1, 8);
  IMediaSample *held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  auto waiting = GetBufferAsync(allocator.get());
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(allocator->Decommit(), S_OK);
  auto [hr, sample] = waiting.get();
  EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
  EXPECT_EQ(sample, nullptr);
  held->Release();
}

TEST(MemoryAllocatorThreaded, ProducerAndConsumerPassEveryBufferIntact) {
  constexpr int kSamples = 2000;
  constexpr LONG kSize = 256;
  ComPtr<IMemAllocator> allocator = Committed(3, kSize);

  std::mutex lock;
  std::condition_variable ready;
  std::vector<IMediaSample *> queue;
  std::atomic<int> corrupt{0};

  std::thread consumer([&] {
    for (int n = 0; n < kSamples; ++n) {
      IMediaSample *sample = nullptr;
      {
        std::unique_lock<std::mutex> hold(lock);
        ready.wait(hold, [&] { return !queue.empty(); });
        sample = queue.front();
        queue.erase(queue.begin());
      }
      BYTE *data = nullptr;
      sample->GetPointer(&data);
      REFERENCE_TIME start = 0, stop = 0;
      sample->GetTime(&start, &stop);
      for (LONG i = 0; i < sample->GetActualDataLength(); ++i) {
        if (data[i] != BYTE(start + i)) ++corrupt;
      }
      if (start != n) ++corrupt;
      sample->Release();  // back to the pool, freeing the producer
    }
  });

  for (int n = 0; n < kSamples; ++n) {
    IMediaSample *sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    for (LONG i = 0; i < kSize; ++i) data[i] = BYTE(n + i);
    REFERENCE_TIME start = n, stop = n + 1;
    sample->SetTime(&start, &stop);
    std::lock_guard<std::mutex> hold(lock);
    queue.push_back(sample);
    ready.notify_one();
  }
  consumer.join();
  EXPECT_EQ(corrupt.load(), 0);
}
