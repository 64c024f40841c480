#include "platform/host/huge_pages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Pages of [start, start + bytes) the kernel holds in memory.
size_t ResidentPages(void *start, size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  if (mincore(start, bytes, resident.data()) != 0) return 0;
  size_t count = 0;
  for (unsigned char r : resident) count += r & 1;
  return count;
}

// Whether a mapping holding `at` is advised for 2 MB pages.
bool AdvisedHuge(const void *at) {
  std::ifstream maps("/proc/self/smaps");
  const auto address = reinterpret_cast<uintptr_t>(at);
  bool inside = false;
  for (std::string line; std::getline(maps, line);) {
    unsigned long low = 0, high = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &low, &high) == 2) {
      inside = address >= low && address < high;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.find(" hg") != std::string::npos;
    }
  }
  return false;
}

}  // namespace

TEST(PageWarmerTest, BacksTheRangeAheadAndKeepsWhatItHolds) {
  // Written while the warmer runs: backing the pages must not change them.
  constexpr size_t kBytes = (size_t{5} << 20) + 12345;
  auto *const block = static_cast<unsigned char *>(MapHugePageBlock(kBytes));
  ASSERT_NE(block, nullptr);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t whole = kBytes / page * page;
  // Nothing backed in the block's last 2 MB either: a piece partly backed
  // with small pages is one the kernel later rebuilds holding the memory map.
  ASSERT_EQ(0u, ResidentPages(block, size_t{6} << 20));
  // Advice on the block the library mapped, never on the shared heap.
  if (std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
    EXPECT_TRUE(AdvisedHuge(block));
  }
  const std::atomic<bool> enough{true};
  PopulatePages(block, kBytes, &enough);  // asked to end before it begins
  EXPECT_EQ(0u, ResidentPages(block, whole));
  {
    PageWarmer warmer;
    warmer.Start(block, kBytes);
    std::memset(block + 100, 0x5A, 1000);
    warmer.Wait();
    EXPECT_EQ(whole / page, ResidentPages(block, whole));
    warmer.Start(block, kBytes);  // again, on memory already backed
  }
  for (size_t i = 0; i < kBytes; i += 997) {
    ASSERT_EQ(i >= 100 && i < 1100 ? 0x5A : 0, block[i]) << i;
  }
  UnmapHugePageBlock(block, kBytes);
}
