// The containers and codecs a game's cut-scenes come in, each through the
// whole graph: it renders, runs to one EC_COMPLETE, and every picture reaches
// the renderer in order with its time and the pattern's colours (rows
// bottom-up), with and without sound, at an odd size and as a single picture;
// and each loops back to its start at EC_COMPLETE. Jumps on the containers
// whose times are hard to tell.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/media/media.h"
#include "platform/win32/errors.h"
#include "platform/win32/windows.h"
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

template <typename Movie>
class MovieTable : public ::testing::TestWithParam<Movie> {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() { delete dir_; }
  static inline TempDir *dir_ = nullptr;
};

class SourceFormats : public MovieTable<Format> {};

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

// Containers whose picture times FFmpeg makes up, or whose demuxer lands after
// a jump's target: jumps while paused, the first right after the load, each
// show the picture there (decoded from a key frame); a run from the last
// plays every picture after it once; the length is the picture's.
struct Jump {
  const char *name;
  MovieSpec recipe;
  std::vector<int> targets;  // pictures jumped to in turn
  int late;  // pictures by which FFmpeg times every picture later than made
};

void PrintTo(const Jump &jump, std::ostream *out) { *out << jump.recipe.file; }

std::vector<Jump> Jumps() {
  return {
      // Decode times only; the packed B-frames time every picture one late.
      {"AviMpeg4BFrames", Recipe("bframes.avi", "-c:v mpeg4 -bf 2 -q:v 2 -g 50", "", 64, 48, 50),
       {10, 44}, 1},
      // Starts at 0.5 s; found by time stamp, 118 lands on the key frame after it.
      {"MpegPsLateStart",
       Recipe("late.vob", "-c:v mpeg2video -bf 2 -g 60 -q:v 2", "-c:a mp2", 64, 48, 150,
              "-f dvd -output_ts_offset 0.5"),
       {118, 75}, 0},
      // No length; past the parser's stamped pictures (16), FFmpeg times them one late.
      {"RawMpeg1", Recipe("raw.m1v", "-c:v mpeg1video -q:v 2", "", 64, 48, 100, "-f mpeg1video"),
       {70, 40}, 1},
      {"H264Chroma444OneKeyFrame",
       Recipe("444.mkv", "-c:v libx264 -pix_fmt yuv444p -g 1000 -sc_threshold 0", "", 64, 48, 150),
       {140, 90}, 0},
  };
}

class SourceJumps : public MovieTable<Jump> {};

TEST_P(SourceJumps, ShowThePictureThereAndPlayOnFromIt) {
  const Jump &jump = GetParam();
  const MovieSpec &recipe = jump.recipe;
  const std::string path = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << recipe.file;
  MoviePlayer player;
  player.renderer->SetProbes({MarkerPoint()});
  ASSERT_EQ(S_OK, player.Load(path));
  REFTIME length = 0;
  ASSERT_EQ(S_OK, player.position->get_Duration(&length));
  EXPECT_GE(length, recipe.frames / double(recipe.fps) - 0.05);
  const auto shown = [&player] {
    const auto held = player.renderer->Held();
    return held.empty() ? -1 : MarkerFrame(held.back().probes[0]) % 32;
  };
  const HRESULT paused = player.control->Pause();
  ASSERT_TRUE(paused == S_OK || paused == S_FALSE);
  for (const int target : jump.targets) {
    // Inside the picture: containers round its times.
    ASSERT_EQ(S_OK, player.position->put_CurrentPosition((target + jump.late + 0.5) / recipe.fps));
    for (int ms = 0; ms < kPatienceMs && shown() != target % 32; ms += 10) Sleep(10);
    ASSERT_EQ(target % 32, shown()) << "jumped to " << target;
  }
  const size_t from = player.renderer->FrameCount();
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(from + recipe.frames - jump.targets.back(), frames.size());
  for (size_t i = from; i < frames.size(); ++i) {
    EXPECT_EQ(int(jump.targets.back() + i - from) % 32, MarkerFrame(frames[i].probes[0]) % 32) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, SourceJumps, ::testing::ValuesIn(Jumps()),
                         [](const ::testing::TestParamInfo<Jump> &param) {
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
