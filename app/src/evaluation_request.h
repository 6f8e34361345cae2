// The evaluation request: what the Enter key starts. The process mode is read from the
// options on the UI thread; flags, pattern and input are read by the worker, so that a
// large input file never holds up the window.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/text_encoding.h"

namespace evaluator {

// Process modes, from the first two option items.
inline constexpr std::int64_t MatchesOnly = -1;
inline constexpr std::int64_t GroupsOnly = 1;
inline constexpr std::int64_t MatchesAndGroups = 2;
inline constexpr std::int64_t NeitherMatchesNorGroups = 0;

// Whether a mode shows the match texts, and the group texts.
inline bool ModeKeepsMatches(std::int64_t mode) { return mode == MatchesOnly || mode == MatchesAndGroups; }
inline bool ModeKeepsGroups(std::int64_t mode) { return mode == GroupsOnly || mode == MatchesAndGroups; }

struct EvaluationRequest {
  std::int32_t flags = 0;
  std::u16string pattern;
  SharedUtf8 input;  // UTF-8; null bytes when it could not be had
};

// On the UI thread: clears the tree and the result list and starts a worker.
void StartEvaluation();

// On the worker: the input, the compile flags and the pattern, in that order. The user has been told why when the input is null.
EvaluationRequest ReadEvaluationRequest();

}  // namespace evaluator
