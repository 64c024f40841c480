#include "filterbase/base_pin.h"

#include <new>

#include "filterbase/base_filter.h"
#include "filterbase/counted_slot.h"
#include "filterbase/enum_media_types.h"
#include "platform/win32/strings.h"

namespace {

// What a refused type turns into: a plain "no" from TestMediaType (a success
// code, E_FAIL, E_INVALIDARG) becomes VFW_E_TYPE_NOT_ACCEPTED; a real failure
// (out of memory, say) is kept so that negotiation can report it.
HRESULT RefusalOf(HRESULT tested) {
  if (SUCCEEDED(tested) || tested == E_FAIL || tested == E_INVALIDARG) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return tested;
}

// Failures that only mean "this type would not do"; any other failure is worth
// reporting when no type connects.
bool IsPlainRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace

CBasePin::CBasePin(LPCWSTR label, CBaseFilter *owningFilter, CriticalLock *lock, HRESULT *,
                   LPCWSTR pinName, PIN_DIRECTION pinDirection)
    : CUnknown(label, nullptr),
      name(nullptr),
      connectedPeer(nullptr),
      direction(pinDirection),
      pinLock(lock),
      runtimeError(false),
      reconnectWhenActive(false),
      ownTypesFirst(false),
      filter(owningFilter),
      qualitySink(nullptr),
      typeListVersion(1),
      segmentStart(0),
      segmentStop(0x7FFFFFFFFFFFFFFF),
      segmentRate(1.0) {
  if (pinName != nullptr) {
    const int length = lstrlenW(pinName);
    name = new (std::nothrow) WCHAR[length + 1];  // nameless when this fails
    if (name != nullptr) lstrcpyW(name, pinName);
  }
}

CBasePin::~CBasePin() { delete[] name; }

STDMETHODIMP CBasePin::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IPin) return HandOutInterface(static_cast<IPin *>(this), out);
  if (iid == IID_IQualityControl) return HandOutInterface(static_cast<IQualityControl *>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) CBasePin::InnerAddRef() {
  if (filter == nullptr) return CUnknown::InnerAddRef();
  return static_cast<IBaseFilter *>(filter)->AddRef();
}

STDMETHODIMP_(ULONG) CBasePin::InnerRelease() {
  if (filter == nullptr) return CUnknown::InnerRelease();
  return static_cast<IBaseFilter *>(filter)->Release();
}

LONG CBasePin::TypeListVersion() { return __atomic_load_n(&typeListVersion, __ATOMIC_ACQUIRE); }

HRESULT CBasePin::ActivatePin() { return S_OK; }

HRESULT CBasePin::DeactivatePin() { return S_OK; }

HRESULT CBasePin::StartPinRun(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::AdoptMediaType(const AM_MEDIA_TYPE *type) {
  if (type == nullptr) return E_POINTER;
  const HRESULT hr = AssignMediaType(&connectionType, type);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CBasePin::VerifyPeerPin(IPin *peer) {
  if (peer == nullptr) return E_POINTER;
  // A peer that cannot tell its direction is taken to share ours and refused.
  PIN_DIRECTION peerDirection = direction;
  peer->QueryDirection(&peerDirection);
  return peerDirection == direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::UndoConnection() { return S_OK; }

HRESULT CBasePin::ConcludeConnection(IPin *) { return S_OK; }

HRESULT CBasePin::ProposedMediaType(int, MediaTypeRecord *) { return E_UNEXPECTED; }

bool CBasePin::FilterIsStopped() const {
  return filter == nullptr || filter->StateNoLock() == State_Stopped;
}

void CBasePin::HoldPeer(IPin *peer) {
  peer->AddRef();
  IPin *old = ExchangeSlot(&peerSlotLock, &connectedPeer, peer);
  if (old != nullptr) old->Release();
}

void CBasePin::DropPeer() {
  IPin *peer = ExchangeSlot(&peerSlotLock, &connectedPeer, static_cast<IPin *>(nullptr));
  if (peer != nullptr) peer->Release();
}

STDMETHODIMP CBasePin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *mediaType) {
  if (receivePin == nullptr) return E_POINTER;
  ScopedLock guard(pinLock);
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!FilterIsStopped() && !reconnectWhenActive) return VFW_E_NOT_STOPPED;
  const HRESULT hr = NegotiateMediaType(receivePin, mediaType);
  if (FAILED(hr)) {
    UndoConnection();
    return hr;
  }
  return S_OK;
}

HRESULT CBasePin::NegotiateMediaType(IPin *receivePin, const AM_MEDIA_TYPE *mediaType) {
  if (mediaType != nullptr && !HasWildcard(mediaType)) {
    return AttemptConnectionWith(receivePin, mediaType);
  }
  HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
  const int receiverPass = ownTypesFirst ? 1 : 0;
  for (int pass = 0; pass < 2; ++pass) {
    IEnumMediaTypes *types = nullptr;
    const HRESULT got =
        pass == receiverPass ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
    if (FAILED(got) || types == nullptr) continue;
    const HRESULT hr = TryTypeList(receivePin, mediaType, types);
    types->Release();
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsPlainRefusal(hr)) result = hr;
  }
  return result;
}

HRESULT CBasePin::TryTypeList(IPin *receivePin, const AM_MEDIA_TYPE *pattern,
                              IEnumMediaTypes *types) {
  HRESULT hr = types->Reset();
  if (FAILED(hr)) return hr;
  HRESULT result = S_OK;  // no failure worth reporting yet
  AM_MEDIA_TYPE *type = nullptr;
  ULONG fetched = 0;
  while (types->Next(1, &type, &fetched) == S_OK && type != nullptr) {
    HRESULT outcome = VFW_E_NO_ACCEPTABLE_TYPES;
    // A type the pattern rules out was never tried: it has nothing to report.
    if (pattern == nullptr || MatchesPattern(type, pattern)) {
      outcome = AttemptConnectionWith(receivePin, type);
      if (FAILED(outcome) && SUCCEEDED(result) && !IsPlainRefusal(outcome)) result = outcome;
    }
    DestroyMediaTypeBlock(type);
    type = nullptr;
    // Any success means the pins are now connected: trying another type would
    // attempt a second connection over the first.
    if (SUCCEEDED(outcome)) return S_OK;
  }
  return FAILED(result) ? result : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnectionWith(IPin *receivePin, const AM_MEDIA_TYPE *mediaType) {
  HRESULT hr = VerifyPeerPin(receivePin);
  if (FAILED(hr)) {
    UndoConnection();
    return hr;
  }
  hr = TestMediaType(mediaType);
  if (hr != S_OK) {
    hr = RefusalOf(hr);
  } else {
    HoldPeer(receivePin);
    hr = AdoptMediaType(mediaType);
    if (SUCCEEDED(hr)) hr = receivePin->ReceiveConnection(static_cast<IPin *>(this), mediaType);
    if (SUCCEEDED(hr)) {
      hr = ConcludeConnection(receivePin);
      if (SUCCEEDED(hr)) return hr;
      // The receiver already took the connection; it must let go again.
      receivePin->Disconnect();
    }
  }
  UndoConnection();
  DropPeer();
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *mediaType) {
  if (connector == nullptr || mediaType == nullptr) return E_POINTER;
  ScopedLock guard(pinLock);
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!FilterIsStopped() && !reconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = VerifyPeerPin(connector);
  if (FAILED(hr)) {
    UndoConnection();
    return hr;
  }
  hr = TestMediaType(mediaType);
  if (hr != S_OK) {
    UndoConnection();
    return RefusalOf(hr);
  }
  HoldPeer(connector);
  hr = AdoptMediaType(mediaType);
  if (SUCCEEDED(hr)) hr = ConcludeConnection(connector);
  if (SUCCEEDED(hr)) return S_OK;
  DropPeer();
  UndoConnection();
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  ScopedLock guard(pinLock);
  if (!FilterIsStopped()) return VFW_E_NOT_STOPPED;
  if (!IsConnected()) return S_FALSE;
  const HRESULT hr = UndoConnection();
  if (FAILED(hr)) return hr;
  DropPeer();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin **pin) {
  if (pin == nullptr) return E_POINTER;
  // No pin lock (the streaming thread asks too); the slot's leaf lock keeps
  // a Disconnect from releasing the peer between reading and AddRef.
  IPin *peer = AcquireFromSlot(&peerSlotLock, &connectedPeer);
  *pin = peer;
  return peer != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE *mediaType) {
  if (mediaType == nullptr) return E_POINTER;
  ScopedLock guard(pinLock);
  if (!IsConnected()) {
    ResetMediaType(mediaType);
    return VFW_E_NOT_CONNECTED;
  }
  // The copy's own result is not passed on: at worst the caller gets the type
  // without its format block.
  CopyMediaTypeContents(mediaType, &connectionType);
  return S_OK;
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO *info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter != nullptr ? static_cast<IBaseFilter *>(filter) : nullptr;
  if (info->pFilter != nullptr) info->pFilter->AddRef();
  if (name != nullptr) {
    lstrcpynW(info->achName, name, MAX_PIN_NAME);
  } else {
    info->achName[0] = L'\0';
  }
  info->dir = direction;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION *out) {
  if (out == nullptr) return E_POINTER;
  *out = direction;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR *id) {
  if (id == nullptr) return E_POINTER;
  const int length = name != nullptr ? lstrlenW(name) : 0;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
  if (*id == nullptr) return E_OUTOFMEMORY;
  if (name != nullptr) {
    lstrcpyW(*id, name);
  } else {
    (*id)[0] = L'\0';
  }
  return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE *mediaType) {
  if (mediaType == nullptr) return E_POINTER;
  const HRESULT hr = TestMediaType(mediaType);
  return FAILED(hr) ? S_FALSE : hr;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes **types) {
  if (types == nullptr) return E_POINTER;
  CEnumMediaTypes *enumerator = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  *types = enumerator;
  return enumerator != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP CBasePin::BeginFlush() { return E_UNEXPECTED; }

STDMETHODIMP CBasePin::EndFlush() { return E_UNEXPECTED; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart = start;
  segmentStop = stop;
  segmentRate = rate;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter *sender, Quality) {
  return sender == nullptr ? E_POINTER : S_OK;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl *sink) {
  ScopedLock guard(pinLock);
  qualitySink = sink;
  return S_OK;
}
