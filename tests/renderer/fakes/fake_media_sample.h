// A media sample with chosen times and flags. It offers only IMediaSample (no
// IMediaSample2), so the input pin reads its properties call by call.
#pragma once

#include <atomic>
#include <vector>

#include "platform/media/codes.h"
#include "platform/media/guids.h"
#include "platform/media/streaming.h"

namespace fakes {

class FakeMediaSample final : public IMediaSample {
 public:
  // A sample without time stamps.
  explicit FakeMediaSample(LONG size = 16) : buffer_(static_cast<size_t>(size), 0) {}
  FakeMediaSample(REFERENCE_TIME start, REFERENCE_TIME stop, LONG size = 16)
      : buffer_(static_cast<size_t>(size), 0), hasTime_(true), start_(start), stop_(stop) {}
  FakeMediaSample(const FakeMediaSample &) = delete;
  FakeMediaSample &operator=(const FakeMediaSample &) = delete;
  ~FakeMediaSample() = default;

  void SetDiscontinuityFlag(bool on) { discontinuity_ = on; }
  // Makes the sample carry a media type change (not owned; must outlive the sample's use).
  void SetTypeChange(AM_MEDIA_TYPE *type) { typeChange_ = type; }

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMediaSample) {
      *out = static_cast<IMediaSample *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  ULONG RefCount() const { return refs_; }

  STDMETHODIMP GetPointer(BYTE **buffer) override {
    if (buffer == nullptr) return E_POINTER;
    *buffer = buffer_.data();
    return S_OK;
  }
  STDMETHODIMP_(LONG) GetSize() override { return static_cast<LONG>(buffer_.size()); }
  STDMETHODIMP GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override {
    if (!hasTime_) return VFW_E_TIME_NOT_SET;
    if (start != nullptr) *start = start_;
    if (end != nullptr) *end = stop_;
    return S_OK;
  }
  STDMETHODIMP SetTime(REFERENCE_TIME *, REFERENCE_TIME *) override { return E_NOTIMPL; }
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP_(LONG) GetActualDataLength() override { return static_cast<LONG>(buffer_.size()); }
  STDMETHODIMP SetActualDataLength(LONG) override { return E_NOTIMPL; }
  // Hands out the caller's own copy, as a real sample does; the receiver frees it.
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE **mediaType) override {
    if (mediaType == nullptr) return E_POINTER;
    *mediaType = nullptr;
    if (typeChange_ == nullptr) return S_FALSE;
    auto *copy = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    *copy = *typeChange_;
    copy->pUnk = nullptr;
    copy->cbFormat = 0;
    copy->pbFormat = nullptr;
    *mediaType = copy;
    return S_OK;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetMediaTime(LONGLONG *, LONGLONG *) override { return VFW_E_TIME_NOT_SET; }
  STDMETHODIMP SetMediaTime(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }

 private:
  std::atomic<ULONG> refs_{0};
  std::vector<BYTE> buffer_;
  bool hasTime_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  bool discontinuity_ = false;
  AM_MEDIA_TYPE *typeChange_ = nullptr;
};

}  // namespace fakes
