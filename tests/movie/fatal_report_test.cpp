#include "movie/fatal_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frames/sdl_surface_flusher.h"
#include "movie/movie_instance.h"
#include "platform/win32/windows.h"

namespace {

constexpr HRESULT kCut = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

TEST(FormatBounded, RejectsZeroAndHugeCapacityWithoutWriting) {
  wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(E_INVALIDARG, FormatBounded(buffer, 0, L"abc"));
  EXPECT_EQ(E_INVALIDARG, FormatBounded(buffer, 2147483648u, L"abc"));
  EXPECT_EQ(L'x', buffer[0]);
}

TEST(FormatBounded, CapacityOneLeavesAnEmptyTerminatedString) {
  wchar_t buffer[2] = {L'x', L'x'};
  EXPECT_EQ(kCut, FormatBounded(buffer, 1, L"%s", L"a"));
  EXPECT_EQ(L'\0', buffer[0]);
  EXPECT_EQ(L'x', buffer[1]);
  EXPECT_EQ(S_OK, FormatBounded(buffer, 1, L""));
}

TEST(FormatBounded, ExactlyFullFitsAndOneMoreIsCut) {
  wchar_t buffer[8];
  wmemset(buffer, L'x', 8);
  // "ab-12" is 5 characters: capacity 6 holds it with its terminator.
  EXPECT_EQ(S_OK, FormatBounded(buffer, 6, L"%s-%d", L"ab", 12));
  EXPECT_STREQ(L"ab-12", buffer);
  wmemset(buffer, L'x', 8);
  EXPECT_EQ(kCut, FormatBounded(buffer, 5, L"%s-%d", L"ab", 12));
  EXPECT_STREQ(L"ab-1", buffer);
  EXPECT_EQ(L'x', buffer[5]);
}

TEST(FormatBounded, FormatsTheReportLine) {
  wchar_t buffer[128];
  EXPECT_EQ(S_OK, FormatBounded(buffer, 128, L"%s failed with error %d: %s", L"Movie_Play", -5,
                                L"text\r\n"));
  EXPECT_STREQ(L"Movie_Play failed with error -5: text\r\n", buffer);
}

TEST(ReportFatalErrorDeathTest, ShowsTheBoxAndExitsWithTheLastError) {
  setenv("CINELINK_NO_DIALOG", "1", 1);
  EXPECT_EXIT(
      {
        SetLastError(ERROR_FILE_NOT_FOUND);
        ReportFatalError(L"Movie_Load");
      },
      testing::ExitedWithCode(2),
      "Error: Movie_Load failed with error 2: The system cannot find the file specified.");
}

TEST(ReportFatalErrorDeathTest, ErrorZeroStillReportsAndExitsWithZero) {
  setenv("CINELINK_NO_DIALOG", "1", 1);
  EXPECT_EXIT(
      {
        SetLastError(0);
        ReportFatalError(L"Movie_GetState");
      },
      testing::ExitedWithCode(0), "Movie_GetState failed with error 0: ");
}

// The load's own steps with the real graph.
void LoadOrReport(const std::string &path) {
  CoInitialize(nullptr);
  const std::wstring wide(path.begin(), path.end());
  auto *movie = new MovieInstance(new SDLSurfaceFlusher(64, 48));
  if (FAILED(movie->CreateGraph()) || FAILED(movie->RenderMovieFile(wide.c_str()))) {
    ReportFatalError(L"Movie_Load");
  }
}

TEST(ReportFatalErrorDeathTest, ALoadOfWhatIsNoMovieFileEndsAtOnceWithItsCause) {
  setenv("CINELINK_NO_DIALOG", "1", 1);
  char dir[] = "/tmp/cinelink-odd-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string fifo = std::string(dir) + "/pipe.mp4", file = std::string(dir) + "/a.mp4";
  const std::string playlist = std::string(dir) + "/list.mp4";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));  // no writer: a plain open would wait
  std::fclose(std::fopen(file.c_str(), "w"));
  // FFmpeg would open what the playlist names itself, past the check above.
  FILE *list = std::fopen(playlist.c_str(), "w");
  std::fputs("ffconcat version 1.0\nfile 'pipe.mp4'\n", list);
  std::fclose(list);
  std::string tooLong = dir;  // names that file in over 4096 bytes
  while (tooLong.size() <= 4096) tooLong += "/.";
  const struct {
    std::string path;
    int code;
    const char *text;
  } rows[] = {{fifo, 110, "The system cannot open the device or file specified."},
              {"/dev/null", 110, "The system cannot open the device or file specified."},
              {playlist, 11, "The file is not in a format that can be loaded."},
              {dir, 5, "Access is denied."},
              {tooLong + "/a.mp4", 206, "The filename or extension is too long."}};
  for (const auto &row : rows) {
    EXPECT_EXIT(LoadOrReport(row.path), testing::ExitedWithCode(row.code),
                "Movie_Load failed with error " + std::to_string(row.code) + ": " + row.text);
  }
  unlink(fifo.c_str());
  unlink(file.c_str());
  unlink(playlist.c_str());
  rmdir(dir);
}

}  // namespace
