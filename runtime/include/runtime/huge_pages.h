// The huge-page hint, for a block of many MiB about to be filled front to back: faulting in
// fresh memory page by page costs more than converting a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

// Asks for huge pages behind the allocation at block of bytes bytes (for a heap block its
// malloc_usable_size). Blocks under 4 MiB and a null block are left alone; only a hint, so
// nothing changes when it is not taken.
void AdviseHugePages(void* block, std::int64_t bytes);

// A block for data written front to back, on huge pages where the system gives them: a
// block of 2 MiB or more starts on a huge-page boundary and is rounded up to whole huge
// pages. Null when memory ran out; give it back with std::free.
void* AllocateLargeBlock(std::size_t bytes);
