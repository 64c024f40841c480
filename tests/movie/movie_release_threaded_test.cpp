// A movie released while its frames stream, on the real graph: the graph is
// stopped before the sink gives back its surfaces, and the output surface the
// game holds stays readable with its last frame.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "frames/sdl_surface_flusher.h"
#include "mediagraph/graph/filter_graph.h"
#include "movie/movie_instance.h"
#include "tests/frames/test_surfaces.h"
#include "tests/mediagraph/support/test_movies.h"

using namespace mediagraph_test;

TEST(MovieRelease, WhileFramesStreamLeavesTheShownSurfaceWhole) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  ASSERT_NE(SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE), nullptr);
  CoInitialize(nullptr);
  TempDir dir;
  const std::string path = MakeMovie(dir, Recipe("a.mp4", "-c:v libx264", ""));
  for (int cycle = 0; cycle < 3; ++cycle) {
    SDLSurfaceFlusher sink(96, 48);
    MovieInstance record(&sink);
    ASSERT_EQ(record.CreateGraph(), S_OK);
    ASSERT_EQ(record.RenderMovieFile(Wide(path).c_str()), S_OK);
    SDL_Surface *held = sink.OutputSurface();
    void *const created = held->pixels;
    ASSERT_EQ(record.control->Run(), S_OK);
    for (int waited = 0; __atomic_load_n(&held->pixels, __ATOMIC_ACQUIRE) == created; ++waited) {
      ASSERT_LT(waited, 2000) << "no frame shown";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    record.ReleaseGraph();  // frames may be arriving right now
    // The graph's worker stops it, then the sink gives back its surfaces.
    ASSERT_TRUE(mediagraph::AwaitReleasedGraphs(10000));
    const std::vector<Uint8> last = SurfaceBytes(held);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sink.OutputSurface(), nullptr);
    EXPECT_EQ(SurfaceBytes(held), last);
  }
  SDL_Quit();
}
