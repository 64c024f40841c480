#include "renderer/renderer_input_pin.h"

#include "platform/com/unknown.h"
#include "platform/win32/strings.h"
#include "renderer/base_renderer.h"

namespace {

constexpr WCHAR kPinId[] = L"In";

}  // namespace

CRendererInputPin::CRendererInputPin(CBaseRenderer *filterOwner, HRESULT *result,
                                     LPCWSTR pinName)
    : CBaseInputPin(nullptr, filterOwner, filterOwner->InterfaceLock(), result, pinName),
      renderer(filterOwner) {}

CRendererInputPin::~CRendererInputPin() = default;

HRESULT CRendererInputPin::ActivatePin() { return renderer->BecomeActive(); }

HRESULT CRendererInputPin::DeactivatePin() {
  SetRuntimeError(false);
  return renderer->BecomeInactive();
}

HRESULT CRendererInputPin::TestMediaType(const AM_MEDIA_TYPE *type) {
  return renderer->ValidateMediaType(type);
}

HRESULT CRendererInputPin::AdoptMediaType(const AM_MEDIA_TYPE *type) {
  const HRESULT hr = CBaseInputPin::AdoptMediaType(type);
  if (FAILED(hr)) return hr;
  return renderer->ApplyMediaType(type);
}

HRESULT CRendererInputPin::UndoConnection() {
  const HRESULT hr = renderer->ReleaseConnection();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::UndoConnection();
}

HRESULT CRendererInputPin::ConcludeConnection(IPin *peer) {
  const HRESULT hr = renderer->FinishConnection(peer);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::ConcludeConnection(peer);
}

STDMETHODIMP CRendererInputPin::QueryId(LPWSTR *id) {
  if (id == nullptr) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kPinId)));
  if (*id == nullptr) return E_OUTOFMEMORY;
  lstrcpyW(*id, kPinId);
  return S_OK;
}

STDMETHODIMP CRendererInputPin::EndOfStream() {
  ScopedLock hold(renderer->InterfaceLock());
  ScopedLock holdRenderer(renderer->RendererLock());
  // Flushing, stopped or after a run-time error: nothing to mark.
  HRESULT hr = VerifyStreamingState();
  if (hr != S_OK) return hr;
  hr = renderer->MarkEndOfStream();
  if (SUCCEEDED(hr)) hr = CBaseInputPin::EndOfStream();
  return hr;
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
  ScopedLock hold(renderer->InterfaceLock());
  {
    ScopedLock holdRenderer(renderer->RendererLock());
    CBaseInputPin::BeginFlush();
    renderer->EnterFlush();
  }
  // Outside rendererLock: killing the end-of-stream timer waits for its callback.
  return renderer->ClearEndOfStreamState();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
  ScopedLock hold(renderer->InterfaceLock());
  ScopedLock holdRenderer(renderer->RendererLock());
  HRESULT hr = renderer->LeaveFlush();
  if (SUCCEEDED(hr)) hr = CBaseInputPin::EndFlush();
  return hr;
}

STDMETHODIMP CRendererInputPin::Receive(IMediaSample *sample) {
  const HRESULT hr = renderer->ProcessSample(sample);
  if (SUCCEEDED(hr)) return hr;

  ScopedLock hold(renderer->InterfaceLock());
  // Failures during a stop or flush are the expected outcome of the state
  // change; anything else is reported once until the filter stops or a flush ends.
  if (renderer->StateNoLock() != State_Stopped && !IsFlushing() && !renderer->IsAborting() &&
      !HasRuntimeError()) {
    renderer->RaiseGraphEvent(EC_ERRORABORT, hr, 0);
    {
      ScopedLock holdRenderer(renderer->RendererLock());
      if (renderer->IsStreaming() && !renderer->CompletionDelivered()) {
        renderer->SignalCompletion();
      }
    }
    SetRuntimeError(true);
  }
  return hr;
}
