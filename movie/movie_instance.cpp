#include "movie/movie_instance.h"

#include <algorithm>
#include <cmath>

#include "frames/texture_renderer.h"
#include "mediagraph/graph/loop_hint.h"
#include "mediagraph/graph/movie_streams.h"

MovieInstance::MovieInstance(TextureFlushInterface *sink) : FrameSinkOwner(sink) {}

HRESULT MovieInstance::CreateGraph() {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IGraphBuilder,
                                reinterpret_cast<void **>(&graph));
  if (FAILED(hr)) return hr;

  HRESULT constructed = S_OK;
  auto *renderer = new CTextureRenderer(this, &constructed);
  if (FAILED(constructed)) {
    delete renderer;
    return constructed;
  }
  texture = renderer;
  rendererFilter = static_cast<IBaseFilter *>(renderer);
  rendererFilter->AddRef();

  hr = graph->AddFilter(rendererFilter, L"TEXTURERENDERER");
  return FAILED(hr) ? hr : S_OK;
}

HRESULT MovieInstance::RenderMovieFile(const wchar_t *path) {
  HRESULT hr = graph->RenderFile(path, nullptr);
  if (FAILED(hr)) return hr;

  hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
  if (hr != S_OK) return hr;
  hr = graph->QueryInterface(IID_IMediaPosition, reinterpret_cast<void **>(&position));
  if (hr != S_OK) return hr;
  hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events));
  if (hr != S_OK) return hr;
  hr = graph->QueryInterface(IID_IBasicAudio, reinterpret_cast<void **>(&audio));
  if (hr != S_OK) return hr;
  return S_OK;
}

void MovieInstance::ProcessGraphEvents() {
  if (events == nullptr) return;
  LONG code = 0;
  LONG_PTR param1 = 0;
  LONG_PTR param2 = 0;
  while (SUCCEEDED(events->GetEvent(&code, &param1, &param2, 0))) {
    events->FreeEventParams(code, param1, param2);
    if (code != EC_COMPLETE) continue;
    if (repetitive) {
      position->put_CurrentPosition(0.0);
    } else {
      const HRESULT stopped = control->Stop();
      flusher->NotifyStopped();
      if (SUCCEEDED(stopped)) position->put_CurrentPosition(0.0);
    }
  }
}

void MovieInstance::SetRepetitive(bool loops) {
  repetitive = loops;
  if (graph == nullptr) return;
  ILoopHint *hint = nullptr;
  if (FAILED(graph->QueryInterface(IID_ILoopHint, reinterpret_cast<void **>(&hint)))) return;
  hint->SetRepetitive(loops ? TRUE : FALSE);
  hint->Release();
}

bool MovieInstance::Seek(double seconds) {
  if (position == nullptr || control == nullptr || std::isnan(seconds)) return false;
  REFTIME length = 0;
  if (FAILED(position->get_Duration(&length))) return false;
  // The last picture's span ends at the end: a jump there shows that picture.
  const double last = std::max(0.0, length - 1e-7);
  const double target = std::min(std::max(seconds, 0.0), last);
  OAFilterState state = State_Stopped;
  control->GetState(0, &state);
  if (state != State_Running && texture != nullptr) texture->ShowCuedPictures(true);
  return SUCCEEDED(position->put_CurrentPosition(target));
}

void MovieInstance::HoldCuedPictures() {
  if (texture != nullptr) texture->ShowCuedPictures(false);
}

bool MovieInstance::VideoSize(int *width, int *height) const {
  if (texture == nullptr) return false;
  LONG w = 0;
  LONG h = 0;
  texture->VideoSize(&w, &h);
  if (w <= 0 || h <= 0) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

bool MovieInstance::PlaysSound() const {
  if (graph == nullptr) return false;
  IMovieStreams *streams = nullptr;
  if (FAILED(graph->QueryInterface(IID_IMovieStreams, reinterpret_cast<void **>(&streams)))) {
    return false;
  }
  const bool plays = streams->PlaysSound() == S_OK;
  streams->Release();
  return plays;
}

void MovieInstance::ReleaseGraph() {
  HoldCuedPictures();
  if (control != nullptr) control->Stop();
  // The last reference hands the graph to its worker, which stops it, joins
  // its threads and frees its decoders: not on the game's time. Still
  // released in the fields' order.
  for (IUnknown *reference : {static_cast<IUnknown *>(control), static_cast<IUnknown *>(audio),
                              static_cast<IUnknown *>(events), static_cast<IUnknown *>(position),
                              static_cast<IUnknown *>(graph),
                              static_cast<IUnknown *>(rendererFilter)}) {
    if (reference != nullptr) reference->Release();
  }
  control = nullptr;
  audio = nullptr;
  events = nullptr;
  position = nullptr;
  graph = nullptr;
  rendererFilter = nullptr;
  texture = nullptr;
}
