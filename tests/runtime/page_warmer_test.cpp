#include "runtime/page_warmer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

std::size_t ResidentPages(void* start, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  if (::mincore(start, bytes, resident.data()) != 0) return 0;
  std::size_t count = 0;
  for (unsigned char flags : resident) count += flags & 1u;
  return count;
}

// A block that starts inside a page (as heap blocks do) is faulted in from its first whole
// page to its last, and what was written before stays.
TEST(PageWarmer, AWarmedBlockIsFaultedInAndKeepsWhatItHolds) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t bytes = std::size_t{8} << 20;
  void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* block = static_cast<char*>(mapped);
  std::memcpy(block + 100, "kept", 5);
  std::memcpy(block + bytes / 2, "also kept", 10);

  WarmPagesAhead(block + 100, bytes - 200);
  const std::size_t wholePages = bytes / page - 2;  // the first and last are shared
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ResidentPages(block + page, wholePages * page) < wholePages &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ResidentPages(block + page, wholePages * page), wholePages);
  EXPECT_STREQ(block + 100, "kept");
  EXPECT_STREQ(block + bytes / 2, "also kept");
  ::munmap(mapped, bytes);
}

// A mapping given back soon is unmapped by the warmer's thread, filled pages and all.
TEST(PageWarmer, AMappingGivenBackIsUnmappedOnTheWarmersThread) {
  const std::size_t bytes = std::size_t{32} << 20;
  const auto unmapped = [](void* start, std::size_t size) {
    unsigned char resident = 0;
    return ::mincore(start, 1, &resident) != 0 && errno == ENOMEM &&
           ::mincore(static_cast<char*>(start) + size - 1, 1, &resident) != 0;
  };
  void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  std::memset(mapped, 1, bytes);
  GiveBackMappingSoon(mapped, bytes);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!unmapped(mapped, bytes) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(unmapped(mapped, bytes));
  GiveBackMappingSoon(nullptr, bytes);  // nothing to give back
}

}  // namespace
