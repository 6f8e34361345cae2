#include "status_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/evaluator.h"
#include "messages.h"
#include "records/record_list.h"
#include "state.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t ProgressTimer = 1;
std::int64_t refreshMilliseconds = 250;  // a few times a second; 0 for no refresh

// UI thread only.
Clock::time_point startedAt;
bool running = false;

std::u16string Widened(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Tenths of a second for long runs, hundredths for short ones, which are over at once.
std::u16string SecondsText(Clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  char text[32];
  std::snprintf(text, sizeof text, seconds < 10 ? "%.2f s" : "%.1f s", seconds);
  return Widened(text);
}

std::int64_t MatchesInResults() {
  ApplicationState& state = State();
  std::lock_guard guard(state.resultListLock);
  return std::max<std::int64_t>(0, ListCount(state.resultList));
}

void SetProgressText(const std::u16string& text) {
  UiSetStatusText(MainWindow, ProgressPart, text.c_str());
}

std::u16string PhaseText(const EvaluationProgress& progress) {
  switch (static_cast<EvaluationPhase>(progress.phase.load(std::memory_order_relaxed))) {
    case EvaluationPhase::Starting:
      return u"starting";
    case EvaluationPhase::Reading: {
      const std::int64_t total = progress.read.bytesTotal.load(std::memory_order_relaxed);
      std::u16string text =
          u"reading: " + SizeText(progress.read.bytesRead.load(std::memory_order_relaxed));
      return total >= 0 ? text + u" of " + SizeText(total) : text;
    }
    case EvaluationPhase::Converting:
      return u"converting";
    case EvaluationPhase::Matching:
      return u"matching: " + MatchCountText(progress.matches.load(std::memory_order_relaxed)) +
             u" so far";
  }
  return {};
}

void Finish(const std::u16string& text) {
  if (running) UiRemoveWindowTimer(MainWindow, ProgressTimer);
  running = false;
  SetProgressText(text);
}

}  // namespace

EvaluationProgress& Progress() {
  static EvaluationProgress progress;
  return progress;
}

void ReportPhase(EvaluationPhase phase) {
  Progress().phase.store(static_cast<int>(phase), std::memory_order_relaxed);
}

void SetStatusRefresh(std::int64_t milliseconds) { refreshMilliseconds = milliseconds; }

void ShowKeyHints() {
  SetProgressText(
      u"Enter evaluates, Esc stops, Ctrl+O chooses an input file, Ctrl+S goes to "
      u"the export buttons, F1 opens the help page");
}

void StatusLineStarted() {
  EvaluationProgress& progress = Progress();
  ReportPhase(EvaluationPhase::Starting);
  progress.read.bytesRead.store(0, std::memory_order_relaxed);
  progress.read.bytesTotal.store(-1, std::memory_order_relaxed);
  progress.matches.store(0, std::memory_order_relaxed);
  startedAt = Clock::now();
  running = true;
  SetProgressText(u"starting");
  if (refreshMilliseconds > 0) UiAddWindowTimer(MainWindow, ProgressTimer, refreshMilliseconds);
}

void StatusLineTick() {
  if (!running) return;
  // A worker that ended without the done event has told the user why in a message box.
  if (!ThreadIsRunning(State().workerThread)) return Finish(u"");
  SetProgressText(PhaseText(Progress()) + u", " + SecondsText(Clock::now() - startedAt));
}

void StatusLineDone() {
  const std::u16string matches = MatchCountText(MatchesInResults());
  // A done event without a start (a test posting one) has no time to tell.
  if (startedAt == Clock::time_point()) return Finish(matches);
  Finish(matches + u" in " + SecondsText(Clock::now() - startedAt));
}

void StatusLineCleared() { Finish(u""); }

void StatusLineStopped() { Finish(u"stopped after " + MatchCountText(MatchesInResults())); }

}  // namespace evaluator
