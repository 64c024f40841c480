#include "platform/win32/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(MessageBoxTest, WritesCaptionAndTextToStderrAsUtf8) {
  setenv("CINELINK_NO_DIALOG", "1", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"Movie_Load failed with error 2: caf\u00e9\r\n", L"Error",
                        MB_OK),
            IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_ICONERROR), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Movie_Load failed with error 2: caf\xC3\xA9\n"
            "Error: \n");
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Puts stand-in dialog helpers (shell scripts) first on PATH and pretends a
// desktop is present; everything is put back afterwards.
class FakeDesktop {
 public:
  FakeDesktop() : dir_(testing::TempDir() + "fake_desktop_" + std::to_string(getpid()) + "/") {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    Save("PATH");
    Save("DISPLAY");
    Save("CINELINK_NO_DIALOG");
    setenv("PATH", dir_.c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    unsetenv("CINELINK_NO_DIALOG");
  }
  ~FakeDesktop() {
    for (const auto &[name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    std::filesystem::remove_all(dir_);
  }

  void AddHelper(const std::string &name, const std::string &script) {
    const std::string path = dir_ + name;
    std::ofstream(path) << "#!/bin/sh\n" << script << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
  std::string Path(const std::string &name) const { return dir_ + name; }

 private:
  void Save(const char *name) {
    const char *value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  std::string dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(MessageBoxTest, ShowsTheDialogThroughADesktopHelperAndWaitsForIt) {
  FakeDesktop desktop;
  const std::string record = desktop.Path("zenity.args");
  // The helper takes its time (the shell runs with nothing else on PATH); the box
  // must not return before it is closed.
  desktop.AddHelper("zenity", "/bin/sleep 0.2; for a in \"$@\"; do echo \"$a\"; done > " + record);
  testing::internal::CaptureStderr();
  // The system text's line break would show as a stray character in the dialog.
  EXPECT_EQ(MessageBoxW(nullptr, L"-x <b>bold</b>\r\n", L"Error", MB_OK), IDOK);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(record),
            "--error\n--no-markup\n--title=Error\n--text=-x <b>bold</b>\n");
}

TEST(MessageBoxTest, FallsBackToXmessageForAsciiTextOnly) {
  FakeDesktop desktop;
  const std::string record = desktop.Path("xmessage.input");
  desktop.AddHelper("xmessage", "/bin/cat > " + record);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"-file cafe\n", L"Error", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: -file cafe\n");
  EXPECT_EQ(ReadFile(record), "-file cafe\n");
  // Its core fonts cannot draw Chinese: such a box is left to stderr.
  std::remove(record.c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"\u51fa\u9519\u4e86", L"Error", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: \xE5\x87\xBA\xE9\x94\x99\xE4\xBA\x86\n");
  EXPECT_FALSE(std::filesystem::exists(record));
}

TEST(MessageBoxTest, WithoutAnyHelperOnlyStderrIsWritten) {
  FakeDesktop desktop;
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"text", L"caption", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "caption: text\n");
}

// Appends to a file when destroyed, to show whether static destructors ran.
struct DestructorWitness {
  std::string path;
  ~DestructorWitness() {
    if (FILE *file = std::fopen(path.c_str(), "a")) {
      std::fputs(" destroyed", file);
      std::fclose(file);
    }
  }
};

void WriteThenExit(const std::string &path, UINT code) {
  static DestructorWitness witness{path};
  FILE *file = std::fopen(path.c_str(), "w");
  std::fputs("flushed", file);  // still buffered: ExitProcess has to flush it
  ExitProcess(code);
}

TEST(ExitProcessDeathTest, FlushesStdioAndEndsAtOnceWithTheCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // In the working directory: the death test's child (a fresh process) must
  // arrive at the same name.
  const std::string path = (std::filesystem::current_path() / "exit_witness.txt").string();
  std::remove(path.c_str());
  EXPECT_EXIT(WriteThenExit(path, 42), testing::ExitedWithCode(42), "");
  EXPECT_EQ(ReadFile(path), "flushed");
  EXPECT_EXIT(ExitProcess(0), testing::ExitedWithCode(0), "");
  std::remove(path.c_str());
}

}  // namespace
