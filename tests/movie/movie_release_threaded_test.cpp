// A movie released while its frames stream, on the real graph: the graph is
// stopped before the sink gives back its surfaces, and the output surface the
// game holds stays readable with its last frame.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "frames/sdl_surface_flusher.h"
#include "movie/movie_instance.h"
#include "tests/mediagraph/support/test_movies.h"

using namespace mediagraph_test;

TEST(MovieRelease, WhileFramesStreamLeavesTheShownSurfaceWhole) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  ASSERT_NE(SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE), nullptr);
  CoInitialize(nullptr);
  TempDir dir;
  const std::string path = MakeMovie(dir, Recipe("release.mp4", "-c:v libx264", "", 64, 48, 50));
  ASSERT_FALSE(path.empty());
  for (int cycle = 0; cycle < 3; ++cycle) {
    SDLSurfaceFlusher sink(96, 48);
    MovieInstance record(&sink);
    ASSERT_EQ(record.CreateGraph(), S_OK);
    ASSERT_EQ(record.RenderMovieFile(Wide(path).c_str()), S_OK);
    SDL_Surface *held = sink.OutputSurface();
    void *const created = held->pixels;
    ASSERT_EQ(record.control->Run(), S_OK);
    auto shown = [&] { return __atomic_load_n(&held->pixels, __ATOMIC_ACQUIRE); };
    for (int waited = 0; waited < 10000 && shown() == created; waited += 5) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(shown(), created) << "no frame shown";
    record.ReleaseGraph();  // frames may be arriving right now
    const std::vector<Uint8> last(static_cast<Uint8 *>(held->pixels),
                                  static_cast<Uint8 *>(held->pixels) + held->h * held->pitch);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sink.OutputSurface(), nullptr);
    EXPECT_EQ(std::memcmp(held->pixels, last.data(), last.size()), 0);
  }
  SDL_Quit();
}
