#include "platform/win32/memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/errors.h"

TEST(LocalMemoryTest, ZeroInitialisedBlockKnowsItsSize) {
  // Dirty the heap first so a missing clear would show.
  HLOCAL dirty = LocalAlloc(LMEM_FIXED, 1000);
  ASSERT_NE(dirty, nullptr);
  std::memset(dirty, 0xAB, 1000);
  LocalFree(dirty);

  auto *block = static_cast<unsigned char *>(LocalAlloc(LMEM_ZEROINIT, 1000));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalSize(block), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemoryTest, RefusesWhatItCannotProvide) {
  SetLastError(0);
  EXPECT_EQ(LocalAlloc(0x0002 /* movable */, 16), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LocalAlloc(LPTR, SIZE_MAX - 4), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(LocalSize(nullptr), 0u);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}
