// Runs the real evaluator on Qt's offscreen platform over one file and one pattern: Enter in
// the pattern field, then the loop until the done event has been handled, as a user would.
//
//   evaluator_bench FILE PATTERN [groups]
//
// Prints the wall time from Enter to the handled done event, the number of matches and
// tree rows, the peak resident memory and what the evaluation added to it, and the event
// loop's longest stall: a thread posts a timestamped event every 10 ms and the loop
// measures how late each one is handled.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stop_token>
#include <string>
#include <thread>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "app/evaluator.h"
#include "proc_status.h"
#include "records/record_list.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PingEvent = 0x1FF00;

std::int64_t Microseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

struct Run {
  double seconds = 0;
  std::int64_t longestStallMicroseconds = 0;
};

Run EvaluateOnce() {
  std::atomic<bool> done{false};
  std::jthread pinger([](std::stop_token stop) {
    while (!stop.stop_requested()) {
      PostEvent(PingEvent, 0, 0, 0, Microseconds(Clock::now()));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  Run run;
  UiSetFocus(evaluator::PatternField);
  const Clock::time_point start = Clock::now();
  QueueEvent(MenuEvent, evaluator::EnterCommand, evaluator::MainWindow, 0, 0, nullptr, 0);
  for (;;) {
    const int code = UiWaitEvent();
    if (code == PingEvent) {
      const std::int64_t late = Microseconds(Clock::now()) - UiEventData();
      run.longestStallMicroseconds = std::max(run.longestStallMicroseconds, late);
      continue;
    }
    evaluator::HandleEvent(code);
    if (code == evaluator::DoneEvent) break;
    if (code == evaluator::MessageEvent && !ThreadIsRunning(evaluator::State().workerThread)) break;
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PATTERN [groups]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  const bool groups = argc > 3 && std::string(argv[3]) == "groups";
  evaluator::StartUp();
  ModalSeam seam;  // a message would wait for a person: print it instead
  seam.messageBox = [](const MessageBoxRequest& request) {
    std::printf("message %s: %s\n", QString::fromStdU16String(request.title).toUtf8().constData(),
                QString::fromStdU16String(request.text).toUtf8().constData());
    return std::int64_t{1};
  };
  SetModalSeam(seam);
  const std::u16string reference = u"<file://" + QString::fromLocal8Bit(argv[1]).toStdU16String() + u">";
  UiSetText(evaluator::PatternField, QString::fromLocal8Bit(argv[2]).toStdU16String().c_str());
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetItemState(evaluator::OptionsList, 1, groups ? 2 : 0);
  UiSetItemState(evaluator::OptionsList, 2, 0);  // case-sensitive, as pcregrep
  const long baselineKiB = StatusKiB("VmRSS:");

  const Run run = EvaluateOnce();
  std::int64_t matches = 0;
  {
    std::lock_guard guard(evaluator::State().resultListLock);
    matches = ListCount(evaluator::State().resultList);
  }
  const long peakKiB = StatusKiB("VmHWM:");
  std::printf("wall %.3f s\nmatches %lld\nrows %lld\npeak_rss %ld KiB\nadded_rss %ld KiB\n"
              "longest_stall %.1f ms\n",
              run.seconds, static_cast<long long>(matches),
              static_cast<long long>(UiCountItems(evaluator::ResultsTree)), peakKiB,
              peakKiB - baselineKiB, run.longestStallMicroseconds / 1000.0);
  evaluator::ShutDown();
  return 0;
}
