// Without a sound device the picture still plays: RenderFile says the sound
// was not rendered, the movie runs to its one EC_COMPLETE, and the volume is
// still kept.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/media/media.h"
#include "tests/mediagraph/fakes/test_movies.h"
#include "tests/mediagraph/support/movie_player.h"

using namespace mediagraph_test;

namespace {

// Before main: OpenAL picks its drivers once per process; none of these exist.
const bool kNoDevice = (setenv("ALSOFT_DRIVERS", "no-such-driver", 1), true);

TEST(SoundNoDevice, PicturePlaysAndRenderFileSaysTheSoundIsMissing) {
  testmovies::TempDir dir;
  testmovies::PatternSpec recipe;
  recipe.seconds = 0.6;
  const std::string path = dir.File("tone.mp4");
  ASSERT_TRUE(testmovies::MakePatternMovie(recipe, path));

  MoviePlayer player;
  ASSERT_EQ(VFW_S_AUDIO_NOT_RENDERED, player.Load(path));
  ASSERT_EQ(S_OK, player.audio->put_Volume(-1200));
  LONG volume = 0;
  ASSERT_EQ(S_OK, player.audio->get_Volume(&volume));
  EXPECT_EQ(-1200, volume);
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 200));
  EXPECT_EQ(15u, player.renderer->FrameCount());
}

}  // namespace
