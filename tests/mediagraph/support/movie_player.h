// One movie in a graph with a test video renderer, driven as the movie library
// drives it: the renderer added as "TEXTURERENDERER", RenderFile, then the
// control, event and position interfaces.
#pragma once

#include <string>
#include <vector>

#include "mediagraph/graph/com_ptr.h"
#include "platform/media/media.h"
#include "tests/mediagraph/support/test_video_renderer.h"

namespace mediagraph_test {

class MoviePlayer {
 public:
  MoviePlayer();  // creates the graph and adds the renderer
  ~MoviePlayer();
  MoviePlayer(const MoviePlayer &) = delete;
  MoviePlayer &operator=(const MoviePlayer &) = delete;

  // RenderFile's result; on success the other interfaces are queried.
  HRESULT Load(const std::string &path);

  // Waits up to `ms` for the next event; its code, or 0 when none came.
  LONG NextEvent(int ms);
  // Waits up to `ms` for an event with `code`, dropping the others on the way.
  bool WaitFor(LONG code, int ms);
  // How many events with `code` arrive within `ms`.
  int CountWithin(LONG code, int ms);

  OAFilterState State(LONG ms = -1);

  mediagraph::ComPtr<IGraphBuilder> graph;
  mediagraph::ComPtr<IMediaControl> control;
  mediagraph::ComPtr<IMediaEvent> events;
  mediagraph::ComPtr<IMediaPosition> position;
  mediagraph::ComPtr<IMediaSeeking> seeking;
  mediagraph::ComPtr<IBasicAudio> audio;
  TestVideoRenderer *renderer = nullptr;  // one reference, released last

 private:
  bool comInitialised_ = false;
};

// Every test waits this long at most for what must happen; only a broken graph
// ever takes that long.
constexpr int kPatienceMs = 20000;

}  // namespace mediagraph_test
