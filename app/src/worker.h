// The evaluation worker: on a thread of its own, reads the input it was handed (a file's
// too), compiles the pattern and scans the input, handing every match to the scan loop.
// It reads nothing of the window: everything it needs comes in its Evaluation.
#pragma once

#include <cstdint>

#include "evaluation.h"

namespace evaluator {

// On the UI thread: starts the worker for evaluation; its thread id, or 0 when no thread
// could be started.
[[nodiscard]] std::int64_t StartWorker(Evaluation evaluation);

}  // namespace evaluator
