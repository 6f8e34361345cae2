// The scan loop, on the worker: searches match after match into batches (found_batch.h)
// and hands each full batch to the store thread (store_thread.h), where the matches become
// records and rows.
#pragma once

#include <cstdint>

#include "evaluation.h"
#include "runtime/object_registry.h"

namespace evaluator {

// Adds the current match of regex and the ones after it, in the process mode given. The rows found
// so far stay when memory runs short; the result is why the scan ended early (a RegexLastError
// code, RegexErrorNoMemory for memory) or 0 when it ran to the end.
[[nodiscard]] std::int64_t ScanAllMatches(ObjectNumber regex, EvaluationMode mode);

}  // namespace evaluator
