#include "platform/win32/strings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/win32/errors.h"

namespace {

// "h\u00e9 \u20ac\U0001D11E" in UTF-8: 1-, 2-, 3- and 4-byte sequences.
const char kUtf8[] = "h\xC3\xA9 \xE2\x82\xAC\xF0\x9D\x84\x9E";
const wchar_t kWide[] = {L'h', 0xE9, L' ', 0x20AC, 0x1D11E, 0};

TEST(CodePagesTest, Utf8RoundTripsWithSizeQueries) {
  const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, kUtf8, -1, nullptr, 0);
  ASSERT_EQ(needed, 6);  // five characters and the terminator
  std::wstring wide(static_cast<size_t>(needed), L'?');
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, kUtf8, -1, &wide[0], needed), needed);
  EXPECT_STREQ(wide.c_str(), kWide);

  const int bytes = WideCharToMultiByte(CP_UTF8, 0, kWide, -1, nullptr, 0, nullptr, nullptr);
  ASSERT_EQ(bytes, static_cast<int>(sizeof kUtf8));
  std::string narrow(static_cast<size_t>(bytes), '?');
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, -1, &narrow[0], bytes, nullptr, nullptr),
            bytes);
  EXPECT_STREQ(narrow.c_str(), kUtf8);

  // An explicit length converts exactly that many units, without a terminator.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kUtf8, 3, nullptr, 0), 2);
}

TEST(CodePagesTest, InvalidUtf8FailsStrictlyAndIsReplacedOtherwise) {
  const char *invalid[] = {"a\xC3(", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xE2\x82"};
  for (const char *text : invalid) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0), 0)
        << text;
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
  WCHAR out[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3(", -1, out, 8), 4);
  EXPECT_EQ(out[0], L'a');
  EXPECT_EQ(out[1], 0xFFFD);
  EXPECT_EQ(out[2], L'(');

  const wchar_t loneSurrogate[] = {L'a', 0xD800, L'b', 0};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, loneSurrogate, -1, nullptr, 0,
                                nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, loneSurrogate, -1, nullptr, 0, nullptr, nullptr),
            1 + 3 + 1 + 1);
}

TEST(CodePagesTest, TooSmallBuffersAndBadArgumentsAreRefused) {
  WCHAR small[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kUtf8, -1, small, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char narrow[4];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, -1, narrow, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 5), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 0);
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, -1, nullptr, 0, nullptr, &usedDefault), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x1, "abc", -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

// Restores the C library's locale when a test changes it.
class LocaleGuard {
 public:
  LocaleGuard() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST(CodePagesTest, AnsiCodePageFollowsTheCurrentLocale) {
  LocaleGuard guard;
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  WCHAR wide[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "h\xC3\xA9", -1, wide, 8), 3);
  EXPECT_EQ(wide[1], 0xE9);

  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  char narrow[8] = {};
  BOOL usedDefault = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"ab", -1, narrow, 8, nullptr, &usedDefault), 3);
  EXPECT_STREQ(narrow, "ab");
  EXPECT_FALSE(usedDefault);
  // The C locale cannot hold the euro sign: the default character stands in.
  const wchar_t euro[] = {L'a', 0x20AC, 0};
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, euro, -1, narrow, 8, "*", &usedDefault), 3);
  EXPECT_STREQ(narrow, "a*");
  EXPECT_TRUE(usedDefault);
}

}  // namespace
