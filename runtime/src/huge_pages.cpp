#include "runtime/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

// A block this large is a mapping of its own, which the heap grows in place by remapping
// it. Advising only the whole pages inside the block would split the mapping in three, and
// a split mapping can't be remapped: every later growth would copy the whole block (a
// string area grown step by step to many MiB would take quadratic time). So the advice
// covers every page from the one holding the block's start to the end of its allocation;
// bytes is the whole allocation (for a heap block, its malloc_usable_size).
void AdviseHugePages(void* block, std::int64_t bytes) {
  constexpr std::int64_t LargeBlock = std::int64_t{4} << 20;
  constexpr std::uintptr_t PageMask = 4095;
  if (!block || bytes < LargeBlock) return;
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const auto start = address & ~PageMask;
  const auto end = (address + static_cast<std::uintptr_t>(bytes) + PageMask) & ~PageMask;
  // Only a hint: without it the block works the same, just more slowly.
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void* AllocateLargeBlock(std::size_t bytes) {
  constexpr std::size_t HugePageBytes = std::size_t{2} << 20;
  if (bytes < HugePageBytes) return std::malloc(bytes);
  const std::size_t rounded = (bytes + HugePageBytes - 1) / HugePageBytes * HugePageBytes;
  void* block = std::aligned_alloc(HugePageBytes, rounded);
  // The whole block is advised, so the mapping behind it is not split (see above); it is
  // never grown in place, being aligned.
  if (block) ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}
