// Runs the real evaluator on Qt's offscreen platform over one file and one pattern (matches
// only), then measures the input view beside the result tree as a user meets it:
//
//   input_view_bench FILE PATTERN
//
// - first paint: from the selection of the first row (what the done event does) until the
//   view has painted that match, the input taken and its line index built included;
// - scrolls: the view moved to 200 places spread over the input and painted at each,
//   and paged down 200 times: median and slowest, against a frame of 16.7 ms;
// - memory: what the view added to the resident size (its line index and what painting
//   takes), and what the match places take per match, which the view itself never adds to;
// - a far row: the last match's row selected; the tree's part and the view's part.
#include <QAbstractScrollArea>
#include <QByteArray>
#include <QScrollBar>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/evaluator.h"
#include "evaluate_by_enter.h"
#include "proc_status.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "ui/widget_seam.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void HandleQueued() {
  while (HasQueuedEvent() != 0) evaluator::HandleEvent(UiWaitEvent());
}

struct Spread {
  double median;
  double slowest;
};

Spread SpreadOf(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char** argv) {
  if (!StartOffscreenWithFileAndPattern(argc, argv)) return 2;
  const std::u16string reference =
      u"<file://" + QString::fromLocal8Bit(argv[1]).toStdU16String() + u">";
  UiSetText(evaluator::PatternField, QString::fromLocal8Bit(argv[2]).toStdU16String().c_str());
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetItemState(evaluator::OptionsList, 1, 0);  // matches only
  UiSetItemState(evaluator::OptionsList, 2, 0);  // case-sensitive

  const long residentAtStart = StatusKiB("VmRSS:");
  const double evaluation = EvaluateByEnter(true);  // the first row's selection stays queued
  const evaluator::MatchPlaces& places = evaluator::State().matchPlaces;
  const std::int64_t matches = places.Count();
  const long residentBeforeView = StatusKiB("VmRSS:");
  std::printf("evaluation %.3f s  matches %lld  rss added by the evaluation %ld KiB\n", evaluation,
              static_cast<long long>(matches), residentBeforeView - residentAtStart);
  if (matches == 0) return 1;

  auto* view = UiGadgetWidget(evaluator::InputView)->findChild<QAbstractScrollArea*>();
  QWidget* viewport = view->viewport();
  std::printf("view %dx%d px, %d lines shown\n", viewport->width(), viewport->height(),
              view->verticalScrollBar()->pageStep());

  Clock::time_point start = Clock::now();
  HandleQueued();  // the first row's selection: the view takes the input and shows the match
  viewport->repaint();
  const double firstPaint = MillisecondsSince(start);
  std::printf("first paint %.1f ms (goal 300 ms)  position \"%s\"\n", firstPaint,
              QString::fromStdU16String(UiGetText(evaluator::InputView)).toUtf8().constData());

  QScrollBar* bar = view->verticalScrollBar();
  std::vector<double> jumps;
  for (int place = 0; place < 200; ++place) {
    start = Clock::now();
    bar->setValue(static_cast<int>(static_cast<std::int64_t>(bar->maximum()) * place / 199));
    viewport->repaint();
    jumps.push_back(MillisecondsSince(start));
  }
  bar->setValue(0);
  std::vector<double> pages;
  for (int page = 0; page < 200; ++page) {
    start = Clock::now();
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    viewport->repaint();
    pages.push_back(MillisecondsSince(start));
  }
  const Spread jump = SpreadOf(jumps);
  const Spread paging = SpreadOf(pages);
  std::printf(
      "scroll to 200 places: median %.2f ms, slowest %.2f ms; 200 page downs: median "
      "%.2f ms, slowest %.2f ms (frame 16.7 ms)\n",
      jump.median, jump.slowest, paging.median, paging.slowest);

  // Measured before the far row: selecting it makes the tree lay out every row before it.
  const long viewAdded = StatusKiB("VmRSS:") - residentBeforeView;
  const std::int64_t placeBytes = places.Bytes();
  std::printf(
      "rss added by the view %ld KiB (%.4f bytes per match); match places %lld KiB "
      "(%.2f bytes per match)\n",
      viewAdded, 1024.0 * static_cast<double>(viewAdded) / static_cast<double>(matches),
      static_cast<long long>(placeBytes / 1024),
      static_cast<double>(placeBytes) / static_cast<double>(matches));

  // The tree's part (it selects the row at once) apart from the view's (the queued event).
  start = Clock::now();
  UiSetState(evaluator::ResultsTree, UiCountItems(evaluator::ResultsTree) - 1);
  const double treePart = MillisecondsSince(start);
  start = Clock::now();
  HandleQueued();
  viewport->repaint();
  std::printf(
      "last row: tree selection %.1f ms, then the view shown and painted %.1f ms  "
      "position \"%s\"\n",
      treePart, MillisecondsSince(start),
      QString::fromStdU16String(UiGetText(evaluator::InputView)).toUtf8().constData());
  evaluator::ShutDown();
  return 0;
}
