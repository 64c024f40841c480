#include "filterbase/base_input_pin.h"

#include <cstring>

#include "filterbase/base_filter.h"
#include "filterbase/media_type.h"

CBaseInputPin::CBaseInputPin(LPCWSTR label, CBaseFilter *owningFilter, CriticalLock *lock,
                             HRESULT *result, LPCWSTR pinName)
    : CBasePin(label, owningFilter, lock, result, pinName, PINDIR_INPUT),
      allocator(nullptr),
      readOnly(false),
      flushing(false),
      sampleProps(),
      ownsSampleType(false) {}

CBaseInputPin::~CBaseInputPin() {
  FreeSampleType();
  if (allocator != nullptr) allocator->Release();
}

STDMETHODIMP CBaseInputPin::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMemInputPin) return HandOutInterface(static_cast<IMemInputPin *>(this), out);
  return CBasePin::InnerQueryInterface(iid, out);
}

HRESULT CBaseInputPin::VerifyStreamingState() {
  if (FilterIsStopped()) return VFW_E_WRONG_STATE;
  if (IsFlushing()) return S_FALSE;
  if (HasRuntimeError()) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::UndoConnection() {
  if (allocator == nullptr) return S_OK;
  const HRESULT hr = allocator->Decommit();
  if (FAILED(hr)) return hr;
  allocator->Release();
  allocator = nullptr;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  ScopedLock guard(pinLock);
  __atomic_store_n(&flushing, true, __ATOMIC_RELEASE);
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  ScopedLock guard(pinLock);
  __atomic_store_n(&flushing, false, __ATOMIC_RELEASE);
  SetRuntimeError(false);
  return S_OK;
}

HRESULT CBaseInputPin::CreateDefaultAllocator() {
  IMemAllocator *created = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IMemAllocator, reinterpret_cast<void **>(&created));
  if (SUCCEEDED(hr) && created == nullptr) hr = E_UNEXPECTED;
  allocator = SUCCEEDED(hr) ? created : nullptr;
  return hr;
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator **out) {
  if (out == nullptr) return E_POINTER;
  ScopedLock guard(pinLock);
  if (allocator == nullptr) {
    const HRESULT hr = CreateDefaultAllocator();
    if (FAILED(hr)) return hr;
  }
  allocator->AddRef();
  *out = allocator;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator *chosen, BOOL readOnlyFlag) {
  if (chosen == nullptr) return E_POINTER;
  ScopedLock guard(pinLock);
  // AddRef before Release: the same allocator again must not drop to zero.
  chosen->AddRef();
  IMemAllocator *old = allocator;
  allocator = chosen;
  if (old != nullptr) old->Release();
  readOnly = (readOnlyFlag & 0xFF) != 0;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) {
  return E_NOTIMPL;
}

void CBaseInputPin::FreeSampleType() {
  if (ownsSampleType) DestroyMediaTypeBlock(sampleProps.pMediaType);
  ownsSampleType = false;
  sampleProps.pMediaType = nullptr;
}

void CBaseInputPin::FillPropertiesFromSample(IMediaSample *sample) {
  // Start from zero so that nothing of the previous sample (its times, say)
  // stays behind when this one does not say.
  std::memset(&sampleProps, 0, sizeof(sampleProps));
  // The platform's 32-bit layout is 48 bytes; this host's is larger (64 on
  // x86-64), so the size is always taken from the structure itself.
  sampleProps.cbData = sizeof(AM_SAMPLE2_PROPERTIES);
  sampleProps.dwTypeSpecificFlags = 0;
  sampleProps.dwStreamId = AM_STREAM_MEDIA;
  DWORD flags = 0;
  if (sample->IsDiscontinuity() == S_OK) flags |= AM_SAMPLE_DATADISCONTINUITY;
  if (sample->IsPreroll() == S_OK) flags |= AM_SAMPLE_PREROLL;
  if (sample->IsSyncPoint() == S_OK) flags |= AM_SAMPLE_SPLICEPOINT;
  if (SUCCEEDED(sample->GetTime(&sampleProps.tStart, &sampleProps.tStop))) {
    flags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  }
  AM_MEDIA_TYPE *type = nullptr;
  // S_OK announces a change even with a null type, which Receive then refuses.
  if (sample->GetMediaType(&type) == S_OK) {
    flags |= AM_SAMPLE_TYPECHANGED;
    sampleProps.pMediaType = type;
    ownsSampleType = type != nullptr;  // GetMediaType hands over a copy
  }
  sampleProps.dwSampleFlags = flags;
  sample->GetPointer(&sampleProps.pbBuffer);
  sampleProps.lActual = sample->GetActualDataLength();
  sampleProps.cbBuffer = sample->GetSize();
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample *sample) {
  if (sample == nullptr) return E_POINTER;
  HRESULT hr = VerifyStreamingState();
  if (hr != S_OK) return hr;

  FreeSampleType();
  IMediaSample2 *sample2 = nullptr;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&sample2))) &&
      sample2 != nullptr) {
    hr = sample2->GetProperties(sizeof(AM_SAMPLE2_PROPERTIES),
                                reinterpret_cast<BYTE *>(&sampleProps));
    sample2->Release();
    if (FAILED(hr)) return hr;
  } else {
    FillPropertiesFromSample(sample);
  }

  if ((sampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0) {
    // A type change without a type is refused like an unacceptable one.
    const AM_MEDIA_TYPE *type = sampleProps.pMediaType;
    if (type == nullptr || TestMediaType(type) != S_OK) {
      SetRuntimeError(true);
      static_cast<IPin *>(this)->EndOfStream();
      if (filter != nullptr) filter->RaiseGraphEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  return S_OK;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample **samples, LONG count,
                                            LONG *processed) {
  if (samples == nullptr || processed == nullptr) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  IMemInputPin *self = this;  // a derived Receive runs
  for (LONG i = 0; i < count; ++i) {
    hr = self->Receive(samples[i]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  if (filter == nullptr) return S_OK;
  const int count = filter->PinCount();
  int connectedOutputs = 0;
  for (int i = 0; i < count; ++i) {
    CBasePin *pin = filter->PinAt(i);
    if (pin == nullptr) continue;
    PIN_DIRECTION pinDirection = PINDIR_INPUT;
    const HRESULT hr = pin->QueryDirection(&pinDirection);
    if (FAILED(hr)) return hr;
    if (pinDirection != PINDIR_OUTPUT) continue;
    IPin *peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || peer == nullptr) continue;
    ++connectedOutputs;
    IMemInputPin *downstream = nullptr;
    const HRESULT asked =
        peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&downstream));
    peer->Release();
    if (FAILED(asked) || downstream == nullptr) return S_OK;
    const HRESULT blocks = downstream->ReceiveCanBlock();
    downstream->Release();
    if (blocks != S_FALSE) return S_OK;
  }
  return connectedOutputs == 0 ? S_OK : S_FALSE;
}
