#include "renderer/renderer_pos_pass_thru.h"

CRendererPosPassThru::CRendererPosPassThru(LPCWSTR label, IUnknown *outer, HRESULT *result,
                                           IPin *rendererPin)
    : CPosPassThru(label, outer, result, rendererPin),
      sampleStart(0),
      sampleStop(0),
      resetFlag(TRUE) {}

CRendererPosPassThru::~CRendererPosPassThru() = default;

HRESULT CRendererPosPassThru::RecordSampleTimes(IMediaSample *sample) {
  if (sample == nullptr) return E_POINTER;
  ScopedLock hold(&positionLock);
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) return hr;
  sampleStart = start;
  sampleStop = stop;
  __atomic_store_n(&resetFlag, FALSE, __ATOMIC_RELEASE);
  return S_OK;
}

HRESULT CRendererPosPassThru::ForgetSampleTimes() {
  ScopedLock hold(&positionLock);
  sampleStart = 0;
  sampleStop = 0;
  __atomic_store_n(&resetFlag, TRUE, __ATOMIC_RELEASE);
  return S_OK;
}

HRESULT CRendererPosPassThru::SnapToStopPosition() {
  if (__atomic_load_n(&resetFlag, __ATOMIC_ACQUIRE)) return E_FAIL;
  // Upstream is asked before the position lock is taken: it stays innermost.
  LONGLONG stop = 0;
  const HRESULT hr = GetStopPosition(&stop);
  if (FAILED(hr)) return hr;
  ScopedLock hold(&positionLock);
  sampleStart = stop;
  sampleStop = stop;
  return hr;
}

HRESULT CRendererPosPassThru::CurrentMediaTimes(LONGLONG *start, LONGLONG *stop) {
  if (start == nullptr) return E_POINTER;
  ScopedLock hold(&positionLock);
  if (resetFlag) return E_FAIL;
  HRESULT hr = ConvertTimeFormat(start, nullptr, sampleStart, &TIME_FORMAT_MEDIA_TIME);
  if (stop != nullptr && SUCCEEDED(hr)) {
    hr = ConvertTimeFormat(stop, nullptr, sampleStop, &TIME_FORMAT_MEDIA_TIME);
  }
  return hr;
}
