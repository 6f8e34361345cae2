// Fresh memory faulted in ahead of its use, on a thread of its own. Where the system is slow
// to hand out fresh pages, a thread filling large new blocks spends much of its time in page
// faults; the warmer takes those faults on another core while that thread works on.
//
// Only a hint: faulting a page in never changes what it holds, so a range freed or moved
// meanwhile is harmless, and a request the warmer has no room or no thread for is dropped.
#pragma once

#include <cstddef>

void WarmPagesAhead(void* block, std::size_t bytes);
