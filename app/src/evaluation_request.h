// The evaluation request: what the Enter key starts and Esc stops, on the UI thread. The
// whole Evaluation (mode, flags, pattern, input) is read from the window at once and handed
// to a new worker, which reads a large input file without holding up the window.
#pragma once

namespace evaluator {

// Clears the tree and the result list and starts a worker on the evaluation the window asks
// for now: the options, the pattern and the input field, read together.
void StartEvaluation();

// Stops a running worker and its helpers without telling the user (Esc, shut-down), then
// frees what the evaluation made.
void StopWorker();

}  // namespace evaluator
