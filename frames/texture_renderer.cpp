#include "frames/texture_renderer.h"

#include "platform/host/background_thread.h"

CTextureRenderer::CTextureRenderer(FrameSinkOwner *owner_, HRESULT *result)
    : CBaseVideoRenderer(CLSID_TextureRenderer, nullptr, nullptr, result), owner(owner_) {
  if (result != nullptr) *result = S_OK;
}

CTextureRenderer::~CTextureRenderer() {
  StopTimedCallbacks();
  // The graph has stopped and let go of the renderer: no frame can come any
  // more, so the sink gives back all but the output surface the game may
  // still blit, with its last frame.
  AwaitReceiveExit();
  if (owner != nullptr) owner->flusher->ReleaseSurfaces();
}

LONG CTextureRenderer::RowStrideFor(LONG width) {
  return static_cast<LONG>(((static_cast<int64_t>(width) + 1) * 3) & ~static_cast<int64_t>(3));
}

HRESULT CTextureRenderer::ValidateMediaType(const AM_MEDIA_TYPE *type) {
  if (type == nullptr) return E_POINTER;
  if (type->pbFormat == nullptr) return E_INVALIDARG;
  if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo)) return E_INVALIDARG;
  if (!IsEqualGUID(type->majortype, MEDIATYPE_Video)) return E_FAIL;
  if (!IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24)) return E_FAIL;
  return S_OK;
}

HRESULT CTextureRenderer::ApplyMediaType(const AM_MEDIA_TYPE *type) {
  auto *info = reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat);
  frameWidth = info->bmiHeader.biWidth;
  frameHeight = info->bmiHeader.biHeight;
  rowStride = RowStrideFor(frameWidth);
  return owner->flusher->PrepareFormat(&info->bmiHeader) ? S_OK : E_FAIL;
}

void CTextureRenderer::VideoSize(LONG *width, LONG *height) const {
  *width = frameWidth;
  *height = frameHeight < 0 ? -frameHeight : frameHeight;
}

void CTextureRenderer::OnPrerollSample(IMediaSample *sample) {
  if (showCued.load()) DrawSample(sample);
}

HRESULT CTextureRenderer::ProcessSample(IMediaSample *sample) {
  // Only a stop or flush after this sample's admission abandons its drawing.
  abandonDrawing.store(0);
  receiving = sample;
  ++receipts;
  const HRESULT hr = CBaseVideoRenderer::ProcessSample(sample);
  receiving = nullptr;
  return hr;
}

void CTextureRenderer::DrawAhead() {
  if (owner == nullptr || receiving == nullptr || drawnAhead == receipts) return;
  BYTE *buffer = nullptr;
  if (SUCCEEDED(receiving->GetPointer(&buffer)) && buffer != nullptr) {
    // Ahead of its time: a thread that wakes meanwhile (the game's) takes
    // the core at once. The wait for the picture's time that follows is in
    // timed turns, so that the picture is shown when due.
    RunInLongTurns();
    GiveWayToWoken();
    owner->flusher->PrepareFrame(buffer, receiving->GetSize(), rowStride, abandonDrawing);
    RunInTimedTurns();
    drawnAhead = receipts;
  }
}

void CTextureRenderer::NoteWaitBegin() {
  CBaseVideoRenderer::NoteWaitBegin();
  DrawAhead();
}

void CTextureRenderer::PrepareToDraw() {
  // Before a paused renderer completes its pause, only for a picture that is
  // shown at once: the run's start waits for that pause.
  if (StateNoLock() == State_Paused && !showCued.load()) return;
  DrawAhead();
}

// Raised until the next sample: neither waits for the streaming thread (see
// AwaitReceiveExit), which may still be drawing ahead a picture now not shown.
STDMETHODIMP CTextureRenderer::Stop() {
  abandonDrawing.store(1);
  return CBaseVideoRenderer::Stop();
}

HRESULT CTextureRenderer::EnterFlush() {
  abandonDrawing.store(1);
  return CBaseVideoRenderer::EnterFlush();
}

HRESULT CTextureRenderer::DrawSample(IMediaSample *sample) {
  if (sample == nullptr) return E_POINTER;
  if (owner == nullptr) return E_UNEXPECTED;
  BYTE *buffer = nullptr;
  // A sample without a buffer is refused rather than handed on as null.
  if (FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) return E_FAIL;
  const LONG length = sample->GetSize();
  drawnAhead = 0;  // shown (or drawn in full) now
  return owner->flusher->FlushFrame(buffer, length, rowStride) ? S_OK : E_FAIL;
}
