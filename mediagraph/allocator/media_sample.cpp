#include "mediagraph/allocator/media_sample.h"

#include <cstddef>
#include <cstring>

#include "mediagraph/allocator/memory_allocator.h"
#include "mediagraph/allocator/task_media_type.h"
#include "platform/media/codes.h"
#include "platform/media/guids.h"

namespace mediagraph {

MediaSample::MediaSample(MemoryAllocator *owner, BYTE *buffer, LONG size)
    : owner_(owner), buffer_(buffer), size_(size), actual_(size) {}

MediaSample::~MediaSample() { ClearMediaType(); }

void MediaSample::ClearMediaType() {
  FreeTaskMediaType(mediaType_);
  mediaType_ = nullptr;
  flags_ &= ~AM_SAMPLE_TYPECHANGED;
}

void MediaSample::PrepareForUse(DWORD getBufferFlags) {
  ClearMediaType();
  flags_ = 0;
  if (getBufferFlags & AM_GBF_PREVFRAMESKIPPED) flags_ |= AM_SAMPLE_DATADISCONTINUITY;
  typeSpecificFlags_ = 0;
  streamId_ = AM_STREAM_MEDIA;
  actual_ = size_;
  start_ = stop_ = 0;
  mediaTimeValid_ = false;
  mediaStart_ = mediaStop_ = 0;
}

STDMETHODIMP MediaSample::QueryInterface(REFIID iid, void **out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample || iid == IID_IMediaSample2) {
    *out = static_cast<IMediaSample2 *>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaSample::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) MediaSample::Release() {
  const LONG left = --refs_;
  // The allocator may free this sample inside ReturnSample: nothing touches `this`
  // after the call.
  if (left == 0) owner_->ReturnSample(this);
  return static_cast<ULONG>(left);
}

STDMETHODIMP MediaSample::GetPointer(BYTE **buffer) {
  if (!buffer) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

STDMETHODIMP_(LONG) MediaSample::GetSize() { return size_; }

STDMETHODIMP MediaSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) {
  if (!start || !end) return E_POINTER;
  if (!(flags_ & AM_SAMPLE_TIMEVALID)) return VFW_E_TIME_NOT_SET;
  *start = start_;
  if (flags_ & AM_SAMPLE_STOPVALID) {
    *end = stop_;
    return S_OK;
  }
  *end = start_ + 1;
  return kSampleNoStopTime;
}

STDMETHODIMP MediaSample::SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) {
  if (!start) {
    flags_ &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    return S_OK;
  }
  start_ = *start;
  flags_ |= AM_SAMPLE_TIMEVALID;
  if (end) {
    stop_ = *end;
    flags_ |= AM_SAMPLE_STOPVALID;
  } else {
    flags_ &= ~AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

STDMETHODIMP MediaSample::IsSyncPoint() { return (flags_ & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }

STDMETHODIMP MediaSample::SetSyncPoint(BOOL syncPoint) {
  SetFlag(AM_SAMPLE_SPLICEPOINT, syncPoint != FALSE);
  return S_OK;
}

STDMETHODIMP MediaSample::IsPreroll() { return (flags_ & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }

STDMETHODIMP MediaSample::SetPreroll(BOOL preroll) {
  SetFlag(AM_SAMPLE_PREROLL, preroll != FALSE);
  return S_OK;
}

STDMETHODIMP_(LONG) MediaSample::GetActualDataLength() { return actual_; }

STDMETHODIMP MediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  actual_ = length;
  return S_OK;
}

STDMETHODIMP MediaSample::GetMediaType(AM_MEDIA_TYPE **mediaType) {
  if (!mediaType) return E_POINTER;
  *mediaType = nullptr;
  if (!mediaType_) return S_FALSE;
  *mediaType = CopyMediaTypeToTaskMemory(*mediaType_);
  return *mediaType ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP MediaSample::SetMediaType(AM_MEDIA_TYPE *mediaType) {
  if (!mediaType) {
    ClearMediaType();
    return S_OK;
  }
  AM_MEDIA_TYPE *copy = CopyMediaTypeToTaskMemory(*mediaType);
  if (!copy) return E_OUTOFMEMORY;
  ClearMediaType();
  mediaType_ = copy;
  flags_ |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

STDMETHODIMP MediaSample::IsDiscontinuity() {
  return (flags_ & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}

STDMETHODIMP MediaSample::SetDiscontinuity(BOOL discontinuity) {
  SetFlag(AM_SAMPLE_DATADISCONTINUITY, discontinuity != FALSE);
  return S_OK;
}

STDMETHODIMP MediaSample::GetMediaTime(LONGLONG *start, LONGLONG *end) {
  if (!start || !end) return E_POINTER;
  if (!mediaTimeValid_) return VFW_E_TIME_NOT_SET;
  *start = mediaStart_;
  *end = mediaStop_;
  return S_OK;
}

STDMETHODIMP MediaSample::SetMediaTime(LONGLONG *start, LONGLONG *end) {
  if (!start) {
    mediaTimeValid_ = false;
    return S_OK;
  }
  if (!end) return E_POINTER;
  mediaStart_ = *start;
  mediaStop_ = *end;
  mediaTimeValid_ = true;
  return S_OK;
}

STDMETHODIMP MediaSample::GetProperties(DWORD size, BYTE *properties) {
  if (!properties) return E_POINTER;
  if (size > sizeof(AM_SAMPLE2_PROPERTIES)) return E_INVALIDARG;
  AM_SAMPLE2_PROPERTIES p{};
  p.cbData = size;
  p.dwTypeSpecificFlags = typeSpecificFlags_;
  p.dwSampleFlags = flags_;
  p.lActual = actual_;
  p.tStart = start_;
  p.tStop = stop_;
  p.dwStreamId = streamId_;
  p.pMediaType = mediaType_;
  p.pbBuffer = buffer_;
  p.cbBuffer = size_;
  std::memcpy(properties, &p, size);
  return S_OK;
}

namespace {
// Whether the first `size` bytes of the record include `field` whole.
constexpr bool Covers(DWORD size, size_t offset, size_t width) { return size >= offset + width; }
}  // namespace

STDMETHODIMP MediaSample::SetProperties(DWORD size, const BYTE *properties) {
  if (!properties) return E_POINTER;
  if (size > sizeof(AM_SAMPLE2_PROPERTIES) ||
      !Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), sizeof(DWORD))) {
    return E_INVALIDARG;
  }
  AM_SAMPLE2_PROPERTIES p{};
  std::memcpy(&p, properties, size);

  const bool hasActual = Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, lActual), sizeof(LONG));
  if (hasActual && (p.lActual < 0 || p.lActual > size_)) return VFW_E_BUFFER_OVERFLOW;
  const bool hasType =
      Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, pMediaType), sizeof(AM_MEDIA_TYPE *));
  // Take the new type first so that a failure changes nothing.
  AM_MEDIA_TYPE *newType = nullptr;
  if (hasType && (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && p.pMediaType &&
      p.pMediaType != mediaType_) {
    newType = CopyMediaTypeToTaskMemory(*p.pMediaType);
    if (!newType) return E_OUTOFMEMORY;
  }

  typeSpecificFlags_ = p.dwTypeSpecificFlags;
  const DWORD keepType = flags_ & AM_SAMPLE_TYPECHANGED;
  flags_ = p.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED;
  if (hasActual) actual_ = p.lActual;
  if (Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, tStart), sizeof(REFERENCE_TIME))) start_ = p.tStart;
  if (Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, tStop), sizeof(REFERENCE_TIME))) stop_ = p.tStop;
  if (Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId), sizeof(DWORD))) {
    streamId_ = p.dwStreamId;
  }
  if (!hasType) {
    flags_ |= keepType;
  } else if (!(p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) || !p.pMediaType) {
    ClearMediaType();
  } else if (newType) {
    ClearMediaType();
    mediaType_ = newType;
    flags_ |= AM_SAMPLE_TYPECHANGED;
  } else {
    flags_ |= AM_SAMPLE_TYPECHANGED;  // the sample's own type handed back unchanged
  }
  return S_OK;
}

}  // namespace mediagraph
