#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "runtime/thread_stop.h"
#include "test_support.h"
#include "threads/threads.h"

namespace {

std::atomic<bool> failedStartRan{false};

std::int64_t MarkFailedStartRan(std::int64_t) {
  failedStartRan.store(true);
  return 0;
}

// Blocks until released, outside any shared change, as a worker waiting for the UI does.
struct Gate {
  std::atomic<bool> open{false};
  void Wait() {
    while (!open.load()) std::this_thread::sleep_for(1ms);
  }
};

// After a kill the thread ends (no killed thread is left ending), and a counter it drives
// stays put from then on.
void ExpectCounterStopsOnceGone(const std::atomic<std::int64_t>& counter) {
  ASSERT_TRUE(WaitUntil([] { return ThreadsStillEnding() == 0; }));
  const std::int64_t settled = counter.load();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(counter.load(), settled);
}

void ExpectReleasedOnce(std::int64_t tag) {
  EXPECT_TRUE(WaitUntil([tag] { return ExitCleanUpsOf(tag) >= 1 && SlotReleasesOf(tag) >= 1; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ExitCleanUpsOf(tag), 1);
  EXPECT_EQ(SlotReleasesOf(tag), 1);
}

void SpinForever(void* context) {
  auto* counter = static_cast<std::atomic<std::int64_t>*>(context);
  for (;;) counter->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

TEST(ThreadIds, StartAtOneGrowByOneAndAFailedStartUsesNone) {
  const bool firstInProcess = threadsStarted.load() == 0;
  static ThreadBody quick = [] {};
  const std::int64_t first = StartBody(quick);
  if (firstInProcess) {
    EXPECT_EQ(first, 1);
  }
  const std::int64_t failed = ThreadCreateWithStack(MarkFailedStartRan, 0, std::size_t{1} << 62);
  EXPECT_EQ(failed, 0);
  const std::int64_t next = StartBody(quick);
  EXPECT_EQ(next, first + 1);
  EXPECT_EQ(ThreadCreate(nullptr, 0), 0);
  EXPECT_EQ(StartBody(quick), next + 1);
  EXPECT_TRUE(WaitUntil([&] { return !ThreadIsRunning(first) && !ThreadIsRunning(next + 1); }));
  EXPECT_FALSE(failedStartRan.load());
}

TEST(ThreadRunning, OnlyAListedThreadThatHasNotEndedRuns) {
  Gate gate;
  ThreadBody blocked = [&] { gate.Wait(); };
  const std::int64_t id = StartBody(blocked);
  ASSERT_NE(id, 0);
  EXPECT_EQ(ThreadIsRunning(id), 1);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ThreadIsRunning(id), 1);
  gate.open.store(true);
  EXPECT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
  EXPECT_EQ(ThreadIsRunning(id), 0);  // stays ended once seen ended
  EXPECT_EQ(ThreadIsRunning(0), 0);
  EXPECT_EQ(ThreadIsRunning(-1), 0);
  EXPECT_EQ(ThreadIsRunning(id + 1000), 0);
}

TEST(ThreadData, ReleasedOnceByTheTimeAReturnedThreadCountsAsEnded) {
  constexpr std::int64_t tag = 301;
  static ThreadBody body = [] {
    TagCallingThread(tag);
    CountExitOf(tag);
  };
  const std::int64_t id = StartBody(body);
  ASSERT_NE(id, 0);
  ASSERT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
  // Ended means the clean-ups are done, not merely that the procedure returned.
  EXPECT_EQ(ExitCleanUpsOf(tag), 1);
  EXPECT_EQ(SlotReleasesOf(tag), 1);
}

TEST(ThreadKill, ThreadInALoopOfStopPointsStopsAndIsReleased) {
  constexpr std::int64_t tag = 302;
  static std::atomic<std::int64_t> loops{0};
  static ThreadBody body = [] {
    TagCallingThread(tag);
    CountExitOf(tag);
    for (;;) {
      loops.fetch_add(1);
      StopPoint();
    }
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([] { return loops.load() > 1000; }));
  ThreadKill(id);
  EXPECT_EQ(ThreadIsRunning(id), 0);
  ExpectCounterStopsOnceGone(loops);
  ExpectReleasedOnce(tag);
}

TEST(ThreadKill, ThreadSpinningInsideAnInterruptibleCallStops) {
  constexpr std::int64_t tag = 303;
  static std::atomic<std::int64_t> spins{0};
  static std::atomic<bool> returned{false};
  static ThreadBody body = [] {
    TagCallingThread(tag);
    CountExitOf(tag);
    RunInterruptible(SpinForever, &spins);
    returned.store(true);
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([] { return spins.load() > 1000; }));
  ASSERT_TRUE(KillReturnsWithin(id));
  EXPECT_EQ(ThreadIsRunning(id), 0);
  ExpectCounterStopsOnceGone(spins);
  ExpectReleasedOnce(tag);
  EXPECT_FALSE(returned.load());
}

TEST(ThreadKill, FinishedThreadOnlyLosesItsRecord) {
  constexpr std::int64_t tag = 305;
  static ThreadBody body = [] {
    TagCallingThread(tag);
    CountExitOf(tag);
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
  ThreadKill(id);
  ThreadKill(id);
  EXPECT_EQ(ThreadIsRunning(id), 0);
  EXPECT_EQ(ExitCleanUpsOf(tag), 1);
  EXPECT_EQ(SlotReleasesOf(tag), 1);
  static ThreadBody quick = [] {};
  EXPECT_GT(StartBody(quick), id);  // ids are not reused
}

TEST(ThreadKill, UnknownIdsLeaveRunningThreadsAlone) {
  Gate gate;
  ThreadBody blocked = [&] { gate.Wait(); };
  const std::int64_t id = StartBody(blocked);
  ThreadKill(0);
  ThreadKill(-1);
  ThreadKill(id + 1000);
  EXPECT_EQ(ThreadIsRunning(id), 1);
  gate.open.store(true);
  EXPECT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
}

TEST(ThreadKill, RightAfterCreateTheProcedureDoesNotKeepRunning) {
  static std::atomic<std::int64_t> loops{0};
  static ThreadBody body = [] {
    for (;;) {
      loops.fetch_add(1);
      StopPoint();
    }
  };
  const std::int64_t id = StartBody(body);
  ThreadKill(id);
  EXPECT_EQ(ThreadIsRunning(id), 0);
  ExpectCounterStopsOnceGone(loops);
}

// An owned value reaches the procedure or its release, exactly once, however early the
// kill comes (under AddressSanitizer a value reaching neither shows as a leak).
TEST(ThreadKill, AnOwnedValueGoesToTheProcedureOrToItsReleaseOnce) {
  static std::atomic<int> taken{0};
  static std::atomic<int> released{0};
  constexpr int Threads = 40;
  for (int i = 0; i < Threads; ++i) {
    const auto value = reinterpret_cast<std::int64_t>(new int(i));
    const std::int64_t id = ThreadCreateOwning(
        [](std::int64_t owned) -> std::int64_t {
          std::unique_ptr<int> mine(reinterpret_cast<int*>(owned));
          taken.fetch_add(1);
          return 0;
        },
        value,
        [](std::int64_t owned) {
          std::unique_ptr<int> mine(reinterpret_cast<int*>(owned));
          released.fetch_add(1);
        });
    ASSERT_NE(id, 0);
    if (i % 2 == 0) ThreadKill(id);
  }
  ASSERT_TRUE(WaitUntil([] { return ThreadsStillEnding() == 0 && taken + released == Threads; }));
  EXPECT_EQ(taken + released, Threads);
}

TEST(ThreadKill, ThreadWaitingForTheUiThreadDoesNotHoldUpTheKill) {
  constexpr std::int64_t tag = 306;
  static Gate ui;
  static std::atomic<bool> waiting{false};
  static std::atomic<int> changesAfterWait{0};
  static ThreadBody body = [] {
    CountExitOf(tag);
    waiting.store(true);
    ui.Wait();
    SharedChangeScope scope;
    changesAfterWait.fetch_add(1);
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([] { return waiting.load(); }));
  ASSERT_TRUE(KillReturnsWithin(id));  // although the thread cannot move yet
  EXPECT_EQ(ThreadIsRunning(id), 0);
  ui.open.store(true);
  EXPECT_TRUE(WaitUntil([] { return ExitCleanUpsOf(tag) == 1; }));
  EXPECT_EQ(changesAfterWait.load(), 0);
}

TEST(ThreadStack, WorkersGetTheLargeStack) {
  static std::atomic<std::size_t> stackSize{0};
  static ThreadBody body = [] {
    pthread_attr_t attributes;
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstack(&attributes, &base, &size);
      pthread_attr_destroy(&attributes);
    }
    stackSize.store(size);
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
  EXPECT_GE(stackSize.load(), WorkerStackSize);
}

TEST(ThreadProcedure, AnEscapingExceptionEndsOnlyThatThread) {
  constexpr std::int64_t tag = 307;
  static ThreadBody body = [] {
    CountExitOf(tag);
    throw std::runtime_error("worker failed");
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([id] { return ThreadIsRunning(id) == 0; }));
  EXPECT_EQ(ExitCleanUpsOf(tag), 1);
}

TEST(ThreadEnd, ForgetsRecordsWithoutStoppingThreads) {
  constexpr std::int64_t tag = 308;
  static Gate gate;
  static std::atomic<bool> finished{false};
  static ThreadBody body = [] {
    CountExitOf(tag);
    gate.Wait();
    StopPoint();
    finished.store(true);
  };
  const std::int64_t id = StartBody(body);
  ThreadEnd();
  EXPECT_EQ(ThreadIsRunning(id), 0);
  gate.open.store(true);
  EXPECT_TRUE(WaitUntil([] { return ExitCleanUpsOf(tag) == 1; }));
  EXPECT_TRUE(finished.load());
  static ThreadBody quick = [] {};
  EXPECT_GT(StartBody(quick), id);
}
