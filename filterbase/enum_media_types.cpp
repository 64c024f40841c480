#include "filterbase/enum_media_types.h"

#include <cstdint>
#include <new>

#include "filterbase/base_pin.h"
#include "filterbase/media_type.h"
#include "filterbase/unknown.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin *enumerated, const CEnumMediaTypes *source)
    : position(0), pin(enumerated), version(0), referenceCount(1) {
  static_cast<IPin *>(pin)->AddRef();
  if (source != nullptr) {
    position = source->position;
    version = source->version;
  } else {
    version = pin->TypeListVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { static_cast<IPin *>(pin)->Release(); }

STDMETHODIMP CEnumMediaTypes::QueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IEnumMediaTypes || iid == IID_IUnknown) {
    return HandOutInterface(static_cast<IEnumMediaTypes *>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&referenceCount));
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::Release() {
  const LONG count = InterlockedDecrement(&referenceCount);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) {
  if (types == nullptr) return E_POINTER;
  if (pin->TypeListVersion() != version) return VFW_E_ENUM_OUT_OF_SYNC;
  if (fetched != nullptr) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }

  ULONG handedOut = 0;
  ULONG remaining = count;
  while (remaining > 0) {
    MediaTypeRecord proposed;
    // The position moves on even when the pin has no type there.
    const LONG asked = position;
    if (position < INT32_MAX) ++position;
    if (pin->ProposedMediaType(asked, &proposed) != S_OK) break;

    auto *block = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    types[handedOut] = block;
    if (block == nullptr) break;
    // Move: the block takes over the format block and the pUnk reference.
    *block = proposed;
    proposed.cbFormat = 0;
    proposed.pbFormat = nullptr;
    proposed.pUnk = nullptr;
    ++handedOut;
    --remaining;
  }
  if (fetched != nullptr) *fetched = handedOut;
  return remaining > 0 ? S_FALSE : S_OK;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (pin->TypeListVersion() != version) return VFW_E_ENUM_OUT_OF_SYNC;
  // Saturate rather than overflow on a huge count.
  const long long advanced = static_cast<long long>(position) + count;
  position = advanced > INT32_MAX ? INT32_MAX : static_cast<LONG>(advanced);
  MediaTypeRecord last;
  return pin->ProposedMediaType(position - 1, &last) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  position = 0;
  version = pin->TypeListVersion();
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes **clone) {
  if (clone == nullptr) return E_POINTER;
  if (pin->TypeListVersion() != version) {
    *clone = nullptr;
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  CEnumMediaTypes *copy = new (std::nothrow) CEnumMediaTypes(pin, this);
  *clone = copy;
  return copy != nullptr ? S_OK : E_OUTOFMEMORY;
}
