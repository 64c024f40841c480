#include "tests/mediagraph/support/movie_player.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/mediagraph/support/test_movies.h"

namespace mediagraph_test {

MoviePlayer::MoviePlayer() {
  comInitialised_ = SUCCEEDED(CoInitialize(nullptr));
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                             graph.put_void()),
            S_OK);
  renderer = TestVideoRenderer::Create();
  if (graph) {
    EXPECT_EQ(graph->AddFilter(renderer->Filter(), L"TEXTURERENDERER"), S_OK);
  }
}

MoviePlayer::~MoviePlayer() {
  if (control) control->Stop();
  control.reset();
  audio.reset();
  events.reset();
  position.reset();
  seeking.reset();
  graph.reset();
  renderer->Filter()->Release();
  if (comInitialised_) CoUninitialize();
}

HRESULT MoviePlayer::Load(const std::string &path) {
  const std::wstring wide = Wide(path);
  const HRESULT hr = graph->RenderFile(wide.c_str(), nullptr);
  if (FAILED(hr)) return hr;
  control = graph.As<IMediaControl>(IID_IMediaControl);
  events = graph.As<IMediaEvent>(IID_IMediaEvent);
  position = graph.As<IMediaPosition>(IID_IMediaPosition);
  seeking = graph.As<IMediaSeeking>(IID_IMediaSeeking);
  audio = graph.As<IBasicAudio>(IID_IBasicAudio);
  return hr;
}

LONG MoviePlayer::NextEvent(int ms) {
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  if (events->GetEvent(&code, &p1, &p2, ms) != S_OK) return 0;
  events->FreeEventParams(code, p1, p2);
  return code;
}

bool MoviePlayer::WaitFor(LONG code, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    const LONG got = NextEvent(int(left.count()));
    if (got == code) return true;
    if (got == 0) return false;
  }
}

int MoviePlayer::CountWithin(LONG code, int ms) {
  int n = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return n;
    const LONG got = NextEvent(int(left.count()));
    if (got == 0) return n;
    n += got == code;
  }
}

OAFilterState MoviePlayer::State(LONG ms) {
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(ms, &state), S_OK);
  return state;
}

}  // namespace mediagraph_test
