// The huge-page hint, for a block of many MiB about to be filled front to back: faulting in
// fresh memory page by page costs more than converting a whole file.
#pragma once

#include <cstdint>

// Asks for huge pages behind the allocation at block of bytes bytes (for a heap block its
// malloc_usable_size). Blocks under 4 MiB and a null block are left alone; only a hint, so
// nothing changes when it is not taken.
void AdviseHugePages(void* block, std::int64_t bytes);
