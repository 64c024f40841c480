// The runner on paths it cannot take a home directory from.
#include "launcher/game_runner.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

// Sends the process's standard output to a temporary file until Finish().
class StdoutCapture {
 public:
  StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~StdoutCapture() {
    Restore();
    std::fclose(file_);
  }
  StdoutCapture(const StdoutCapture &) = delete;
  StdoutCapture &operator=(const StdoutCapture &) = delete;

  std::string Finish() {
    Restore();
    std::string text;
    std::rewind(file_);
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
      text.push_back(static_cast<char>(c));
    }
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

  std::FILE *file_;
  int saved_ = -1;
};

// The runner sets the interpreter's flags and home only past the separator check, so
// they show whether it went any further.
void ExpectInterpreterUntouched() {
  EXPECT_FALSE(Py_IsInitialized());
  EXPECT_EQ(Py_OptimizeFlag, 0);
  EXPECT_EQ(Py_NoSiteFlag, 0);
  EXPECT_EQ(Py_GetPythonHome(), nullptr);
}

// An empty buffer is what a failed path query leaves; a backslash is no separator here.
const WCHAR *const kPathsWithoutSeparator[] = {L"kestrel", L"", L"C:\\Games\\kestrel.exe"};

TEST(GameRunnerTest, PathWithoutSeparatorReportsOnStdoutAndNeverStartsTheInterpreter) {
  for (const WCHAR *path : kPathsWithoutSeparator) {
    SCOPED_TRACE(testing::Message() << "path \"" << path << "\"");
    WCHAR programPath[kLauncherPathCapacity];
    WCHAR homeDirectory[kLauncherPathCapacity];
    std::wcscpy(programPath, path);
    std::wcscpy(homeDirectory, path);

    StdoutCapture capture;
    const int result = RunGame(programPath, homeDirectory);
    EXPECT_EQ(capture.Finish(), "Get module file name error!\n");
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(homeDirectory, path);
    ExpectInterpreterUntouched();
  }
}

TEST(GameRunnerDeathTest, PathWithoutSeparatorEndsTheProcessWith255) {
  WCHAR programPath[kLauncherPathCapacity] = L"kestrel";
  WCHAR homeDirectory[kLauncherPathCapacity] = L"kestrel";
  // As the entry routine's return value reaches the shell.
  EXPECT_EXIT(std::exit(RunGame(programPath, homeDirectory)), testing::ExitedWithCode(255), "");
}

}  // namespace
