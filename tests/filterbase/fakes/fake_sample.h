// A media sample whose every answer the test chooses. With `withSample2` it
// also offers IMediaSample2 and answers GetProperties from `properties`.
#pragma once

#include <cstring>
#include <vector>

#include "filterbase/media_type.h"
#include "tests/filterbase/fakes/counted_object.h"

namespace fbtest {

class FakeSample final : public CountedObject<IMediaSample2> {
 public:
  explicit FakeSample(bool withSample2 = false) : sample2(withSample2), buffer(32, 0) {}
  ~FakeSample() = default;

  // Answers of the IMediaSample queries.
  HRESULT discontinuity = S_FALSE;
  HRESULT preroll = S_FALSE;
  HRESULT syncPoint = S_FALSE;
  HRESULT timeResult = S_OK;
  REFERENCE_TIME start = 100;
  REFERENCE_TIME stop = 200;
  LONG actual = 24;
  // GetMediaType hands out a task-memory copy of this when set (S_OK), else
  // untypedAnswer with null.
  const AM_MEDIA_TYPE *mediaType = nullptr;
  HRESULT untypedAnswer = S_FALSE;
  // IMediaSample2.
  AM_SAMPLE2_PROPERTIES properties{};
  HRESULT propertiesResult = S_OK;
  DWORD propertiesSizeAsked = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IMediaSample || (sample2 && iid == IID_IMediaSample2)) {
      *out = static_cast<IMediaSample2 *>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }

  STDMETHODIMP GetPointer(BYTE **out) override {
    if (out == nullptr) return E_POINTER;
    *out = buffer.data();
    return S_OK;
  }
  STDMETHODIMP_(LONG) GetSize() override { return static_cast<LONG>(buffer.size()); }
  STDMETHODIMP GetTime(REFERENCE_TIME *s, REFERENCE_TIME *e) override {
    if (FAILED(timeResult)) return timeResult;
    *s = start;
    *e = stop;
    return timeResult;
  }
  STDMETHODIMP SetTime(REFERENCE_TIME *, REFERENCE_TIME *) override { return E_NOTIMPL; }
  STDMETHODIMP IsSyncPoint() override { return syncPoint; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP IsPreroll() override { return preroll; }
  STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP_(LONG) GetActualDataLength() override { return actual; }
  STDMETHODIMP SetActualDataLength(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE **out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (mediaType == nullptr) return untypedAnswer;
    auto *block = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (block == nullptr) return E_OUTOFMEMORY;
    CopyMediaTypeContents(block, mediaType);
    *out = block;
    return S_OK;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  STDMETHODIMP IsDiscontinuity() override { return discontinuity; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetMediaTime(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
  STDMETHODIMP SetMediaTime(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }

  STDMETHODIMP GetProperties(DWORD size, BYTE *out) override {
    propertiesSizeAsked = size;
    if (FAILED(propertiesResult)) return propertiesResult;
    std::memcpy(out, &properties, size < sizeof(properties) ? size : sizeof(properties));
    return S_OK;
  }
  STDMETHODIMP SetProperties(DWORD, const BYTE *) override { return E_NOTIMPL; }

 private:
  const bool sample2;
  std::vector<BYTE> buffer;
};

}  // namespace fbtest
