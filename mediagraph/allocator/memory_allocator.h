// The default memory allocator (CLSID_MemoryAllocator): a fixed pool of equal
// buffers in one block, handed out as samples.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "mediagraph/allocator/media_sample.h"
#include "platform/host/huge_pages.h"
#include "platform/media/streaming.h"

namespace mediagraph {

// GetBuffer with AM_GBF_NOWAIT and no free sample.
constexpr HRESULT kAllocatorNoFreeSample = MAKE_HRESULT_CONST(0x8004022E);

// Pool states:
//
//   unset --SetProperties--> decommitted --Commit--> committed
//                                ^                      |
//                                +------Decommit--------+
//
// The first Commit allocates the block and the samples; Decommit refuses further
// GetBuffer calls and wakes the threads waiting in GetBuffer (they fail). The block
// stays for the next Commit, which reuses it whether or not samples are still out:
// a stop and a new cue (every rewind) would otherwise unmap and map it again, and
// unmapping a 4K movie's 100 MB took the game's thread up to 5 ms. New properties
// (with every sample back) and the allocator's end free it. Every sample that is
// out holds a reference on the allocator, so the block outlives the last sample.
class MemoryAllocator final : public IMemAllocator {
 public:
  // New allocator with one reference.
  static HRESULT Create(MemoryAllocator **out);
  // Class factory for the component registry (no aggregation).
  static HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMemAllocator. SetProperties rounds each buffer up so that every buffer start
  // is aligned; cbAlign must be a power of two (0 counts as 1).
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES *props) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  // Blocks until a sample is free, unless AM_GBF_NOWAIT; fails with
  // VFW_E_NOT_COMMITTED when the pool is (or becomes) decommitted.
  STDMETHODIMP GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end,
                         DWORD flags) override;
  // Samples come back by their last Release; this only accepts samples of this pool
  // that are out and have no references left.
  STDMETHODIMP ReleaseBuffer(IMediaSample *sample) override;

  // Called by a sample whose count reached zero.
  void ReturnSample(MediaSample *sample);

 private:
  MemoryAllocator() = default;
  ~MemoryAllocator();

  // Called with lock_ held.
  void FreeBlock();  // lock_ held, every sample back
  bool Owns(const IMediaSample *sample) const;

  std::atomic<LONG> refs_{0};

  std::mutex lock_;
  std::condition_variable sampleFreed_;  // a sample came back or the pool decommitted
  // --- guarded by lock_
  bool propertiesSet_ = false;
  bool committed_ = false;
  ALLOCATOR_PROPERTIES props_{};  // as granted by SetProperties
  HugePageBlock block_;
  std::vector<std::unique_ptr<MediaSample>> samples_;  // every sample of the block
  std::vector<MediaSample *> free_;                    // capacity reserved at Commit
};

}  // namespace mediagraph
