// Worker threads named by small sequential ids (from 1, never reused; 0 is never an id).
//
// ThreadKill is a cancellation as final as a forced termination: when it returns, the
// killed thread is outside every SharedChangeScope and will never enter one again, so it
// changes nothing shared any more; it ends at its next stop point (or at once when inside
// RunInterruptible), and its per-thread data is released as after a normal end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

using ThreadProcedure = std::int64_t (*)(std::int64_t value);

// Stack of every worker thread: only address space is reserved, and deep pattern matching
// needs far more than the usual default.
inline constexpr std::size_t WorkerStackSize = std::size_t{256} * 1024 * 1024;

// Start-up, on the UI thread before any worker exists.
void ThreadInit();

// Runs procedure(value) on a new thread; its id, or 0 when the thread could not be started
// (no id is used up then).
[[nodiscard]] std::int64_t ThreadCreate(ThreadProcedure procedure, std::int64_t value);

// ThreadCreate for a value that owns what it points to: the value always goes either to
// procedure, which takes it over, or to release, which runs when the thread was stopped
// before it got to run procedure or (before this returns 0) when no thread was started.
using ThreadValueRelease = void (*)(std::int64_t value);
[[nodiscard]] std::int64_t ThreadCreateOwning(ThreadProcedure procedure, std::int64_t value,
                                              ThreadValueRelease release);

// Runs (object->*Run)() on a new thread that holds a share of object until it ends (also
// when it is killed before it got going); the thread's id, or 0.
template <auto Run, typename T>
std::int64_t ThreadRunShared(const std::shared_ptr<T>& object) {
  using Share = std::shared_ptr<T>;
  std::unique_ptr<Share> share(new (std::nothrow) Share(object));
  if (!share) return 0;
  return ThreadCreateOwning(
      [](std::int64_t value) -> std::int64_t {
        const std::unique_ptr<Share> mine(reinterpret_cast<Share*>(value));
        ((**mine).*Run)();
        return 0;
      },
      reinterpret_cast<std::int64_t>(share.release()),
      [](std::int64_t value) {
        const std::unique_ptr<Share> mine(reinterpret_cast<Share*>(value));
      });
}

// ThreadCreate with a chosen stack size (WorkerStackSize for every real worker).
[[nodiscard]] std::int64_t ThreadCreateWithStack(ThreadProcedure procedure, std::int64_t value,
                                                 std::size_t stackSize);

// 1 if id is listed and its thread has not ended (clean-ups included), else 0.
int ThreadIsRunning(std::int64_t id);

// Forgets the record of id at once and stops its thread if still running (see above).
// Waits only until the thread is outside its shared changes, which never wait for another
// thread; never call it from inside a SharedChangeScope. An unknown id does nothing.
void ThreadKill(std::int64_t id);

// How many killed threads have not ended yet. A stopped thread ends at its next stop
// point, which is soon but not at once (a read of a hung file system may keep it for
// long); work that must not run beside a killed thread waits for this to reach 0.
std::int64_t ThreadsStillEnding();

// Shut-down: forgets every record without stopping the threads.
void ThreadEnd();
