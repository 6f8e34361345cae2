// Runs the real evaluator over one file and one pattern: Enter in the pattern field, then
// the loop until the done event has been handled and the loop is idle again, as a user
// would; then, with "actions", what a user does with the result.
//
//   evaluator_bench FILE PATTERN [groups] [actions] [clipboard]
//
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM names another (xcb on a real X
// display: see run_evaluator_bench.sh). Prints which of PCRE's matchers the pattern's
// searches run (the JIT's machine code or the interpreter), the wall time from Enter until
// the loop is idle after the done event (and until the done event itself), the CPU time
// the UI thread and the whole process took meanwhile, the number of matches and tree rows,
// the peak resident memory and what the evaluation added to it, and the event loop's longest
// stall: a thread posts a timestamped event every 10 ms and the loop measures how late
// each one is handled. The actions each report their own longest stall: Ctrl+End, PgDn,
// Home, expanding and collapsing the current row, mouse wheel scrolling, Shift+Enter (copy
// all rows, with the time the loop was blocked), Enter over the finished result (which
// clears it) and Esc during that new evaluation (with the time until the worker had ended).
// With EVALUATOR_BENCH_NO_STATUS=1 the status line shows no progress while the scan runs.
// With "clipboard", the copy command's clipboard call puts a probe text on the clipboard
// before Enter and "clipboard_ready" is printed, so that another program can ask the window
// for the clipboard, for two seconds of the idle window and then, after
// "evaluation_starts", while the evaluation runs (see run_clipboard_bench.sh).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <stop_token>
#include <string>
#include <thread>

#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QString>
#include <QTreeView>
#include <QTreeWidget>
#include <QWheelEvent>
#include <QtGlobal>

#include "app/evaluator.h"
#include "proc_status.h"
#include "records/record_list.h"
#include "regex/regex.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PingEvent = 0x1FF00;
// The loop counts as idle once this many pings in a row were handled at most this late.
constexpr int IdlePings = 3;
constexpr std::int64_t IdleLatenessMicroseconds = 15'000;
// How long the loop runs on after an action, so that the work it set off shows.
constexpr auto ActionSettleTime = std::chrono::milliseconds(400);
// What the clipboard holds while another program asks for it during the evaluation.
constexpr const char16_t* ClipboardProbe = u"evaluator clipboard probe";

std::int64_t Microseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

double Milliseconds(std::int64_t microseconds) { return microseconds / 1000.0; }

double CpuSeconds(clockid_t clock) {
  timespec time{};
  clock_gettime(clock, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// The loop as the program runs it, with the pings taken out and measured.
class MeasuredLoop {
 public:
  MeasuredLoop()
      : pinger_([](std::stop_token stop) {
          while (!stop.stop_requested()) {
            PostEvent(PingEvent, 0, 0, 0, Microseconds(Clock::now()));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}

  // Handles one event; the code, or PingEvent for a ping.
  int Step() {
    const int code = UiWaitEvent();
    if (code == PingEvent) {
      lastLateness_ = Microseconds(Clock::now()) - UiEventData();
      longestStall_ = std::max(longestStall_, lastLateness_);
      return code;
    }
    evaluator::HandleEvent(code);
    return code;
  }

  // Runs until IdlePings pings in a row came in time; returns when the first of them came.
  Clock::time_point RunUntilIdle() {
    int inTime = 0;
    Clock::time_point idleSince = Clock::now();
    while (inTime < IdlePings) {
      if (Step() != PingEvent) continue;
      if (lastLateness_ > IdleLatenessMicroseconds) {
        inTime = 0;
      } else if (inTime++ == 0) {
        idleSince = Clock::now();
      }
    }
    return idleSince;
  }

  // Runs for at least duration, and on until the loop is idle.
  void RunFor(Clock::duration duration) {
    const Clock::time_point end = Clock::now() + duration;
    while (Clock::now() < end) Step();
    RunUntilIdle();
  }

  void ResetStall() { longestStall_ = 0; }
  std::int64_t LongestStall() const { return longestStall_; }

 private:
  std::jthread pinger_;
  std::int64_t lastLateness_ = 0;
  std::int64_t longestStall_ = 0;
};

struct Run {
  double seconds = 0;
  double doneSeconds = 0;  // from Enter until the done event (or the last message) came
  std::int64_t longestStallMicroseconds = 0;
};

void PressEnter() {
  UiSetFocus(evaluator::PatternField);
  QueueEvent(MenuEvent, evaluator::EnterCommand, evaluator::MainWindow, 0, 0, nullptr);
}

Run EvaluateOnce(MeasuredLoop& loop) {
  Run run;
  const Clock::time_point start = Clock::now();
  PressEnter();
  // A message ends the evaluation unless a done event follows it; the worker that posted
  // it may still be returning, so the end is when it has and nothing more is queued.
  bool messageSeen = false;
  for (;;) {
    const int code = loop.Step();
    if (code == evaluator::DoneEvent) break;
    messageSeen = messageSeen || code == evaluator::MessageEvent;
    if (messageSeen && !ThreadIsRunning(evaluator::State().workerThread) && HasQueuedEvent() == 0)
      break;
  }
  run.doneSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const Clock::time_point idle = loop.RunUntilIdle();
  run.seconds = std::chrono::duration<double>(idle - start).count();
  run.longestStallMicroseconds = loop.LongestStall();
  return run;
}

QTreeView* ResultsView() {
  for (QWidget* widget : QApplication::allWidgets()) {
    auto* view = qobject_cast<QTreeView*>(widget);
    if (view && !qobject_cast<QTreeWidget*>(widget)) return view;
  }
  return nullptr;
}

void PostKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, modifiers));
  QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, modifiers));
}

void PostWheel(QWidget* target, int notches) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QCoreApplication::postEvent(
      target, new QWheelEvent(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120 * notches),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false));
}

template <typename Action>
void MeasureAction(MeasuredLoop& loop, const char* name, Action action) {
  loop.RunUntilIdle();
  loop.ResetStall();
  action();
  loop.RunFor(ActionSettleTime);
  std::printf("stall_%s %.1f ms\n", name, Milliseconds(loop.LongestStall()));
}

void RunActions(MeasuredLoop& loop) {
  QTreeView* view = ResultsView();
  if (!view) {
    std::printf("no result view found\n");
    return;
  }
  MeasureAction(loop, "ctrl_end", [&] { PostKey(view, Qt::Key_End, Qt::ControlModifier); });
  MeasureAction(loop, "page_down", [&] { PostKey(view, Qt::Key_PageDown); });
  MeasureAction(loop, "home", [&] { PostKey(view, Qt::Key_Home); });
  MeasureAction(loop, "expand", [&] { PostKey(view, Qt::Key_Right); });
  MeasureAction(loop, "collapse", [&] { PostKey(view, Qt::Key_Left); });
  MeasureAction(loop, "wheel", [&] {
    for (int i = 0; i < 10; ++i) PostWheel(view->viewport(), 3);
  });
  // Shift+Enter blocks the loop for as long as the copy takes: its stall is that time.
  MeasureAction(loop, "copy_all", [] {
    QueueEvent(MenuEvent, evaluator::CopyAllCommand, evaluator::MainWindow, 0, 0, nullptr);
  });
  // EVALUATOR_BENCH_COPY=FILE keeps what was copied, to compare the rows of two builds.
  if (const QByteArray path = qgetenv("EVALUATOR_BENCH_COPY"); !path.isEmpty()) {
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::WriteOnly)) file.write(QApplication::clipboard()->text().toUtf8());
  }
  // Enter over the finished result clears it; Esc then ends the new evaluation a second
  // into its run.
  MeasureAction(loop, "enter_again", [&] { PressEnter(); });
  loop.RunFor(std::chrono::seconds(1));
  loop.ResetStall();
  {
    QueueEvent(MenuEvent, evaluator::AbortCommand, evaluator::MainWindow, 0, 0, nullptr);
    const Clock::time_point start = Clock::now();
    while (ThreadIsRunning(evaluator::State().workerThread)) loop.Step();
    std::printf("esc_ended_worker %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    loop.RunFor(ActionSettleTime);
    std::printf("stall_esc %.1f ms\n", Milliseconds(loop.LongestStall()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PATTERN [groups] [actions] [clipboard]\n", argv[0]);
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  }
  bool groups = false;
  bool actions = false;
  bool clipboard = false;
  for (int i = 3; i < argc; ++i) {
    groups = groups || std::string(argv[i]) == "groups";
    actions = actions || std::string(argv[i]) == "actions";
    clipboard = clipboard || std::string(argv[i]) == "clipboard";
  }
  evaluator::StartUp();
  // EVALUATOR_BENCH_NO_STATUS=1 leaves the status line still while the scan runs, to
  // measure what refreshing it costs.
  if (qgetenv("EVALUATOR_BENCH_NO_STATUS") == "1") evaluator::SetStatusRefresh(0);
  ModalSeam seam;  // a message would wait for a person: print it instead
  seam.messageBox = [](const MessageBoxRequest& request) {
    std::printf("message %s: %s\n", QString::fromStdU16String(request.title).toUtf8().constData(),
                QString::fromStdU16String(request.text).toUtf8().constData());
    return std::int64_t{1};
  };
  SetModalSeam(seam);
  const std::u16string reference =
      u"<file://" + QString::fromLocal8Bit(argv[1]).toStdU16String() + u">";
  UiSetText(evaluator::PatternField, QString::fromLocal8Bit(argv[2]).toStdU16String().c_str());
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetItemState(evaluator::OptionsList, 1, groups ? 2 : 0);
  UiSetItemState(evaluator::OptionsList, 2, 0);  // case-sensitive, as pcregrep
  // Focus, which Shift+Enter needs, goes only to an active window.
  if (QTreeView* view = ResultsView()) {
    view->window()->activateWindow();
    for (int i = 0; i < 100 && QApplication::activeWindow() != view->window(); ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
  }
  {
    const std::u16string pattern = QString::fromLocal8Bit(argv[2]).toStdU16String();
    const ObjectNumber probe = RegexCreate(AnyHandle, pattern.c_str(), 0);
    std::printf("matcher %s\n", RegexRunsMachineCode(probe) ? "jit" : "interpreter");
    RegexFree(probe);
  }
  // A user's window has been painted long before Enter: its first paint, and the backing
  // store it allocates, are not the evaluation's.
  MeasuredLoop loop;
  loop.RunFor(std::chrono::milliseconds(300));
  loop.ResetStall();
  const long baselineKiB = StatusKiB("VmRSS:");

  const double uiCpuAtStart = ThreadCpuSeconds();
  const double processCpuAtStart = ProcessCpuSeconds();
  if (clipboard) {
    // Owning the selection takes a round trip to the X server: the loop runs until then.
    UiSetClipboardText(ClipboardProbe);
    loop.RunFor(std::chrono::milliseconds(300));
    std::printf("clipboard_ready\n");
    std::fflush(stdout);
    // The same requests against the idle window first, for comparison.
    loop.RunFor(std::chrono::seconds(2));
    loop.ResetStall();
    std::printf("evaluation_starts\n");
    std::fflush(stdout);
  }
  const Run run = EvaluateOnce(loop);
  std::int64_t matches = 0;
  {
    std::lock_guard guard(evaluator::State().resultListLock);
    matches = ListCount(evaluator::State().resultList);
  }
  const long peakKiB = StatusKiB("VmHWM:");
  // Where the CPU time of the run went: the UI thread's share, and the process's in all.
  std::printf("ui_thread_cpu %.3f s\nprocess_cpu %.3f s\n", ThreadCpuSeconds() - uiCpuAtStart,
              ProcessCpuSeconds() - processCpuAtStart);
  std::printf(
      "wall %.3f s\ndone_event %.3f s\nmatches %lld\nrows %lld\npeak_rss %ld KiB\nadded_rss %ld "
      "KiB\n"
      "longest_stall %.1f ms\n",
      run.seconds, run.doneSeconds, static_cast<long long>(matches),
      static_cast<long long>(UiCountItems(evaluator::ResultsTree)), peakKiB, peakKiB - baselineKiB,
      Milliseconds(run.longestStallMicroseconds));
  std::fflush(stdout);
  // A request asked just before the report must still find the window answering.
  if (clipboard) loop.RunFor(std::chrono::seconds(2));
  if (actions) RunActions(loop);
  evaluator::ShutDown();
  return 0;
}
