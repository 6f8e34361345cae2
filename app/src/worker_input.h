// The evaluation's input on the worker: the typed text it was handed, or the whole of the
// file it names, read within what the pattern engine and the machine's memory can take.
#pragma once

#include <cstdint>
#include <limits>

#include "evaluation.h"
#include "runtime/text_encoding.h"

namespace evaluator {

struct InputLimits {
  // The longest subject the pattern engine takes, in bytes of UTF-8 (PCRE 8 counts its
  // lengths in a signed 32-bit int).
  std::int64_t engineBytes = std::numeric_limits<std::int32_t>::max();
  // The memory an input may take in all; -1 for what the system has available.
  std::int64_t memoryBudget = -1;
};

// The limits the next evaluations read with; tests set small ones so that megabytes reach
// them. Call while no worker runs.
void SetInputLimits(const InputLimits& limits);
InputLimits CurrentInputLimits();

// On the worker: the input as UTF-8 (a file's bytes as read, undecoded), or null bytes when
// it can't be had; the user is told why then by a posted message (a file that can't be
// opened or read, or that is too large).
[[nodiscard]] SharedUtf8 ReadInput(const Evaluation& evaluation);

}  // namespace evaluator
