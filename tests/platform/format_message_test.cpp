#include "platform/win32/errors.h"

#include <gtest/gtest.h>

#include "platform/win32/memory.h"
#include "platform/win32/strings.h"

namespace {

constexpr DWORD kSystemAllocated =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessageTest, AllocatesTheSystemTextForACode) {
  LPWSTR text = nullptr;
  const DWORD length = FormatMessageW(kSystemAllocated, nullptr, ERROR_FILE_NOT_FOUND,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                      reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, L"The system cannot find the file specified.\r\n");
  EXPECT_EQ(length, static_cast<DWORD>(lstrlenW(text)));
  EXPECT_GE(LocalSize(text), (length + 1) * sizeof(WCHAR));
  EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(FormatMessageTest, EveryCodeTheStandInSetsHasALineEndedText) {
  const DWORD codes[] = {0,   2,   3,   5,   6,   8,    11,   13,  14,
                         50,  87,  122, 126, 127, 1113, 1444, 317, 1816};
  for (DWORD code : codes) {
    WCHAR text[256];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, 256,
                                        nullptr);
    ASSERT_GT(length, 2u) << code;
    EXPECT_EQ(text[length - 2], L'\r') << code;
    EXPECT_EQ(text[length - 1], L'\n') << code;
  }
}

TEST(FormatMessageTest, Win32ResultCodesShareTheWin32Text) {
  WCHAR plain[128], wrapped[128];
  ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_INVALID_PARAMETER, 0, plain,
                           128, nullptr),
            0u);
  ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                           static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)), 0,
                           wrapped, 128, nullptr),
            0u);
  EXPECT_STREQ(plain, wrapped);
}

TEST(FormatMessageTest, UnknownCodesAndSmallBuffersFail) {
  LPWSTR text = nullptr;
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(kSystemAllocated, nullptr, 0x12345, 0,
                           reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(text, nullptr);

  WCHAR small[10];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, small, 10, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
