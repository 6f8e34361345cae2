// The status line below the tabs: what a running evaluation is doing, refreshed a few times
// a second, and how the last one ended. The worker publishes its progress in a few relaxed
// counters; only the UI thread reads them, and only while a timer of the window runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/file_stream.h"

namespace evaluator {

enum class EvaluationPhase : int { Starting, Reading, Converting, Matching };

struct EvaluationProgress {
  std::atomic<int> phase{static_cast<int>(EvaluationPhase::Starting)};
  ReadProgress read;                     // filled while the input file is read
  std::atomic<std::int64_t> matches{0};  // found so far
};

// The one evaluation's progress: reset by StatusLineStarted before the worker starts.
EvaluationProgress& Progress();
// Worker: the phase it enters now.
void ReportPhase(EvaluationPhase phase);

// Status line parts.
inline constexpr std::int64_t ProgressPart = 0;
inline constexpr std::int64_t PositionPart = 1;  // where the selected result row is

// UI thread. The keys a newcomer needs, until the first evaluation.
void ShowKeyHints();
// An evaluation starts: progress is reset and shown until one of the endings below.
void StatusLineStarted();
// The window's timer went off.
void StatusLineTick();
// The worker's done event: "N matches in T s".
void StatusLineDone();
// Esc stopped the worker: "stopped after N matches".
void StatusLineStopped();
// The worker's message: its box tells how the evaluation ended (a done event may follow).
void StatusLineCleared();

}  // namespace evaluator
