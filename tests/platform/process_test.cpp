#include "platform/win32/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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
  const std::string path = testing::TempDir() + "exit_process_witness.txt";
  std::remove(path.c_str());
  EXPECT_EXIT(WriteThenExit(path, 42), testing::ExitedWithCode(42), "");
  EXPECT_EQ(ReadFile(path), "flushed");
  EXPECT_EXIT(ExitProcess(0), testing::ExitedWithCode(0), "");
  std::remove(path.c_str());
}

}  // namespace
