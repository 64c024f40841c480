// One buffer of the default memory allocator, handed out as IMediaSample2.
#pragma once

#include <atomic>

#include "platform/media/streaming.h"

namespace mediagraph {

class MemoryAllocator;

// Success code of GetTime when the sample has a start but no stop time.
constexpr HRESULT kSampleNoStopTime = MAKE_HRESULT_CONST(0x00040270);

// A sample lives in its allocator's pool with a count of zero. GetBuffer hands it out
// with one reference; the last Release gives it back to the pool (the allocator never
// deletes a sample that is out). The buffer memory belongs to the allocator.
//
// Threads: a sample belongs to one thread at a time (the producer that filled it, then
// the consumer it was passed to), so its fields take no lock. Only the count is
// touched concurrently and is atomic.
class MediaSample final : public IMediaSample2 {
 public:
  MediaSample(MemoryAllocator *owner, BYTE *buffer, LONG size);
  ~MediaSample();
  MediaSample(const MediaSample &) = delete;
  MediaSample &operator=(const MediaSample &) = delete;

  // Called by the allocator when the sample leaves the pool: clears times, flags
  // and media type and makes the whole buffer the actual data.
  void PrepareForUse(DWORD getBufferFlags);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMediaSample
  STDMETHODIMP GetPointer(BYTE **buffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
  STDMETHODIMP SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL syncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL preroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(LONG length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE **mediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE *mediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL discontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG *start, LONGLONG *end) override;
  STDMETHODIMP SetMediaTime(LONGLONG *start, LONGLONG *end) override;

  // IMediaSample2. GetProperties copies the first `size` bytes of the record; the
  // media type pointer in it stays owned by the sample. SetProperties takes the
  // flags, stream id, type-specific flags, times, actual length and media type
  // covered by `size`; the buffer pointer and size cannot be changed.
  STDMETHODIMP GetProperties(DWORD size, BYTE *properties) override;
  STDMETHODIMP SetProperties(DWORD size, const BYTE *properties) override;

 private:
  void SetFlag(DWORD flag, bool on) { flags_ = on ? (flags_ | flag) : (flags_ & ~flag); }
  void ClearMediaType();

  std::atomic<LONG> refs_{0};
  MemoryAllocator *const owner_;  // outlives every sample it owns
  BYTE *const buffer_;
  const LONG size_;

  // --- owned by the thread that holds the sample
  DWORD flags_ = 0;  // AM_SAMPLE_* bits; TYPECHANGED mirrors mediaType_ != null
  DWORD typeSpecificFlags_ = 0;
  DWORD streamId_ = AM_STREAM_MEDIA;
  LONG actual_ = 0;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  bool mediaTimeValid_ = false;
  LONGLONG mediaStart_ = 0;
  LONGLONG mediaStop_ = 0;
  AM_MEDIA_TYPE *mediaType_ = nullptr;  // task memory, owned
};

}  // namespace mediagraph
