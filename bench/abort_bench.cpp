// Runs the real evaluator on Qt's offscreen platform over one file reference and ends the
// evaluation from outside after a delay, as a user would with Esc or by closing the window.
//
//   abort_bench esc FILE PATTERN DELAY_MS
//   abort_bench close FILE PATTERN DELAY_MS
//
// Prints how long the loop took to handle Esc (kill and box) or the shut-down after a close,
// how long the worker thread lived on after that, the CPU the process used in the second
// after, the event loop's longest stall over the whole run and the peak resident memory.
// A FIFO that nobody writes keeps an unstoppable read waiting for ever: after 20 s a
// watchdog opens it for writing and closes it again, so that the run ends, and says so.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <stop_token>
#include <string>
#include <thread>

#include "app/evaluator.h"
#include "proc_status.h"
#include "threads/posted_events.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PingEvent = 0x1FF00;
constexpr auto WatchdogDelay = std::chrono::seconds(20);

std::int64_t Microseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The process's threads, but for the page warmer, which stays once a large evaluation has
// started it and so says nothing about whether the worker is gone.
std::set<long> ThreadIds() {
  std::set<long> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(entry.path() / "comm"), name);
    if (name != "page warmer") ids.insert(std::stol(entry.path().filename().string()));
  }
  return ids;
}

// Whether a thread not in before (the worker) is still there.
bool NewThreadsLeft(const std::set<long>& before) {
  for (long id : ThreadIds()) {
    if (!before.contains(id)) return true;
  }
  return false;
}

double CpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Pings measure how late the loop answers; every other event goes to the evaluator.
void HandleOne(int code, std::int64_t& longestStall) {
  if (code == PingEvent) {
    longestStall = std::max(longestStall, Microseconds(Clock::now()) - UiEventData());
    return;
  }
  evaluator::HandleEvent(code);
}

void RunLoopFor(std::chrono::milliseconds span, std::int64_t& longestStall) {
  const Clock::time_point deadline = Clock::now() + span;
  while (Clock::now() < deadline) HandleOne(UiWaitEvent(), longestStall);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s esc|close FILE PATTERN DELAY_MS\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string file = argv[2];
  const auto delay = std::chrono::milliseconds(std::stol(argv[4]));
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  evaluator::StartUp();
  ModalSeam seam;
  seam.messageBox = [](const MessageBoxRequest& request) {
    std::printf("message %s: %s\n", QString::fromStdU16String(request.title).toUtf8().constData(),
                QString::fromStdU16String(request.text).toUtf8().constData());
    return std::int64_t{1};
  };
  SetModalSeam(seam);
  const std::u16string reference =
      u"<file://" + QString::fromLocal8Bit(file.c_str()).toStdU16String() + u">";
  UiSetText(evaluator::PatternField, QString::fromLocal8Bit(argv[3]).toStdU16String().c_str());
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetItemState(evaluator::OptionsList, 1, 0);

  std::atomic<bool> released{false};
  std::jthread watchdog([&](std::stop_token stop) {
    const Clock::time_point start = Clock::now();
    while (!stop.stop_requested() && Clock::now() - start < WatchdogDelay) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (stop.stop_requested()) return;
    const int writer = ::open(file.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    released.store(true);
  });
  std::jthread pinger([](std::stop_token stop) {
    while (!stop.stop_requested()) {
      PostEvent(PingEvent, 0, 0, 0, Microseconds(Clock::now()));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  std::int64_t longestStall = 0;
  RunLoopFor(std::chrono::milliseconds(300), longestStall);  // the toolkit's own threads start
  const std::set<long> threadsBefore = ThreadIds();

  UiSetFocus(evaluator::PatternField);
  QueueEvent(MenuEvent, evaluator::EnterCommand, evaluator::MainWindow, 0, 0, nullptr);
  RunLoopFor(delay, longestStall);
  const bool workerStarted = NewThreadsLeft(threadsBefore);

  const Clock::time_point ended = Clock::now();
  if (mode == "close") {
    evaluator::ShutDown();
  } else {
    QueueEvent(MenuEvent, evaluator::AbortCommand, evaluator::MainWindow, 0, 0, nullptr);
    while (HasQueuedEvent() != 0) HandleOne(UiWaitEvent(), longestStall);
  }
  const double handledMs = MillisecondsSince(ended);
  while (NewThreadsLeft(threadsBefore) && MillisecondsSince(ended) < 60000) {
    if (mode == "close") {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    } else {
      HandleOne(UiWaitEvent(), longestStall);  // the pings keep this from blocking
    }
  }
  const double workerGoneMs = MillisecondsSince(ended);
  const double cpuBefore = CpuMilliseconds();
  if (mode == "close") {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  } else {
    RunLoopFor(std::chrono::seconds(1), longestStall);
  }
  const double cpuAfter = CpuMilliseconds() - cpuBefore;

  std::printf(
      "%s_handled %.1f ms\nworker_gone_after %.1f ms%s\ncpu_in_next_second %.0f ms\n"
      "longest_stall %.1f ms\npeak_rss %ld KiB\nwatchdog_released_fifo %s\n",
      mode.c_str(), handledMs, workerGoneMs, workerStarted ? "" : " (no worker was running)",
      cpuAfter, longestStall / 1000.0, StatusKiB("VmHWM:"), released.load() ? "yes" : "no");
  watchdog.request_stop();
  pinger.request_stop();
  std::fflush(stdout);
  if (mode != "close") evaluator::ShutDown();
  return 0;
}
