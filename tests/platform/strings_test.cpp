#include "platform/win32/strings.h"

#include <gtest/gtest.h>

TEST(StringsTest, LengthsTreatNullAsEmpty) {
  EXPECT_EQ(lstrlenW(L"movie"), 5);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA("movie"), 5);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}

TEST(StringsTest, BoundedCopyTruncatesAndAlwaysTerminates) {
  WCHAR buffer[8];
  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(lstrcpynW(buffer, L"abcdef", 4), buffer);
  EXPECT_STREQ(buffer, L"abc");
  EXPECT_EQ(buffer[4], L'#');  // nothing written past the limit

  EXPECT_STREQ(lstrcpynW(buffer, L"ab", 8), L"ab");
  EXPECT_STREQ(lstrcpynW(buffer, L"abcdef", 1), L"");
  buffer[0] = L'x';
  lstrcpynW(buffer, L"abcdef", 0);
  EXPECT_EQ(buffer[0], L'x');
  EXPECT_EQ(lstrcpynW(buffer, nullptr, 4), nullptr);
  EXPECT_EQ(lstrcpynW(nullptr, L"a", 4), nullptr);

  EXPECT_STREQ(lstrcpyW(buffer, L"whole"), L"whole");
  EXPECT_EQ(lstrcpyW(buffer, nullptr), nullptr);
}

TEST(StringsTest, ComparisonsOrderAndFoldCase) {
  EXPECT_EQ(lstrcmpW(L"abc", L"abc"), 0);
  EXPECT_LT(lstrcmpW(L"abc", L"abd"), 0);
  EXPECT_GT(lstrcmpW(L"abcd", L"abc"), 0);
  EXPECT_NE(lstrcmpW(L"ABC", L"abc"), 0);
  EXPECT_EQ(lstrcmpiW(L"TextureRenderer", L"TEXTURERENDERER"), 0);
  EXPECT_LT(lstrcmpiW(L"a", L"B"), 0);
  EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
  EXPECT_LT(lstrcmpW(nullptr, L""), 0);
  EXPECT_GT(lstrcmpiW(L"", nullptr), 0);
}
