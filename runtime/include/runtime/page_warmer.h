// Fresh memory faulted in ahead of its use, on a thread of its own. Where the system is slow
// to hand out fresh pages, a thread filling large new blocks spends much of its time in page
// faults; the warmer takes those faults on another core while that thread works on.
//
// Only a hint: faulting a page in never changes what it holds, so a range freed or moved
// meanwhile is harmless, and a request the warmer has no room or no thread for is dropped.
#pragma once

#include <cstddef>

void WarmPagesAhead(void* block, std::size_t bytes);

// Unmaps the mapping of bytes at mapping on the same thread, soon, rather than on the
// caller's: unmapping a large mapping of small pages takes its time (100 ms for 1 GB), which
// a thread that is being stopped must not spend. Done at once where there is no thread.
void GiveBackMappingSoon(void* mapping, std::size_t bytes);
