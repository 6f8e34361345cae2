#include "runtime/page_warmer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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
};

struct Warmer {
  std::mutex lock;
  std::condition_variable requested;
  std::deque<Range> waiting;
  bool started = false;
  bool unavailable = false;  // no thread could be had, or the system lacks the advice
};

// Never destroyed, as its thread never ends: a thread may still ask for warming while
// static objects are destroyed.
Warmer& TheWarmer() {
  alignas(Warmer) static std::byte storage[sizeof(Warmer)];
  static Warmer* const warmer = ::new (storage) Warmer();
  return *warmer;
}

// Faults in range in steps; false when the system can't do it at all.
bool FaultIn(Range range) {
  for (std::size_t done = 0; done < range.bytes; done += StepBytes) {
    const std::size_t step = std::min(StepBytes, range.bytes - done);
    if (::madvise(range.start + done, step, MADV_POPULATE_WRITE) == 0) continue;
    // A range given back meanwhile ends the request, an unknown advice the warming.
    return errno != EINVAL;
  }
  return true;
}

void WarmForever(Warmer& warmer) {
  for (;;) {
    std::unique_lock lock(warmer.lock);
    warmer.requested.wait(lock, [&] { return !warmer.waiting.empty(); });
    const Range range = warmer.waiting.front();
    warmer.waiting.pop_front();
    lock.unlock();
    if (!FaultIn(range)) {
      lock.lock();
      warmer.unavailable = true;
      warmer.waiting.clear();
      return;
    }
  }
}

bool StartWarmer(Warmer& warmer) {
  try {
    std::thread(WarmForever, std::ref(warmer)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
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
  if (warmer.unavailable || warmer.waiting.size() >= MostWaiting) return;
  if (!warmer.started) {
    warmer.started = true;
    if (!StartWarmer(warmer)) {
      warmer.unavailable = true;
      return;
    }
  }
  try {
    warmer.waiting.push_back({reinterpret_cast<char*>(first), end - first});
  } catch (const std::bad_alloc&) {
    return;
  }
  warmer.requested.notify_one();
}
