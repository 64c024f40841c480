// Cut-scenes of unusual shapes through the whole graph: other chroma layouts
// and depths, newer codecs, huge and tiny pictures, pictures that change size
// or rate midway, odd sound layouts and rates, sound and picture of different
// lengths, pixels that are not square, turned and mirrored pictures, and
// paths that are no movie. Each plays to one EC_COMPLETE with
// every picture, or fails at RenderFile with a clear code.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "mediagraph/graph/com_ptr.h"
#include "mediagraph/graph/loop_hint.h"
#include "platform/media/media.h"
#include "platform/win32/errors.h"
#include "platform/win32/threads.h"
#include "tests/mediagraph/support/movie_player.h"
#include "tests/mediagraph/support/test_movies.h"
#include "tests/mediagraph/support/watchdog.h"

using namespace mediagraph_test;

namespace {

struct OddMovie {
  const char *name;
  MovieSpec recipe;
  bool checkColours;  // false where the picture is too small for the quadrants
};

void PrintTo(const OddMovie &movie, std::ostream *out) { *out << movie.recipe.file; }

// Odd movies are short: ten pictures unless a case says otherwise.
MovieSpec OddRecipe(const std::string &file, const std::string &video, const std::string &audio,
                    int width = 64, int height = 48, int frames = 10,
                    const std::string &extra = "") {
  return Recipe(file, video, audio, width, height, frames, extra);
}

std::vector<OddMovie> OddMovies() {
  const std::string h264 = "-c:v libx264 -pix_fmt yuv420p";
  return {
      {"H264Chroma422", OddRecipe("h264-422.mp4", "-c:v libx264 -pix_fmt yuv422p", ""), true},
      {"H264Chroma444TenBit", OddRecipe("h264-444-10.mkv", "-c:v libx264 -pix_fmt yuv444p10le", ""),
       true},
      {"HevcTenBit",
       OddRecipe("hevc-10.mp4", "-c:v libx265 -pix_fmt yuv420p10le -x265-params log-level=none", ""),
       true},
      {"Vp9Chroma444TenBit", OddRecipe("vp9-444-10.webm", "-c:v libvpx-vp9 -pix_fmt yuv444p10le", ""),
       true},
      {"Av1TenBit",
       OddRecipe("av1-10.mkv", "-c:v libaom-av1 -cpu-used 8 -pix_fmt yuv420p10le", ""), true},
      {"TwoByTwo", OddRecipe("2x2.mp4", "-c:v libx264 -pix_fmt yuv444p", "", 2, 2), false},
      {"OneByOne", OddRecipe("1x1.mkv", "-c:v ffv1", "", 1, 1), false},
      {"MonoSound", OddRecipe("mono.mp4", h264, "-c:a aac -ac 1"), true},
      {"SurroundSound", OddRecipe("surround.mp4", h264, "-c:a aac -ac 6"), true},
      {"Sound8kHz", OddRecipe("8k.mkv", h264, "-c:a pcm_s16le -ar 8000"), true},
      {"Sound96kHz", OddRecipe("96k.mkv", h264, "-c:a flac -ar 96000"), true},
      {"TwoSoundStreams",
       OddRecipe("two-sounds.mkv", h264, "-c:a libvorbis", 64, 48, 10, "-map 0:v -map 1:a -map 1:a"),
       true},
  };
}

class SourceOddMovies : public ::testing::TestWithParam<OddMovie> {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir *dir_;
};

TempDir *SourceOddMovies::dir_ = nullptr;

TEST_P(SourceOddMovies, PlaysEveryPictureInOrderToOneCompletion) {
  const OddMovie &movie = GetParam();
  const MovieSpec &recipe = movie.recipe;
  const std::string path = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << recipe.file;
  Watchdog watchdog(kPatienceMs * 2, recipe.file);

  MoviePlayer player;
  player.renderer->SetProbes({MarkerPoint(), TopLeft(recipe), TopRight(recipe), BottomLeft(recipe),
                              BottomRight(recipe), {0, 0}});
  ASSERT_EQ(S_OK, player.Load(path));
  EXPECT_EQ(recipe.width, player.renderer->Width());
  EXPECT_EQ(recipe.height, player.renderer->Height());
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(0, player.CountWithin(EC_COMPLETE, 200));

  const auto frames = player.renderer->Frames();
  ASSERT_EQ(static_cast<size_t>(recipe.frames), frames.size());
  const REFERENCE_TIME frame = 10000000 / recipe.fps;
  for (size_t i = 0; i < frames.size(); ++i) {
    const DrawnFrame &f = frames[i];
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_TRUE(f.hasTime);
    EXPECT_NEAR(static_cast<double>(frames[0].start + static_cast<REFERENCE_TIME>(i) * frame),
                static_cast<double>(f.start), 10000.0);
    if (movie.checkColours) {
      EXPECT_EQ(static_cast<int>(i), MarkerFrame(f.probes[0]));
      EXPECT_TRUE(Near(f.probes[1], 255, 0, 0, 40));
      EXPECT_TRUE(Near(f.probes[2], 0, 255, 0, 40));
      EXPECT_TRUE(Near(f.probes[3], 0, 0, 255, 40));
      EXPECT_TRUE(Near(f.probes[4], 255, 255, 255, 40));
    } else {
      // The whole picture lies in the marker block.
      EXPECT_EQ(static_cast<int>(i), MarkerFrame(f.probes[5]));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, SourceOddMovies, ::testing::ValuesIn(OddMovies()),
                         [](const ::testing::TestParamInfo<OddMovie> &param) {
                           return std::string(param.param.name);
                         });

class SourceOddShapes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir_ = new TempDir(); }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir *dir_;
};

TempDir *SourceOddShapes::dir_ = nullptr;

// Two runs of the pattern at different sizes, joined without re-encoding.
TEST_F(SourceOddShapes, PictureThatChangesSizeMidwayIsScaledToTheFirstSize) {
  MovieSpec small = OddRecipe("small.ts", "-c:v libx264 -pix_fmt yuv420p", "", 64, 48, 10);
  MovieSpec large = OddRecipe("large.ts", "-c:v libx264 -pix_fmt yuv420p", "", 128, 96, 10);
  ASSERT_FALSE(MakeMovie(*dir_, small).empty());
  ASSERT_FALSE(MakeMovie(*dir_, large).empty());
  const std::string list = WriteFile(*dir_, "parts.txt", "file 'small.ts'\nfile 'large.ts'\n");
  for (const char *joined : {"joined.ts", "joined.mkv"}) {
    SCOPED_TRACE(joined);
    const std::string path =
        MakeMovieWith(*dir_, joined, "-f concat -safe 0 -i \"" + list + "\" -c copy");
    ASSERT_FALSE(path.empty());
    Watchdog watchdog(kPatienceMs * 2, joined);
    MoviePlayer player;
    // The marker block is read near its corner: the larger part shrinks it.
    player.renderer->SetProbes(
        {{3, 3}, TopLeft(small), TopRight(small), BottomLeft(small), BottomRight(small)});
    ASSERT_EQ(S_OK, player.Load(path));
    EXPECT_EQ(small.width, player.renderer->Width());
    EXPECT_EQ(small.height, player.renderer->Height());
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));

    const auto frames = player.renderer->Frames();
    ASSERT_EQ(20u, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const DrawnFrame &f = frames[i];
      if (i > 0) {
        EXPECT_GT(f.start, frames[i - 1].start);
      }
      EXPECT_EQ(static_cast<int>(i % 10), MarkerFrame(f.probes[0]));
      EXPECT_TRUE(Near(f.probes[1], 255, 0, 0, 40));
      EXPECT_TRUE(Near(f.probes[2], 0, 255, 0, 40));
      EXPECT_TRUE(Near(f.probes[3], 0, 0, 255, 40));
      EXPECT_TRUE(Near(f.probes[4], 255, 255, 255, 40));
    }
  }
}

// MPEG-TS has no index: going back searches the file by time stamp. Its one
// key frame is decoded before the first picture is shown (reordered pictures).
TEST_F(SourceOddShapes, TransportStreamLoopsBackToItsFirstPicture) {
  const MovieSpec recipe = OddRecipe("loop.ts", "-c:v libx264 -pix_fmt yuv420p -bf 2", "-c:a mp2");
  const std::string path = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(path.empty());
  Watchdog watchdog(kPatienceMs * 2, recipe.file);
  MoviePlayer player;
  player.renderer->SetProbes({MarkerPoint()});
  ASSERT_EQ(S_OK, player.Load(path));
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  for (int loop = 1; loop <= 2; ++loop) {
    ASSERT_EQ(S_OK, player.position->put_CurrentPosition(0.0));
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  }
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(3u * recipe.frames, frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i) % recipe.frames, MarkerFrame(frames[i].probes[0])) << i;
  }
}

// A Matroska track whose default picture duration is damaged (4 s instead of
// 40 ms): every picture keeps its own time and the movie ends at its end.
TEST_F(SourceOddShapes, DamagedPictureDurationsHoldNoPictureBack) {
  const MovieSpec recipe = OddRecipe("durations.mkv", "-c:v libx264 -pix_fmt yuv420p", "-c:a libvorbis");
  const std::string made = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(made.empty());
  std::string bytes;
  {
    std::ifstream in(made, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // DefaultDuration of the first (video) track: 4 bytes of nanoseconds.
  const std::string forty = std::string("\x23\xE3\x83\x84\x02\x62\x5A\x00", 8);
  const size_t at = bytes.find(forty);
  ASSERT_NE(std::string::npos, at);
  bytes.replace(at + 4, 4, std::string("\xEE\x6B\x28\x00", 4));
  const std::string path = WriteFile(*dir_, "damaged-durations.mkv", bytes);

  Watchdog watchdog(kPatienceMs * 2, "damaged-durations.mkv");
  MoviePlayer player;
  ASSERT_EQ(S_OK, player.Load(path));
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(static_cast<size_t>(recipe.frames), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_NEAR(static_cast<double>(frames[0].start + static_cast<REFERENCE_TIME>(i) * 400000),
                static_cast<double>(frames[i].start), 10000.0)
        << i;
    EXPECT_LT(frames[i].stop, 5000000) << i;  // the movie is 0.4 s long
  }
}

// An MPEG-TS whose first picture is stamped 3000 s late (its clock jumped):
// the movie plays on instead of waiting for it.
TEST_F(SourceOddShapes, TransportStreamClockJumpIsNotWaitedFor) {
  const MovieSpec recipe = OddRecipe("steady.ts", "-c:v libx264 -pix_fmt yuv420p -bf 0", "-c:a mp2");
  const std::string steady = MakeMovie(*dir_, recipe);
  ASSERT_FALSE(steady.empty());
  const std::string path = MakeMovieWith(
      *dir_, "jump.ts",
      "-i \"" + steady + "\" -c copy -bsf:v \"setts=pts=if(eq(N\\,0)\\,PTS+3000/TB\\,PTS)\"");
  ASSERT_FALSE(path.empty());
  Watchdog watchdog(kPatienceMs * 2, "jump.ts");
  MoviePlayer player;
  player.renderer->SetProbes({MarkerPoint()});
  ASSERT_EQ(S_OK, player.Load(path));
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(static_cast<size_t>(recipe.frames), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i), MarkerFrame(frames[i].probes[0]));
    EXPECT_LT(frames[i].start, 10000000) << i;  // within the movie's first second
  }
}

TEST_F(SourceOddShapes, VariableFrameRateKeepsEachPicturesOwnTime) {
  // Ten pictures 20 ms apart, then ten 100 ms apart.
  const std::string path = MakeMovieWith(
      *dir_, "vfr.mkv",
      "-f lavfi -i testsrc2=s=64x48:r=50:d=0.4 -vf "
      "\"setpts='if(lt(N,10),N*0.02,0.2+(N-10)*0.1)/TB'\" -fps_mode vfr -c:v libx264");
  ASSERT_FALSE(path.empty());
  Watchdog watchdog(kPatienceMs * 2, "vfr.mkv");
  MoviePlayer player;
  ASSERT_EQ(S_OK, player.Load(path));
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(20u, frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const REFERENCE_TIME expected =
        i < 10 ? static_cast<REFERENCE_TIME>(i) * 200000
               : 2000000 + static_cast<REFERENCE_TIME>(i - 10) * 1000000;
    EXPECT_NEAR(static_cast<double>(expected), static_cast<double>(frames[i].start), 10000.0);
    EXPECT_GT(frames[i].stop, frames[i].start);
    // A picture never lasts into the next one's time.
    if (i + 1 < frames.size()) {
      EXPECT_LE(frames[i].stop, frames[i + 1].start + 10000);
    }
  }
}

// Writes a, b, c, d of the matrix of an MP4's first track (a shown point is
// (a x + c y, b x + d y)), as editors write it for turned or mirrored clips.
bool SetTrackMatrix(const std::string &path, const int (&abcd)[4]) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t box = bytes.find("tkhd");
  if (!file || box == std::string::npos) return false;
  // After the version's times and ids and 16 bytes more: a b u c d v x y w, 16.16.
  const size_t at = box + 8 + (bytes[box + 4] == 1 ? 32 : 20) + 16;
  const int slot[4] = {0, 1, 3, 4};
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 4; ++k) {
      bytes[at + slot[i] * 4 + k] = static_cast<char>((uint32_t(abcd[i]) << 16) >> (24 - 8 * k));
    }
  }
  file.seekp(0);
  return static_cast<bool>(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

// Pixels made square and the container's turn or mirror applied, as the
// ffmpeg command shows the file: the renderer gets the shown size, and each
// quadrant of the pattern where it is seen.
TEST_F(SourceOddShapes, PicturesAreShownSquareAndTurnedAsTheFileSays) {
  struct Case {
    const char *name;
    const char *ratio;    // the pixels' aspect ratio
    const char *rotate;   // the tag the ffmpeg command writes, or ""
    int matrix[4];        // a, b, c, d written into the file; zeros: none
    int width, height;    // shown
    const char *corners;  // quadrant colours seen top-left, top-right, bottom-left, bottom-right
  };
  const Case cases[] = {
      {"square", "1", "", {}, 128, 96, "RGBW"},
      {"wide-pixels", "2", "", {}, 256, 96, "RGBW"},
      {"pal-16x9", "64/45", "", {}, 182, 96, "RGBW"},
      {"tall-pixels", "1/2", "", {}, 64, 96, "RGBW"},
      // The ffmpeg command writes the tag as a quarter turn anticlockwise.
      {"rotate-tag-90", "1", "90", {}, 96, 128, "GWRB"},
      {"wide-pixels-rotate-tag-90", "2", "90", {}, 96, 256, "GWRB"},
      {"turn-clockwise", "1", "", {0, 1, -1, 0}, 96, 128, "BRWG"},
      {"turn-180", "1", "", {-1, 0, 0, -1}, 128, 96, "WBGR"},
      {"mirror", "1", "", {-1, 0, 0, 1}, 128, 96, "GRWB"},
      {"upside-down", "1", "", {1, 0, 0, -1}, 128, 96, "BWRG"},
      {"transpose", "1", "", {0, 1, 1, 0}, 96, 128, "RBGW"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MovieSpec recipe = OddRecipe(std::string(c.name) + "-coded.mp4",
                                 "-c:v libx264 -pix_fmt yuv420p -vf setsar=" + std::string(c.ratio),
                                 "", 128, 96, 3);
    const std::string coded = MakeMovie(*dir_, recipe);
    ASSERT_FALSE(coded.empty());
    // The encoders drop the tag; copying the streams keeps it as a display matrix.
    const std::string path =
        MakeMovieWith(*dir_, std::string(c.name) + ".mp4",
                      "-i \"" + coded + "\" -c copy -metadata:s:v:0 rotate=" +
                          std::string(*c.rotate != 0 ? c.rotate : "0"));
    ASSERT_FALSE(path.empty());
    if (c.matrix[0] != 0 || c.matrix[1] != 0) {
      ASSERT_TRUE(SetTrackMatrix(path, c.matrix));
    }
    Watchdog watchdog(kPatienceMs * 2, c.name);
    MoviePlayer player;
    // Inside each shown quadrant, clear of its edges and of the marker block.
    const int w = c.width, h = c.height;
    player.renderer->SetProbes({{w * 35 / 100, h * 35 / 100}, {w * 65 / 100, h * 35 / 100},
                                {w * 35 / 100, h * 65 / 100}, {w * 65 / 100, h * 65 / 100}});
    ASSERT_EQ(S_OK, player.Load(path));
    EXPECT_EQ(c.width, player.renderer->Width());
    EXPECT_EQ(c.height, player.renderer->Height());
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    const auto frames = player.renderer->Frames();
    ASSERT_EQ(static_cast<size_t>(recipe.frames), frames.size());
    for (const DrawnFrame &f : frames) {
      for (int corner = 0; corner < 4; ++corner) {
        const char k = c.corners[corner];
        EXPECT_TRUE(Near(f.probes[corner], k == 'R' || k == 'W' ? 255 : 0,
                         k == 'G' || k == 'W' ? 255 : 0, k == 'B' || k == 'W' ? 255 : 0, 40))
            << corner;
      }
    }
  }
}

TEST_F(SourceOddShapes, HugePicturePlaysEveryFrame) {
  // Solid quadrants: drawing the numbered pattern at this size takes ffmpeg long.
  const std::string path = MakeMovieWith(
      *dir_, "uhd.mp4",
      "-f lavfi -i \"color=red:s=1920x1080:r=25:d=0.12[a];color=lime:s=1920x1080:r=25:d=0.12[b];"
      "color=blue:s=1920x1080:r=25:d=0.12[c];color=white:s=1920x1080:r=25:d=0.12[d];"
      "[a][b]hstack[top];[c][d]hstack[bottom];[top][bottom]vstack\" "
      "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
  ASSERT_FALSE(path.empty());
  Watchdog watchdog(kPatienceMs * 2, "uhd.mp4");
  MoviePlayer player;
  player.renderer->SetProbes({{960, 540}, {2880, 540}, {960, 1620}, {3839, 2159}});
  ASSERT_EQ(S_OK, player.Load(path));
  EXPECT_EQ(3840, player.renderer->Width());
  EXPECT_EQ(2160, player.renderer->Height());
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  const auto frames = player.renderer->Frames();
  ASSERT_EQ(3u, frames.size());
  for (const DrawnFrame &f : frames) {
    EXPECT_TRUE(Near(f.probes[0], 255, 0, 0, 40));
    EXPECT_TRUE(Near(f.probes[1], 0, 255, 0, 40));
    EXPECT_TRUE(Near(f.probes[2], 0, 0, 255, 40));
    EXPECT_TRUE(Near(f.probes[3], 255, 255, 255, 40));
  }
}

// Sound and picture of different lengths: the completion waits for the longer.
// A pass lasts from the movie's start to the later of its picture's and its
// sound's end (late or short sound is padded with silence), and a loop's next
// pass starts there on the stream's time, also when the seek comes late.
TEST_F(SourceOddShapes, SoundLongerShorterOrLaterThanThePictureLoopsOnTheLongerOne) {
  struct Case {
    const char *file;
    double pictureSeconds;
    std::string sound;  // ffmpeg input; empty: silent
    double passSeconds;
  };
  for (const Case &c : {Case{"long-sound.mp4", 0.4, "-f lavfi -i sine=f=440:d=1.2", 1.2},
                        Case{"short-sound.mp4", 1.2, "-f lavfi -i sine=f=440:d=0.3", 1.2},
                        Case{"late-sound.mp4", 1.0, "-itsoffset 0.5 -f lavfi -i sine=f=440:d=0.5",
                             1.0},
                        Case{"silent.mp4", 0.8, "", 0.8}}) {
    SCOPED_TRACE(c.file);
    const std::string path = MakeMovieWith(
        *dir_, c.file,
        "-f lavfi -i testsrc2=s=64x48:r=25:d=" + std::to_string(c.pictureSeconds) + " " +
            c.sound + " -c:v libx264" + (c.sound.empty() ? "" : " -c:a aac"));
    ASSERT_FALSE(path.empty());
    Watchdog watchdog(kPatienceMs * 2, c.file);
    MoviePlayer player;
    ASSERT_EQ(S_OK, player.Load(path));
    REFTIME length = 0;
    ASSERT_EQ(S_OK, player.position->get_Duration(&length));
    EXPECT_NEAR(c.passSeconds, length, 0.1);
    mediagraph::ComPtr<ILoopHint> hint;
    ASSERT_EQ(S_OK, player.graph->QueryInterface(IID_ILoopHint, hint.put_void()));
    hint->SetRepetitive(TRUE);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, player.control->Run());
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    // Not before the longer stream has been played out (a lower bound only).
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_GT(seconds, c.passSeconds - 0.15);
    const size_t pictures = static_cast<size_t>(c.pictureSeconds * 25 + 0.5);
    EXPECT_EQ(pictures, player.renderer->FrameCount());
    // Once more from the start, as a looping cut-scene does, by a game that
    // looks a little after the end has come.
    Sleep(40);
    ASSERT_EQ(S_OK, player.position->put_CurrentPosition(0.0));
    ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
    const auto frames = player.renderer->Frames();
    ASSERT_EQ(2 * pictures, frames.size());
    EXPECT_NEAR(c.passSeconds * 1e7, static_cast<double>(frames[pictures].start), 1e4);
  }
}

// Nothing of a failed RenderFile stays: no source, the renderer unconnected.
void ExpectNothingLeft(MoviePlayer &player, const std::string &path) {
  mediagraph::ComPtr<IBaseFilter> source;
  EXPECT_EQ(VFW_E_NOT_FOUND, player.graph->FindFilterByName(Wide(path).c_str(), source.put()));
  mediagraph::ComPtr<IPin> input, peer;
  ASSERT_EQ(S_OK, player.renderer->FindPin(L"In", input.put()));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, input->ConnectedTo(peer.put()));
}

TEST_F(SourceOddShapes, SoundWithoutPictureCannotRenderAndLeavesOnlyTheRenderer) {
  for (const char *file : {"tone.m4a", "tone.mp3"}) {
    SCOPED_TRACE(file);
    const std::string path = MakeMovieWith(*dir_, file, "-f lavfi -i sine=d=0.5");
    ASSERT_FALSE(path.empty());
    MoviePlayer player;
    EXPECT_EQ(VFW_E_CANNOT_RENDER, player.Load(path));
    ExpectNothingLeft(player, path);
  }
}

TEST_F(SourceOddShapes, PathsThatAreNoMovieFailWithTheirCause) {
  MoviePlayer player;
  const std::string empty = WriteFile(*dir_, "empty.mp4", "");
  EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, player.Load(empty));

  const std::string folder = dir_->Path() + "/folder.mp4";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  SetLastError(0);
  const HRESULT hr = player.Load(folder);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(0u, GetLastError()) << std::hex << hr;
  ExpectNothingLeft(player, folder);
}

// Names of the files in `dir` opened since the last call (inotify, `watch`).
std::vector<std::string> OpenedSince(int watch) {
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[4096];
  ssize_t got;
  while ((got = read(watch, buffer, sizeof buffer)) > 0) {
    for (char *at = buffer; at < buffer + got;) {
      const auto *event = reinterpret_cast<const inotify_event *>(at);
      if (event->len > 0) names.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  return names;
}

// Playlists and image sequences name other files, which FFmpeg would open
// itself (a FIFO there hung the load for good): the load fails as a format we
// cannot load, and nothing but the named file is ever opened.
TEST_F(SourceOddShapes, FilesThatNameOtherFilesAreRefusedUnopened) {
  ASSERT_FALSE(MakeMovie(*dir_, OddRecipe("named.mp4", "-c:v libx264", "", 64, 48, 3)).empty());
  ASSERT_FALSE(MakeMovieWith(*dir_, "frame001.png", "-f lavfi -i color=s=16x16 -frames:v 1").empty());
  ASSERT_EQ(0, mkfifo((dir_->Path() + "/named-fifo.mp4").c_str(), 0600));
  const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nnamed.mp4\n#EXT-X-ENDLIST\n";
  const struct {
    const char *file;
    std::string bytes;
  } cases[] = {
      {"concat-movie.mp4", "ffconcat version 1.0\nfile 'named.mp4'\n"},
      {"concat-fifo.mp4", "ffconcat version 1.0\nfile 'named-fifo.mp4'\n"},
      {"concat-absolute.mp4", "ffconcat version 1.0\nfile '" + dir_->Path() + "/named.mp4'\n"},
      {"playlist.m3u8", hls},
      {"playlist.mp4", hls},
      {"frame%03d.png", "the name makes it a sequence: frame001.png on"},
  };
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir_->Path().c_str(), IN_OPEN), 0);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = WriteFile(*dir_, c.file, c.bytes);
    OpenedSince(watch);
    Watchdog watchdog(kPatienceMs, c.file);
    MoviePlayer player;
    SetLastError(0);
    EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, player.Load(path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), GetLastError());
    ExpectNothingLeft(player, path);
    for (const std::string &opened : OpenedSince(watch)) EXPECT_EQ(c.file, opened);
  }
  close(watch);
}

TEST_F(SourceOddShapes, PathWithCharactersBeyondAsciiPlays) {
  const std::string made = MakeMovie(*dir_, OddRecipe("plain.mp4", "-c:v libx264", "-c:a aac"));
  ASSERT_FALSE(made.empty());
  // UTF-8 on disk; the graph takes the name as UTF-16 text.
  const std::string utf8 = dir_->Path() + "/Zwischensequenz \xC3\xA9t\xC3\xA9 \xE6\x97\xA5.mp4";
  ASSERT_EQ(0, std::rename(made.c_str(), utf8.c_str()));
  const std::wstring wide = Wide(dir_->Path()) + L"/Zwischensequenz \u00E9t\u00E9 \u65E5.mp4";

  Watchdog watchdog(kPatienceMs * 2, "non-ASCII path");
  MoviePlayer player;
  ASSERT_EQ(S_OK, player.graph->RenderFile(wide.c_str(), nullptr));
  player.control = player.graph.As<IMediaControl>(IID_IMediaControl);
  player.events = player.graph.As<IMediaEvent>(IID_IMediaEvent);
  ASSERT_EQ(S_OK, player.control->Run());
  ASSERT_TRUE(player.WaitFor(EC_COMPLETE, kPatienceMs));
  EXPECT_EQ(10u, player.renderer->FrameCount());
}

}  // namespace
