#include "filterbase/enum_pins.h"

#include <new>

#include "filterbase/base_filter.h"
#include "filterbase/base_pin.h"
#include "filterbase/unknown.h"

CEnumPins::CEnumPins(CBaseFilter *enumerated, const CEnumPins *source, HRESULT *result)
    : position(0), pinCount(0), filter(enumerated), version(0), referenceCount(1) {
  static_cast<IBaseFilter *>(filter)->AddRef();
  HRESULT hr = S_OK;
  if (source != nullptr) {
    position = source->position;
    pinCount = source->pinCount;
    version = source->version;
    // A clone that forgot some seen pins would hand them out twice.
    if (!seenPins.AppendAll(source->seenPins)) hr = E_OUTOFMEMORY;
  } else {
    Synchronise();
  }
  if (result != nullptr) *result = hr;
}

CEnumPins::~CEnumPins() { static_cast<IBaseFilter *>(filter)->Release(); }

void CEnumPins::Synchronise() {
  version = filter->PinListVersion();
  pinCount = filter->PinCount();
  position = 0;
}

STDMETHODIMP CEnumPins::QueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IEnumPins || iid == IID_IUnknown) {
    return HandOutInterface(static_cast<IEnumPins *>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumPins::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&referenceCount));
}

STDMETHODIMP_(ULONG) CEnumPins::Release() {
  const LONG count = InterlockedDecrement(&referenceCount);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP CEnumPins::Next(ULONG count, IPin **pins, ULONG *fetched) {
  if (pins == nullptr) return E_POINTER;
  if (fetched != nullptr) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  // A changed pin list starts over, but the seen pins keep pins handed out
  // before the change from being handed out again.
  if (filter->PinListVersion() != version) Synchronise();

  const LONG left = pinCount - position;
  ULONG wanted = left > 0 ? static_cast<ULONG>(left) : 0;
  if (count < wanted) wanted = count;
  if (wanted == 0) return S_FALSE;

  ULONG handedOut = 0;
  while (position != pinCount && wanted > 0) {
    CBasePin *pin = filter->PinAt(position);
    ++position;
    if (pin == nullptr) {
      // The caller ignores the array of a failed call: take back what this
      // call handed out rather than leave references nobody releases.
      for (ULONG i = 0; i < handedOut; ++i) {
        pins[i]->Release();
        pins[i] = nullptr;
      }
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (seenPins.Contains(pin)) continue;
    IPin *iface = static_cast<IPin *>(pin);
    iface->AddRef();
    pins[handedOut] = iface;
    seenPins.Add(pin);  // a failed add only means the pin may come again
    ++handedOut;
    --wanted;
  }
  if (fetched != nullptr) *fetched = handedOut;
  return handedOut == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG count) {
  if (filter->PinListVersion() != version) return VFW_E_ENUM_OUT_OF_SYNC;
  const ULONG left = static_cast<ULONG>(pinCount - position);
  if (count > left) return S_FALSE;
  position += static_cast<LONG>(count);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  Synchronise();
  seenPins.RemoveAll();
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins **clone) {
  if (clone == nullptr) return E_POINTER;
  if (filter->PinListVersion() != version) {
    *clone = nullptr;
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  HRESULT hr = S_OK;
  CEnumPins *copy = new (std::nothrow) CEnumPins(filter, this, &hr);
  if (copy == nullptr) {
    *clone = nullptr;
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    copy->Release();
    *clone = nullptr;
    return hr;
  }
  *clone = copy;
  return S_OK;
}
