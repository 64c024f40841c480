// Damaged copies of ordinary movies (cut short, bytes flipped, blocks
// overwritten, zeroed or repeated): RenderFile fails, or the movie plays and
// either completes or stops on request, always within a bounded time. The
// damage is drawn from a fixed seed, so a failing copy can be made again;
// CINELINK_CORRUPTION_SEED picks another seed, and CINELINK_KEEP_DAMAGED names
// a directory (on the same file system) to keep the copies that did not complete.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/media/media.h"
#include "tests/mediagraph/support/movie_player.h"
#include "tests/mediagraph/support/test_movies.h"
#include "tests/mediagraph/support/watchdog.h"

using namespace mediagraph_test;

namespace {

constexpr int kCopies = 50;
// A movie whose pictures are all due has long completed by then; longer only
// when damaged time stamps put a picture far ahead, and then Stop must end it.
constexpr int kCompletionMs = 3000;

std::string ReadAll(const std::string &path) {
  std::string bytes;
  if (FILE *file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

// One random kind of damage, described in *what.
std::string Damage(const std::string &bytes, std::mt19937 *random, std::string *what) {
  std::string out = bytes;
  auto pick = [random](size_t below) {
    return std::uniform_int_distribution<size_t>(0, below - 1)(*random);
  };
  const size_t size = bytes.size();
  switch (pick(5)) {
    case 0: {
      const size_t keep = pick(size);
      out.resize(keep);
      *what = "cut to " + std::to_string(keep) + " bytes";
      break;
    }
    case 1: {
      const size_t flips = 1 + pick(20);
      for (size_t i = 0; i < flips; ++i) out[pick(size)] ^= static_cast<char>(1 + pick(255));
      *what = std::to_string(flips) + " bytes flipped";
      break;
    }
    case 2: {
      const size_t at = pick(size);
      const size_t length = std::min(size - at, 1 + pick(512));
      for (size_t i = 0; i < length; ++i) out[at + i] = static_cast<char>(pick(256));
      *what = std::to_string(length) + " random bytes at " + std::to_string(at);
      break;
    }
    case 3: {
      const size_t at = pick(size);
      const size_t length = std::min(size - at, 1 + pick(2048));
      out.replace(at, length, length, '\0');
      *what = std::to_string(length) + " zero bytes at " + std::to_string(at);
      break;
    }
    default: {
      const size_t from = pick(size);
      const size_t length = std::min(size - from, 1 + pick(2048));
      const size_t to = pick(size);
      out.insert(to, bytes, from, length);
      *what = std::to_string(length) + " bytes from " + std::to_string(from) + " repeated at " +
              std::to_string(to);
      break;
    }
  }
  return out;
}

TEST(SourceCorruptMovies, DamagedCopiesFailOrPlayAndStopWithinBoundedTime) {
  TempDir dir;
  const std::vector<MovieSpec> originals = [] {
    const char *formats[][3] = {
        {"original.mp4", "-c:v libx264 -pix_fmt yuv420p -g 4", "-c:a aac"},
        {"original.mkv", "-c:v libvpx -auto-alt-ref 0 -g 4", "-c:a libvorbis"},
        {"original.ts", "-c:v mpeg2video -g 4", "-c:a mp2"},
        {"original.avi", "-c:v mpeg4 -g 4", "-c:a libmp3lame"},
        {"original.asf", "-c:v wmv2 -g 4", "-c:a wmav2"},
        {"original.ogv", "-c:v libtheora -g 4", "-c:a libvorbis"},
    };
    std::vector<MovieSpec> recipes;
    for (const auto &format : formats) {
      MovieSpec recipe;
      recipe.file = format[0];
      recipe.videoArgs = format[1];
      recipe.audioArgs = format[2];
      recipe.frames = 8;
      recipes.push_back(recipe);
    }
    return recipes;
  }();
  std::vector<std::string> contents;
  for (const MovieSpec &recipe : originals) {
    const std::string path = MakeMovie(dir, recipe);
    ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << recipe.file;
    contents.push_back(ReadAll(path));
    ASSERT_GT(contents.back().size(), 1000u);
  }

  const char *seedText = std::getenv("CINELINK_CORRUPTION_SEED");
  const unsigned seed = seedText != nullptr ? static_cast<unsigned>(std::atoi(seedText)) : 20261207u;
  std::mt19937 random(seed);
  int refused = 0, completed = 0, stopped = 0;
  for (int copy = 0; copy < kCopies; ++copy) {
    const size_t original = static_cast<size_t>(copy) % originals.size();
    std::string what;
    const std::string bytes = Damage(contents[original], &random, &what);
    const std::string name = "copy" + std::to_string(copy) + "-" + originals[original].file;
    const std::string described = "seed " + std::to_string(seed) + ", " + name + ": " + what;
    SCOPED_TRACE(described);
    const std::string path = WriteFile(dir, name, bytes);

    Watchdog watchdog(kPatienceMs * 3, described);
    MoviePlayer player;
    if (FAILED(player.Load(path))) {
      ++refused;
      continue;
    }
    ASSERT_EQ(S_OK, player.control->Run());
    const bool done = player.WaitFor(EC_COMPLETE, kCompletionMs);
    if (done && copy % 2 == 0) {
      // Loop as a cut-scene does; the replay may be stopped midway.
      EXPECT_EQ(S_OK, player.position->put_CurrentPosition(0.0));
    }
    EXPECT_EQ(S_OK, player.control->Stop());
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, player.control->GetState(kPatienceMs, &state));
    EXPECT_EQ(State_Stopped, state);
    done ? ++completed : ++stopped;
    if (!done) {
      std::printf("not complete after %d ms, stopped: %s\n", kCompletionMs, described.c_str());
      if (const char *keep = std::getenv("CINELINK_KEEP_DAMAGED")) {
        std::rename(path.c_str(), (std::string(keep) + "/" + name).c_str());
      }
    }

    // Damaged time stamps still reach the renderer in order within a run.
    const auto frames = player.renderer->Frames();
    for (size_t i = 1; i < frames.size(); ++i) {
      if (frames[i].discontinuity || !frames[i].hasTime || !frames[i - 1].hasTime) continue;
      EXPECT_GT(frames[i].start, frames[i - 1].start) << "frame " << i;
    }
  }
  std::printf("%d copies: %d refused by RenderFile, %d completed, %d stopped before completing\n",
              kCopies, refused, completed, stopped);
}

}  // namespace
