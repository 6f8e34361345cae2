// The result sink: where a match becomes a record in the result list and rows in the
// result tree, on the worker, batch by batch.
#pragma once

#include <cstdint>

namespace evaluator {

// Adds the current match of the evaluation's regex and the ones after it, in the process
// mode given. The rows found so far stay when memory runs short; the result is why the
// scan ended early (a RegexLastError code, RegexErrorNoMemory for memory) or 0 when it ran
// to the end.
std::int64_t AddMatches(std::int64_t mode);

}  // namespace evaluator
