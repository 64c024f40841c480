#include "platform/win32/modules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32/errors.h"
#include "platform/win32/strings.h"

namespace {

TEST(ModulesTest, AutomationLibraryIsNotThere) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(L"OleAut32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
}

TEST(ModulesTest, LoadsAHostLibraryAndFindsItsFunctions) {
  HMODULE library = LoadLibraryW(L"libm.so.6");
  ASSERT_NE(library, nullptr);
  // Through void(*)() as with any platform function pointer of another type.
  auto cosine = reinterpret_cast<double (*)(double)>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "cos")));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(library, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(library, nullptr), nullptr);
  EXPECT_TRUE(FreeLibrary(library));
}

TEST(ModulesTest, HandlesThatWereNeverLoadedAreRefused) {
  int notALibrary = 0;
  auto bogus = reinterpret_cast<HMODULE>(&notALibrary);
  EXPECT_FALSE(FreeLibrary(bogus));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(bogus, "cos"), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(ModulesTest, ExecutableNameIsTheFullPathAndTruncatesLikeThePlatform) {
  const std::wstring expected = std::filesystem::read_symlink("/proc/self/exe").wstring();
  ASSERT_GT(expected.size(), 5u);

  WCHAR full[4096];
  const DWORD length = GetModuleFileNameW(nullptr, full, 4096);
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(std::wstring(full), expected);

  // Exactly enough room for the terminator fits.
  std::wstring exact(expected.size() + 1, L'#');
  EXPECT_EQ(GetModuleFileNameW(nullptr, &exact[0], static_cast<DWORD>(exact.size())),
            expected.size());

  WCHAR small[6];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 6), 6u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::wstring(small), expected.substr(0, 5));

  // The launcher finds the directory by the last '/'.
  const std::wstring directory = expected.substr(0, expected.rfind(L'/'));
  EXPECT_EQ(std::wstring(full).substr(0, directory.size()), directory);
}

}  // namespace
