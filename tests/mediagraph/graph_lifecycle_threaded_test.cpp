// Releasing a graph joins its threads and frees its decoders: many load, run and
// release cycles leave the process's threads and open files where they were.
#include <gtest/gtest.h>

#include "platform/media/media.h"
#include "platform/win32/timers.h"
#include "tests/mediagraph/support/movie_player.h"
#include "tests/mediagraph/support/test_movies.h"

using namespace mediagraph_test;

namespace {

// Loads, runs until a few frames are drawn (or, every `full`th time, to the end)
// and releases everything while it may still be playing.
void Cycle(const std::string &movie, bool toTheEnd) {
  MoviePlayer player;
  ASSERT_EQ(player.Load(movie), S_OK);
  ASSERT_EQ(player.control->Run(), S_OK);
  if (toTheEnd) {
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  } else {
    ASSERT_TRUE(player.renderer->WaitForFrames(2, kPatienceMs));
  }
}

}  // namespace

TEST(GraphLifecycle, HundredCyclesLeaveThreadAndFileCountsWhereTheyWere) {
  TempDir dir;
  MovieSpec recipe;
  recipe.file = "cycle.mp4";
  recipe.frames = 5;
  recipe.audioArgs = "-c:a aac";
  const std::string movie = MakeMovie(dir, recipe);
  ASSERT_FALSE(movie.empty());

  // The first cycle opens what the process keeps for good (the sound device).
  // The timer thread stays too once started, but the renderer only starts it
  // when its end of stream comes early, which a busy machine may never do in
  // that cycle: start it here.
  timeKillEvent(timeSetEvent(60000, 10, [](UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}, 0,
                             TIME_ONESHOT));
  Cycle(movie, true);
  const int threads = SettledThreadCount();
  const int files = OpenFileCount();
  for (int i = 0; i < 100; ++i) {
    Cycle(movie, i % 10 == 0);
    if (HasFatalFailure()) return;
  }
  EXPECT_LE(ThreadCountOnceBackTo(threads), threads);
  EXPECT_EQ(OpenFileCount(), files);
}
