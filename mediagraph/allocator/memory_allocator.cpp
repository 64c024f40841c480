#include "mediagraph/allocator/memory_allocator.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "platform/host/huge_pages.h"
#include "platform/media/codes.h"
#include "platform/media/guids.h"

namespace mediagraph {

namespace {
// A pool larger than this is refused rather than attempted.
constexpr uint64_t kMaxPoolBytes = uint64_t{1} << 31;

bool IsPowerOfTwo(LONG v) { return v > 0 && (v & (v - 1)) == 0; }
}  // namespace

HRESULT MemoryAllocator::Create(MemoryAllocator **out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) MemoryAllocator();
  if (!*out) return E_OUTOFMEMORY;
  (*out)->AddRef();
  return S_OK;
}

HRESULT MemoryAllocator::CreateInstance(IUnknown *outer, REFIID iid, void **out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  MemoryAllocator *allocator = nullptr;
  HRESULT hr = Create(&allocator);
  if (FAILED(hr)) return hr;
  hr = allocator->QueryInterface(iid, out);
  allocator->Release();
  return hr;
}

MemoryAllocator::~MemoryAllocator() = default;

STDMETHODIMP MemoryAllocator::QueryInterface(REFIID iid, void **out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
    *out = static_cast<IMemAllocator *>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MemoryAllocator::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) MemoryAllocator::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP MemoryAllocator::SetProperties(ALLOCATOR_PROPERTIES *request,
                                            ALLOCATOR_PROPERTIES *actual) {
  if (!request || !actual) return E_POINTER;
  const LONG align = request->cbAlign == 0 ? 1 : request->cbAlign;
  if (!IsPowerOfTwo(align)) return VFW_E_BADALIGN;
  if (request->cBuffers < 1 || request->cbBuffer < 1 || request->cbPrefix < 0) {
    return E_INVALIDARG;
  }
  // Each buffer with its prefix, rounded up to the alignment.
  const uint64_t slot =
      (uint64_t(request->cbPrefix) + uint64_t(request->cbBuffer) + uint64_t(align) - 1) /
      uint64_t(align) * uint64_t(align);
  if (slot > uint64_t(std::numeric_limits<LONG>::max()) ||
      slot * uint64_t(request->cBuffers) > kMaxPoolBytes) {
    return E_OUTOFMEMORY;
  }

  std::lock_guard<std::mutex> hold(lock_);
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (free_.size() != samples_.size()) return VFW_E_BUFFERS_OUTSTANDING;
  const bool same = propertiesSet_ && props_.cBuffers == request->cBuffers &&
                    props_.cbBuffer == LONG(slot) - request->cbPrefix &&
                    props_.cbAlign == align && props_.cbPrefix == request->cbPrefix;
  if (!same) FreeBlock();
  props_.cBuffers = request->cBuffers;
  props_.cbBuffer = LONG(slot) - request->cbPrefix;
  props_.cbAlign = align;
  props_.cbPrefix = request->cbPrefix;
  propertiesSet_ = true;
  *actual = props_;
  return S_OK;
}

STDMETHODIMP MemoryAllocator::GetProperties(ALLOCATOR_PROPERTIES *props) {
  if (!props) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  *props = props_;
  return S_OK;
}

STDMETHODIMP MemoryAllocator::Commit() {
  std::lock_guard<std::mutex> hold(lock_);
  if (committed_) return S_OK;
  if (!propertiesSet_) return VFW_E_SIZENOTSET;
  if (block_) {  // the last commit's block, samples of it perhaps still out
    committed_ = true;
    return S_OK;
  }
  const size_t stride = size_t(props_.cbPrefix) + size_t(props_.cbBuffer);
  const size_t count = size_t(props_.cBuffers);
  // Room to move the first buffer start onto the alignment.
  const size_t blockBytes = stride * count + size_t(props_.cbAlign);
  // On 2 MB pages: every sample is first written by a picture on its way to
  // the screen, and 4 KB pages made the first picture of a 4K movie wait
  // tens of milliseconds for their faults.
  HugePageBlock block(blockBytes);
  if (!block) return E_OUTOFMEMORY;
  const uintptr_t raw = reinterpret_cast<uintptr_t>(block.Data()) + uintptr_t(props_.cbPrefix);
  const uintptr_t mask = uintptr_t(props_.cbAlign) - 1;
  BYTE *first = block.Data() + ((raw + mask) & ~mask) - raw + props_.cbPrefix;

  std::vector<std::unique_ptr<MediaSample>> samples;
  std::vector<MediaSample *> freeList;
  samples.reserve(count);
  freeList.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    samples.emplace_back(new (std::nothrow) MediaSample(this, first + i * stride, props_.cbBuffer));
    if (!samples.back()) return E_OUTOFMEMORY;
    freeList.push_back(samples.back().get());
  }
  block_ = std::move(block);
  samples_ = std::move(samples);
  free_ = std::move(freeList);
  committed_ = true;
  return S_OK;
}

STDMETHODIMP MemoryAllocator::Decommit() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!committed_) return S_OK;
  committed_ = false;
  sampleFreed_.notify_all();
  return S_OK;
}

void MemoryAllocator::FreeBlock() {
  free_.clear();
  free_.shrink_to_fit();
  samples_.clear();
  block_ = HugePageBlock();
}

STDMETHODIMP MemoryAllocator::GetBuffer(IMediaSample **sample, REFERENCE_TIME *start,
                                        REFERENCE_TIME *end, DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  MediaSample *taken = nullptr;
  {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      if (!committed_) return VFW_E_NOT_COMMITTED;
      if (!free_.empty()) break;
      if (flags & AM_GBF_NOWAIT) return kAllocatorNoFreeSample;
      sampleFreed_.wait(hold);
    }
    taken = free_.back();
    free_.pop_back();
  }
  AddRef();  // held by the sample until it comes back
  taken->PrepareForUse(flags);
  if (start) taken->SetTime(start, end);
  taken->AddRef();
  *sample = taken;
  return S_OK;
}

STDMETHODIMP MemoryAllocator::ReleaseBuffer(IMediaSample *sample) {
  if (!sample) return E_POINTER;
  // A sample still referenced, or not out, stays where it is.
  MediaSample *own = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!Owns(sample)) return E_INVALIDARG;
    own = static_cast<MediaSample *>(static_cast<IMediaSample2 *>(sample));
    if (std::find(free_.begin(), free_.end(), own) != free_.end()) return E_INVALIDARG;
  }
  // The caller's reference is the last one: hand it back the normal way.
  return own->Release() == 0 ? S_OK : S_FALSE;
}

bool MemoryAllocator::Owns(const IMediaSample *sample) const {
  for (const auto &s : samples_) {
    if (static_cast<const IMediaSample *>(s.get()) == sample) return true;
  }
  return false;
}

void MemoryAllocator::ReturnSample(MediaSample *sample) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    free_.push_back(sample);
    sampleFreed_.notify_one();
  }
  Release();  // the reference GetBuffer took for this sample; may delete the allocator
}

}  // namespace mediagraph
