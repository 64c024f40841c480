// The containers and codecs a game's cut-scenes come in, each through the
// whole graph: it renders, runs to one EC_COMPLETE, and every picture reaches
// the renderer in order with its time and the pattern's colours (rows
// bottom-up), with and without sound, at an odd size and as a single picture;
// and each loops back to its start at EC_COMPLETE.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/media/media.h"
#include "platform/win32/errors.h"
#include "tests/mediagraph/support/movie_player.h"
#include "tests/mediagraph/support/test_movies.h"

using namespace mediagraph_test;

namespace {

struct Format {
  const char *name;
  MovieSpec recipe;
  int tolerance;  // per colour channel; lossy codecs blur a little
};

void PrintTo(const Format &format, std::ostream *out) { *out << format.recipe.file; }

std::vector<Format> Formats() {
  return {
      {"Mp4H264Aac", Recipe("h264.mp4", "-c:v libx264 -pix_fmt yuv420p", "-c:a aac"), 40},
      // Without the option ffmpeg leaves out the second picture's index entry
      // to make room for the MP3 encoder's delay: a real gap in the file.
      {"AviMpeg4Mp3",
       Recipe("mpeg4.avi", "-c:v mpeg4 -q:v 2", "-c:a libmp3lame", 64, 48, 25,
            "-avoid_negative_ts disabled"),
       40},
      {"MpegPsMpeg1Mp2", Recipe("mpeg1.mpg", "-c:v mpeg1video -q:v 2", "-c:a mp2"), 40},
      {"AsfWmv2Wma", Recipe("wmv2.asf", "-c:v wmv2 -q:v 2", "-c:a wmav2"), 40},
      {"WebmVp8Vorbis",
       Recipe("vp8.webm", "-c:v libvpx -crf 4 -b:v 2M -auto-alt-ref 0", "-c:a libvorbis"), 40},
      {"OggTheoraVorbis", Recipe("theora.ogv", "-c:v libtheora -q:v 9", "-c:a libvorbis"), 40},
      {"NoSound", Recipe("silent.mp4", "-c:v libx264 -pix_fmt yuv420p", ""), 40},
      {"OddSize641x479",
       Recipe("odd.mkv", "-c:v libx264 -pix_fmt yuv444p", "-c:a aac", 641, 479, 10), 40},
      {"OneFrame", Recipe("one.mp4", "-c:v libx264 -pix_fmt yuv420p", "", 64, 48, 1), 40},
  };
}

class SourceFormats : public ::testing::TestWithParam<Format> {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir *dir_;
};

TempDir *SourceFormats::dir_ = nullptr;

TEST_P(SourceFormats, RendersAndPlaysEveryFrameInOrderToOneCompletionAndLoops) {
  const Format &format = GetParam();
  const MovieSpec &recipe = format.recipe;
  const std::string path = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << recipe.file;

  MoviePlayer player;
  player.renderer->SetProbes({MarkerPoint(), TopLeft(recipe), TopRight(recipe), BottomLeft(recipe),
                              BottomRight(recipe)});
  // Under the null sound driver the sound plays too.
  ASSERT_EQ(S_OK, player.Load(path));
  EXPECT_EQ(recipe.width, player.renderer->Width());
  EXPECT_EQ(recipe.height, player.renderer->Height());  // positive: bottom-up rows
  EXPECT_EQ((recipe.width * 3 + 3) & ~3, player.renderer->Stride());

  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 300));

  // Loop once, as a repetitive movie does: every container must go back to its start.
  ASSERT_EQ(S_OK, player.position->put_CurrentPosition(0.0));
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 300));

  const REFERENCE_TIME frame = 10000000 / recipe.fps;
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(2u * recipe.frames, frames.size());
  for (int round = 0; round < 2; ++round) {
    const size_t first = static_cast<size_t>(round) * recipe.frames;
    SCOPED_TRACE("round " + std::to_string(round));
    // Containers may start the picture a little after the sound (ffmpeg moves
    // it by the sound encoder's delay: 46 ms for WMA, 11 ms in MPEG program
    // streams). The loop goes on from the stream time reached.
    ASSERT_TRUE(frames[first].hasTime);
    EXPECT_GE(frames[first].start, round == 0 ? 0 : frames[first - 1].stop);
    if (round == 0) {
      EXPECT_LT(frames[first].start, 1000000);
    }
    for (size_t i = 0; i < static_cast<size_t>(recipe.frames); ++i) {
      const DrawnFrame &f = frames[first + i];
      SCOPED_TRACE("frame " + std::to_string(i));
      ASSERT_EQ(5u, f.probes.size());
      EXPECT_EQ(static_cast<int>(i), MarkerFrame(f.probes[0]));
      EXPECT_TRUE(f.hasTime);
      // Container time stamps are rounded to their own units (1 ms for ASF).
      EXPECT_NEAR(
          static_cast<double>(frames[first].start + static_cast<REFERENCE_TIME>(i) * frame),
          static_cast<double>(f.start), 10000.0);
      EXPECT_NEAR(static_cast<double>(frame), static_cast<double>(f.stop - f.start), 10000.0);
      EXPECT_TRUE(Near(f.probes[1], 255, 0, 0, format.tolerance));
      EXPECT_TRUE(Near(f.probes[2], 0, 255, 0, format.tolerance));
      EXPECT_TRUE(Near(f.probes[3], 0, 0, 255, format.tolerance));
      EXPECT_TRUE(Near(f.probes[4], 255, 255, 255, format.tolerance));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, SourceFormats, ::testing::ValuesIn(Formats()),
                         [](const ::testing::TestParamInfo<Format> &param) {
                           return std::string(param.param.name);
                         });

class SourceBadFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir *dir_;
};

TempDir *SourceBadFiles::dir_ = nullptr;

TEST_F(SourceBadFiles, MissingFileFailsAndNamesTheCause) {
  MoviePlayer player;
  SetLastError(0);
  const HRESULT hr = player.Load(dir_->Path() + "/no-such-movie.avi");
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(SourceBadFiles, TruncatedAndCorruptedMoviesFailOrEndCleanly) {
  MovieSpec recipe = Recipe("whole.avi", "-c:v mpeg4 -q:v 2", "-c:a libmp3lame");
  const std::string path = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(path.empty());
  std::string bytes;
  {
    FILE *file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, file);
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
  }
  std::string corrupted = bytes;
  uint32_t noise = 99;
  for (size_t i = 200; i < corrupted.size(); i += 7) {
    noise = noise * 1103515245u + 12345u;
    corrupted[i] = static_cast<char>(noise >> 16);
  }
  const std::vector<std::string> damaged = {
      WriteFile(*dir_, "header-only.avi", bytes.substr(0, 300)),
      WriteFile(*dir_, "half.avi", bytes.substr(0, bytes.size() / 2)),
      WriteFile(*dir_, "corrupted.avi", corrupted),
      WriteFile(*dir_, "not-a-movie.avi", std::string(5000, 'x')),
  };
  for (const std::string &file : damaged) {
    SCOPED_TRACE(file);
    MoviePlayer player;
    const HRESULT hr = player.Load(file);
    if (FAILED(hr)) continue;
    ASSERT_EQ(S_OK, player.control->Run());
    EXPECT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    EXPECT_LE(player.renderer->FrameCount(), static_cast<size_t>(recipe.frames));
    EXPECT_EQ(S_OK, player.control->Stop());
  }
}

}  // namespace
