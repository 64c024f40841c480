#include "filterbase/pos_pass_thru.h"

#include "platform/media/guids.h"

namespace {

HRESULT UpstreamInterface(IPin *pin, REFIID iid, void **out) {
  *out = nullptr;
  if (pin == nullptr) return E_NOTIMPL;
  IPin *peer = nullptr;
  if (FAILED(pin->ConnectedTo(&peer)) || peer == nullptr) return E_NOTIMPL;
  const HRESULT result = peer->QueryInterface(iid, out);
  peer->Release();
  if (FAILED(result) || *out == nullptr) {
    *out = nullptr;
    return E_NOTIMPL;
  }
  return S_OK;
}

}  // namespace

CPosPassThru::CPosPassThru(LPCWSTR label, IUnknown *outer, HRESULT *result, IPin *pin)
    : CMediaPosition(label, outer), inputPin(pin) {
  if (pin == nullptr && result != nullptr) *result = E_POINTER;
}

STDMETHODIMP CPosPassThru::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IMediaSeeking) return HandOutInterface(static_cast<IMediaSeeking *>(this), out);
  return CMediaPosition::InnerQueryInterface(iid, out);
}

HRESULT CPosPassThru::UpstreamSeeking(IMediaSeeking **seeking) {
  return UpstreamInterface(inputPin, IID_IMediaSeeking, reinterpret_cast<void **>(seeking));
}

HRESULT CPosPassThru::UpstreamPosition(IMediaPosition **position) {
  return UpstreamInterface(inputPin, IID_IMediaPosition, reinterpret_cast<void **>(position));
}

template <typename Interface, typename Call>
HRESULT CPosPassThru::ForwardTo(REFIID iid, Call call) {
  Interface *upstream = nullptr;
  const HRESULT found = UpstreamInterface(inputPin, iid, reinterpret_cast<void **>(&upstream));
  if (FAILED(found)) return found;
  const HRESULT result = call(upstream);
  upstream->Release();
  return result;
}

#define FORWARD_SEEKING(call)                                                       \
  return ForwardTo<IMediaSeeking>(IID_IMediaSeeking,                               \
                                  [&](IMediaSeeking *upstream) { return upstream->call; })
#define FORWARD_POSITION(call)                                                      \
  return ForwardTo<IMediaPosition>(IID_IMediaPosition,                             \
                                   [&](IMediaPosition *upstream) { return upstream->call; })

STDMETHODIMP CPosPassThru::GetCapabilities(DWORD *capabilities) {
  FORWARD_SEEKING(GetCapabilities(capabilities));
}

STDMETHODIMP CPosPassThru::CheckCapabilities(DWORD *capabilities) {
  FORWARD_SEEKING(CheckCapabilities(capabilities));
}

STDMETHODIMP CPosPassThru::IsFormatSupported(const GUID *format) {
  FORWARD_SEEKING(IsFormatSupported(format));
}

STDMETHODIMP CPosPassThru::QueryPreferredFormat(GUID *format) {
  FORWARD_SEEKING(QueryPreferredFormat(format));
}

STDMETHODIMP CPosPassThru::GetTimeFormat(GUID *format) { FORWARD_SEEKING(GetTimeFormat(format)); }

STDMETHODIMP CPosPassThru::IsUsingTimeFormat(const GUID *format) {
  FORWARD_SEEKING(IsUsingTimeFormat(format));
}

STDMETHODIMP CPosPassThru::SetTimeFormat(const GUID *format) {
  FORWARD_SEEKING(SetTimeFormat(format));
}

STDMETHODIMP CPosPassThru::GetDuration(LONGLONG *duration) {
  FORWARD_SEEKING(GetDuration(duration));
}

STDMETHODIMP CPosPassThru::GetStopPosition(LONGLONG *stop) { FORWARD_SEEKING(GetStopPosition(stop)); }

STDMETHODIMP CPosPassThru::GetCurrentPosition(LONGLONG *current) {
  if (current == nullptr) return E_POINTER;
  // What is on screen now answers better than upstream, which reads ahead.
  if (SUCCEEDED(CurrentMediaTimes(current, nullptr))) return S_OK;
  FORWARD_SEEKING(GetCurrentPosition(current));
}

STDMETHODIMP CPosPassThru::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                             LONGLONG source, const GUID *sourceFormat) {
  FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}

STDMETHODIMP CPosPassThru::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                        DWORD stopFlags) {
  FORWARD_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}

STDMETHODIMP CPosPassThru::GetPositions(LONGLONG *current, LONGLONG *stop) {
  FORWARD_SEEKING(GetPositions(current, stop));
}

STDMETHODIMP CPosPassThru::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
  FORWARD_SEEKING(GetAvailable(earliest, latest));
}

STDMETHODIMP CPosPassThru::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  FORWARD_SEEKING(SetRate(rate));
}

STDMETHODIMP CPosPassThru::GetRate(double *rate) { FORWARD_SEEKING(GetRate(rate)); }

STDMETHODIMP CPosPassThru::GetPreroll(LONGLONG *preroll) { FORWARD_SEEKING(GetPreroll(preroll)); }

HRESULT CPosPassThru::CurrentMediaTimes(LONGLONG *, LONGLONG *) { return E_FAIL; }

STDMETHODIMP CPosPassThru::get_Duration(REFTIME *length) { FORWARD_POSITION(get_Duration(length)); }

STDMETHODIMP CPosPassThru::put_CurrentPosition(REFTIME time) {
  FORWARD_POSITION(put_CurrentPosition(time));
}

STDMETHODIMP CPosPassThru::get_CurrentPosition(REFTIME *time) {
  FORWARD_POSITION(get_CurrentPosition(time));
}

STDMETHODIMP CPosPassThru::get_StopTime(REFTIME *time) { FORWARD_POSITION(get_StopTime(time)); }

STDMETHODIMP CPosPassThru::put_StopTime(REFTIME time) { FORWARD_POSITION(put_StopTime(time)); }

STDMETHODIMP CPosPassThru::get_PrerollTime(REFTIME *time) {
  FORWARD_POSITION(get_PrerollTime(time));
}

STDMETHODIMP CPosPassThru::put_PrerollTime(REFTIME time) {
  FORWARD_POSITION(put_PrerollTime(time));
}

STDMETHODIMP CPosPassThru::put_Rate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  FORWARD_POSITION(put_Rate(rate));
}

STDMETHODIMP CPosPassThru::get_Rate(double *rate) { FORWARD_POSITION(get_Rate(rate)); }

STDMETHODIMP CPosPassThru::CanSeekForward(LONG *canSeek) {
  FORWARD_POSITION(CanSeekForward(canSeek));
}

STDMETHODIMP CPosPassThru::CanSeekBackward(LONG *canSeek) {
  FORWARD_POSITION(CanSeekBackward(canSeek));
}
