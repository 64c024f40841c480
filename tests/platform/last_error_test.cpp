#include "platform/win32/errors.h"

#include <gtest/gtest.h>

#include <thread>

TEST(LastErrorTest, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 0xFFFF;
  std::thread([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  }).join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);  // a new thread starts clean
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}
