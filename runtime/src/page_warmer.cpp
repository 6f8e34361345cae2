#include "runtime/page_warmer.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Smaller blocks fault in quickly enough where they are used.
constexpr std::size_t SmallestWarmedBlock = std::size_t{256} << 10;
constexpr std::size_t StepBytes = std::size_t{2} << 20;
constexpr std::size_t MostWaiting = 64;

std::uintptr_t PageBytes() {
  static const auto bytes = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return bytes;
}

struct Range {
  char* start;
  std::size_t bytes;
  bool giveBack;  // unmap it, rather than fault it in
};

struct Warmer {
  std::mutex lock;
  std::condition_variable requested;
  std::deque<Range> waiting;
  bool started = false;
  bool noThread = false;    // no thread could be had
  bool cannotWarm = false;  // the system lacks the advice
  // Give-backs waiting: a range being warmed is left as soon as one comes, as its area may
  // be the one going.
  std::atomic<int> givingBack{0};
};

// Never destroyed, as its thread never ends: a thread may still ask for warming while
// static objects are destroyed.
Warmer& TheWarmer() {
  alignas(Warmer) static std::byte storage[sizeof(Warmer)];
  static Warmer* const warmer = ::new (storage) Warmer();
  return *warmer;
}

// Faults in range in steps, until a give-back waits; false when the system can't do it at
// all.
bool FaultIn(Range range, const Warmer& warmer) {
  for (std::size_t done = 0; done < range.bytes; done += StepBytes) {
    if (warmer.givingBack.load(std::memory_order_relaxed) > 0) return true;
    const std::size_t step = std::min(StepBytes, range.bytes - done);
    if (::madvise(range.start + done, step, MADV_POPULATE_WRITE) == 0) continue;
    // A range given back meanwhile ends the request, an unknown advice the warming.
    return errno != EINVAL;
  }
  return true;
}

void WarmForever(Warmer& warmer) {
  // Named, so that tools and the benches can tell it from the threads that come and go.
  ::pthread_setname_np(::pthread_self(), "page warmer");
  for (;;) {
    std::unique_lock lock(warmer.lock);
    warmer.requested.wait(lock, [&] { return !warmer.waiting.empty(); });
    const Range range = warmer.waiting.front();
    warmer.waiting.pop_front();
    lock.unlock();
    if (range.giveBack) {
      ::munmap(range.start, range.bytes);
      warmer.givingBack.fetch_sub(1, std::memory_order_relaxed);
    } else if (!FaultIn(range, warmer)) {
      lock.lock();
      warmer.cannotWarm = true;
      std::erase_if(warmer.waiting, [](const Range& waiting) { return !waiting.giveBack; });
    }
  }
}

// The warmer's thread, started on first use; false when there is none. Under its lock.
bool HasThread(Warmer& warmer) {
  if (!warmer.started) {
    warmer.started = true;
    try {
      std::thread(WarmForever, std::ref(warmer)).detach();
    } catch (const std::system_error&) {
      warmer.noThread = true;
    }
  }
  return !warmer.noThread;
}

}  // namespace

void WarmPagesAhead(void* block, std::size_t bytes) {
  if (!block || bytes < SmallestWarmedBlock) return;
  // Only whole pages can be advised; a page shared with memory before or after the block
  // is left to whoever writes it first.
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t page = PageBytes();
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t end = (start + bytes) & ~(page - 1);
  if (end <= first) return;
  Warmer& warmer = TheWarmer();
  std::lock_guard guard(warmer.lock);
  if (warmer.cannotWarm || warmer.waiting.size() >= MostWaiting || !HasThread(warmer)) return;
  try {
    warmer.waiting.push_back({reinterpret_cast<char*>(first), end - first, false});
  } catch (const std::bad_alloc&) {
    return;
  }
  warmer.requested.notify_one();
}

void GiveBackMappingSoon(void* mapping, std::size_t bytes) {
  if (!mapping) return;
  auto* start = static_cast<char*>(mapping);
  Warmer& warmer = TheWarmer();
  {
    std::lock_guard guard(warmer.lock);
    // Warming what goes is wasted work: those requests go, and the give-back comes first.
    std::erase_if(warmer.waiting, [&](const Range& waiting) {
      return !waiting.giveBack && waiting.start < start + bytes &&
             start < waiting.start + waiting.bytes;
    });
    try {
      if (HasThread(warmer)) {
        warmer.waiting.push_front({start, bytes, true});
        warmer.givingBack.fetch_add(1, std::memory_order_relaxed);
        warmer.requested.notify_one();
        return;
      }
    } catch (const std::bad_alloc&) {
    }
  }
  ::munmap(mapping, bytes);
}
