#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "regex_test_support.h"
#include "runtime/thread_data.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// (a+)+b over this runs for many seconds inside one pcre_exec call.
std::u16string LongBacktrackingSubject() {
  std::u16string subject;
  for (int i = 0; i < 1000; ++i) subject += std::u16string(18, u'a') + u"!";
  return subject;
}

struct WorkerTrace {
  std::u16string subject;
  std::atomic<bool> matching{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> ended{false};
  std::atomic<Clock::rep> endedAt{0};
};

void MarkEnded(void* argument) {
  auto* trace = static_cast<WorkerTrace*>(argument);
  trace->endedAt = Clock::now().time_since_epoch().count();
  trace->ended = true;
}

std::int64_t BacktrackingWorker(std::int64_t value) {
  auto* trace = reinterpret_cast<WorkerTrace*>(value);
  EnsureStringBuffer();
  OnThreadExit(MarkEnded, trace);  // runs once the thread has really gone
  if (RegexCreate(11, u"(a+)+b", 0) == 0) return 0;
  RegexExamine(11, trace->subject.c_str());
  trace->matching = true;
  RegexNextMatch(11);
  trace->returned = true;
  return 0;
}

void KillInsideOneMatchCall() {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer holds an asynchronous signal back until the thread next calls into the
  // C library, which a thread inside PCRE does not do: no interruption can be seen here.
  GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
  // A worker that outlives a failed test keeps its trace: it is let go of, never freed.
  auto owner = std::make_unique<WorkerTrace>();
  WorkerTrace& trace = *owner;
  trace.subject = LongBacktrackingSubject();
  std::int64_t id = ThreadCreate(BacktrackingWorker, reinterpret_cast<std::int64_t>(&trace));
  ASSERT_NE(id, 0);
  while (!trace.matching) std::this_thread::sleep_for(milliseconds(1));
  // Time for the worker to get well inside the call, which lasts for many seconds.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(trace.returned) << "the worker should still be matching";

  Clock::time_point killedAt = Clock::now();
  ThreadKill(id);
  while (!trace.ended && Clock::now() - killedAt < milliseconds(2000)) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  if (!trace.ended) static_cast<void>(owner.release());
  ASSERT_TRUE(trace.ended);
  // How fast it goes is abort_bench's to measure; recorded here for the record only.
  auto gone = Clock::time_point(Clock::duration(trace.endedAt.load())) - killedAt;
  auto goneMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(gone);
  testing::Test::RecordProperty("gone_microseconds", static_cast<int>(goneMicroseconds.count()));
  // The thread has gone (its exit clean-up ran), so nothing of it is matching any more.
  EXPECT_FALSE(trace.returned) << "the match call must be left, not finished";

  // The killed worker's object is the caller's to free now, with its scan state intact.
  EXPECT_EQ(RegexIsValid(11), 1);
  EXPECT_EQ(RegexRunsMachineCode(11), 1) << "the call left was one of the JIT's machine code";
  RegexFree(11);
  EXPECT_EQ(RegexIsValid(11), 0);
}

TEST(RegexInterrupt, KillEndsAWorkerInsideRegexNextMatch) { KillInsideOneMatchCall(); }

}  // namespace
