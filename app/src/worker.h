// The evaluation worker: compiles the pattern, scans the input on its own thread and fills
// the result list and the result tree as it goes.
#pragma once

#include <cstdint>

namespace evaluator {

// Process modes, from the first two option items.
inline constexpr std::int64_t MatchesOnly = -1;
inline constexpr std::int64_t GroupsOnly = 1;
inline constexpr std::int64_t MatchesAndGroups = 2;
inline constexpr std::int64_t NeitherMatchesNorGroups = 0;

// On the UI thread: clears the tree and the result list and starts a worker.
void StartEvaluation();

// On the UI thread: stops a running worker without telling the user (used at shut-down).
void StopWorker();

// The worker procedure; mode is one of the process modes above.
std::int64_t EvaluationWorker(std::int64_t mode);

}  // namespace evaluator
