// The evaluation worker: reads the request, compiles the pattern and scans the input on its
// own thread, handing every match to the result sink.
#pragma once

#include <cstdint>

#include "runtime/object_registry.h"

namespace evaluator {

// The regex object of the evaluation; the worker compiles it, the loop frees it when done.
inline constexpr ObjectNumber RegexNumber = 0;

// On the UI thread: stops a running worker without telling the user (used at shut-down).
void StopWorker();

// The worker procedure; mode is one of the process modes of evaluation_request.h.
std::int64_t EvaluationWorker(std::int64_t mode);

}  // namespace evaluator
