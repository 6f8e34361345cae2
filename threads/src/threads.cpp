#include "threads/threads.h"

#include <cxxabi.h>
#include <pthread.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "runtime/thread_stop.h"

namespace {

// What the new thread needs; made before the start so that a kill right after
// ThreadCreate finds the stop state already there.
struct ThreadStart {
  ThreadProcedure procedure;
  std::int64_t value;
  std::shared_ptr<StopState> stop;
  ThreadValueRelease release;  // null: the value owns nothing
};

// Gives value back unless the procedure was started and took it over.
struct UnrunValue {
  UnrunValue(ThreadValueRelease release, std::int64_t value) : release(release), value(value) {}
  UnrunValue(const UnrunValue&) = delete;
  UnrunValue& operator=(const UnrunValue&) = delete;
  ~UnrunValue() {
    if (release) release(value);
  }
  ThreadValueRelease release;
  std::int64_t value;
};

// The handle stays joinable while listed: a joined handle is the proof that the thread
// has ended, and is never used again.
struct ThreadRecord {
  pthread_t handle;
  std::int64_t id;
  std::shared_ptr<StopState> stop;
  bool joined = false;
};

std::mutex threadListLock;
std::vector<ThreadRecord> threadList;
// Threads killed but not ended yet (a stop takes effect at the thread's next stop point);
// guarded by threadListLock like the list.
std::vector<pthread_t> endingThreads;
std::int64_t nextThreadId = 1;

// Marks the end of the thread's own code, on return and on unwinding alike.
struct ThreadExitMark {
  ThreadExitMark() = default;
  ThreadExitMark(const ThreadExitMark&) = delete;
  ThreadExitMark& operator=(const ThreadExitMark&) = delete;
  ~ThreadExitMark() { BeginThreadExit(); }
};

// The unwinding that ends a thread is no C++ exception: its handler binds a reference to
// no object, which the undefined-behaviour checks flag although nothing reads through it.
__attribute__((no_sanitize_undefined)) void RunProcedure(ThreadProcedure procedure,
                                                         std::int64_t value) {
  try {
    procedure(value);
  } catch (abi::__forced_unwind&) {
    throw;  // the thread is being ended: let the unwinding go on
  } catch (...) {
    // An exception escaping a worker ends that worker, not the whole program.
  }
}

void* RunThread(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  // Without memory for its release the thread still runs; it only keeps its state to the end.
  static_cast<void>(AdoptStopState(start->stop));
  const ThreadProcedure procedure = start->procedure;
  const std::int64_t value = start->value;
  UnrunValue unrun{start->release, value};
  start.reset();
  ThreadExitMark exitMark;
  StopPoint();  // killed before it got going
  unrun.release = nullptr;
  RunProcedure(procedure, value);
  return nullptr;
}

bool HasEnded(ThreadRecord& record) {
  if (!record.joined && pthread_tryjoin_np(record.handle, nullptr) == 0) record.joined = true;
  return record.joined;
}

void PurgeEndedKilledThreads() {
  std::erase_if(endingThreads,
                [](pthread_t handle) { return pthread_tryjoin_np(handle, nullptr) == 0; });
}

void PurgeEndedThreads() {
  std::erase_if(threadList, HasEnded);
  PurgeEndedKilledThreads();
}

// A killed thread is joined once it has ended; if even that small record can't be kept,
// it is left to end on its own.
void KeepUntilEnded(pthread_t handle) {
  std::lock_guard lock(threadListLock);
  try {
    endingThreads.push_back(handle);
  } catch (const std::bad_alloc&) {
    pthread_detach(handle);
  }
}

std::optional<ThreadRecord> TakeRecord(std::int64_t id) {
  std::lock_guard lock(threadListLock);
  auto found = std::find_if(threadList.begin(), threadList.end(),
                            [id](const ThreadRecord& record) { return record.id == id; });
  if (found == threadList.end()) return std::nullopt;
  ThreadRecord record = std::move(*found);
  threadList.erase(found);
  return record;
}

bool StartThread(pthread_t& handle, std::unique_ptr<ThreadStart>& start, std::size_t stackSize) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  bool started = pthread_attr_setstacksize(&attributes, stackSize) == 0 &&
                 pthread_create(&handle, &attributes, RunThread, start.get()) == 0;
  pthread_attr_destroy(&attributes);
  if (started) static_cast<void>(start.release());  // the new thread owns it now
  return started;
}

std::int64_t ListThread(pthread_t handle, const std::shared_ptr<StopState>& stop) {
  std::lock_guard lock(threadListLock);
  PurgeEndedThreads();
  threadList.push_back({handle, nextThreadId, stop});
  return nextThreadId++;
}

// A started thread that cannot be listed gets no id: it is stopped as by a kill.
std::int64_t ListOrStop(pthread_t handle, const std::shared_ptr<StopState>& stop) {
  try {
    return ListThread(handle, stop);
  } catch (const std::bad_alloc&) {
    RequestThreadStop(*stop);
    pthread_detach(handle);
    return 0;
  }
}

// With a release, the value goes to the thread or back to release, here when no thread
// could be started.
std::int64_t StartOwning(ThreadProcedure procedure, std::int64_t value, ThreadValueRelease release,
                         std::size_t stackSize) {
  UnrunValue unstarted{release, value};
  if (!procedure) return 0;
  auto stop = NewStopState();
  if (!stop) return 0;
  std::unique_ptr<ThreadStart> start;
  try {
    start = std::make_unique<ThreadStart>(ThreadStart{procedure, value, stop, release});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  pthread_t handle;
  if (!StartThread(handle, start, stackSize)) return 0;
  unstarted.release = nullptr;  // the thread's now, even if it is stopped at once
  return ListOrStop(handle, stop);
}

}  // namespace

void ThreadInit() {
  // Gives the calling thread its stop state now, which also installs the stop signal's
  // handler before any worker exists.
  CurrentStopState();
}

std::int64_t ThreadCreate(ThreadProcedure procedure, std::int64_t value) {
  return ThreadCreateWithStack(procedure, value, WorkerStackSize);
}

std::int64_t ThreadCreateWithStack(ThreadProcedure procedure, std::int64_t value,
                                   std::size_t stackSize) {
  return StartOwning(procedure, value, nullptr, stackSize);
}

std::int64_t ThreadCreateOwning(ThreadProcedure procedure, std::int64_t value,
                                ThreadValueRelease release) {
  return StartOwning(procedure, value, release, WorkerStackSize);
}

int ThreadIsRunning(std::int64_t id) {
  std::lock_guard lock(threadListLock);
  for (ThreadRecord& record : threadList) {
    if (record.id == id) return HasEnded(record) ? 0 : 1;
  }
  return 0;
}

void ThreadKill(std::int64_t id) {
  std::optional<ThreadRecord> record = TakeRecord(id);
  if (!record || HasEnded(*record)) return;
  RequestThreadStop(*record->stop);
  KeepUntilEnded(record->handle);
}

std::int64_t ThreadsStillEnding() {
  std::lock_guard lock(threadListLock);
  PurgeEndedKilledThreads();
  return static_cast<std::int64_t>(endingThreads.size());
}

void ThreadEnd() {
  std::lock_guard lock(threadListLock);
  for (ThreadRecord& record : threadList) {
    if (!record.joined) pthread_detach(record.handle);
  }
  threadList.clear();
  for (pthread_t handle : endingThreads) pthread_detach(handle);
  endingThreads.clear();
}
