#include "platform/com/unknown.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool RefuseLarge(SIZE_T bytes) { return bytes > 100; }

TEST(TaskMemoryTest, FailureHookRefusesAllocationsWhileItSaysSo) {
  StandInSetTaskAllocFailureHook(RefuseLarge);
  EXPECT_EQ(CoTaskMemAlloc(200), nullptr);
  auto *block = static_cast<char *>(CoTaskMemAlloc(50));
  ASSERT_NE(block, nullptr);
  std::memset(block, 'x', 50);
  // A refused growth leaves the old block as it was.
  EXPECT_EQ(CoTaskMemRealloc(block, 200), nullptr);
  EXPECT_EQ(block[49], 'x');
  StandInSetTaskAllocFailureHook(nullptr);

  block = static_cast<char *>(CoTaskMemRealloc(block, 200));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[49], 'x');
  EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);  // frees it
}

TEST(TaskMemoryTest, ZeroBytesStillGiveABlock) {
  void *block = CoTaskMemAlloc(0);
  EXPECT_NE(block, nullptr);
  CoTaskMemFree(block);
  CoTaskMemFree(nullptr);
  CoFreeUnusedLibraries();
}

}  // namespace
