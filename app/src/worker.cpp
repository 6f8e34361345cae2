#include "worker.h"

#include <malloc.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/evaluator.h"
#include "messages.h"
#include "owned_object.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"
#include "scan_loop.h"
#include "state.h"
#include "status_line.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "worker_input.h"

namespace evaluator {
namespace {

// Records of an earlier result released per step: a few milliseconds under the lock.
constexpr std::int64_t RetiredRecordsPerStep = 16384;

std::u16string ReasonFor(std::int64_t error) {
  const String reason = TakeResult([error](std::int64_t at) { RegexFailureReason(error, at); });
  return std::u16string(reason.view());
}

// The engine takes the input once, without a copy: the first search of the scan is also the
// test whether the pattern matches at all. True when the results are to be shown.
bool Scan(ObjectNumber regex, EvaluationMode mode, const SharedUtf8& input) {
  RegexExamineUtf8(regex, input);
  ReportPhase(EvaluationPhase::Matching);
  if (RegexNextMatch(regex) != 1) {
    const std::int64_t error = RegexLastError(regex);
    RegexExamine(regex, nullptr);  // gives the subject up
    PostUserMessage(error == 0 ? NoMatchesMessage() : NotEvaluatedMessage(ReasonFor(error)));
    return false;
  }
  const std::int64_t error = ScanAllMatches(regex, mode);
  RegexExamine(regex, nullptr);  // gives the subject and the helper up
  if (error != 0) PostUserMessage(IncompleteResultsMessage(ReasonFor(error)));
  return true;
}

// Releases what earlier evaluations left in the retired list, then hands the heap's free
// memory back to the system, which the heap keeps otherwise.
void ReleaseRetiredResults() {
  ApplicationState& state = State();
  {
    // Nothing retired, nothing to hand back: trimming walks the whole heap.
    std::lock_guard guard(state.retiredResultsLock);
    if (ListCount(state.retiredResults) <= 0) return;
  }
  std::int64_t left = 0;
  do {
    std::lock_guard guard(state.retiredResultsLock);
    left = ListReleaseFront(state.retiredResults, RetiredRecordsPerStep);
  } while (left > 0);
  malloc_trim(0);
}

// The csv table's columns come from the pattern, so that a table has them all, also where
// no match took part in a group.
void NameResultColumns(ObjectNumber regex) {
  std::vector<std::u16string> columns{u"match"};
  const std::int64_t groups = RegexGroupCount(regex);
  for (std::int64_t n = 1; n <= groups; ++n) {
    const String name = TakeResult([regex, n](std::int64_t at) { RegexGroupName(regex, n, at); });
    columns.push_back(name.view().empty() ? DecimalText(n) : std::u16string(name.view()));
  }
  ApplicationState& state = State();
  std::lock_guard guard(state.resultListLock);
  state.resultColumns = std::move(columns);
}

std::u16string CompileErrorText() {
  return std::u16string(TakeResult([](std::int64_t at) { RegexError(at); }).view());
}

void Evaluate(const Evaluation& evaluation) {
  EnsureStringBuffer();
  // A worker killed just before may still be on its way out: its memory goes first.
  while (ThreadsStillEnding() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    StopPoint();
  }
  ReleaseRetiredResults();
  const SharedUtf8 input = ReadInput(evaluation);
  if (!input.bytes) return;
  ReportPhase(EvaluationPhase::Converting);
  OwnedObject<RegexFree>& regex = State().evaluationRegex;
  if (!regex.Create(
          [&] { return RegexCreate(AnyHandle, evaluation.pattern.c_str(), evaluation.flags); })) {
    PostUserMessage(PatternErrorMessage(CompileErrorText()));
    return;
  }
  NameResultColumns(regex.Number());
  if (input.length == 0) {
    regex.Release();
    PostUserMessage(PatternValidMessage());
    return;
  }
  const bool showResults = Scan(regex.Number(), evaluation.mode, input);
  // Before the done event, after which Enter may start the next evaluation.
  regex.Release();
  if (showResults) PostEvent(DoneEvent, 0, 0, 0, 0);
}

std::int64_t EvaluationWorker(std::int64_t value) {
  const std::unique_ptr<Evaluation> evaluation(reinterpret_cast<Evaluation*>(value));
  Evaluate(*evaluation);
  return 0;
}

void ReleaseEvaluation(std::int64_t value) {
  const std::unique_ptr<Evaluation> evaluation(reinterpret_cast<Evaluation*>(value));
}

}  // namespace

std::int64_t StartWorker(Evaluation evaluation) {
  std::unique_ptr<Evaluation> handed;
  try {
    handed = std::make_unique<Evaluation>(std::move(evaluation));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  // The worker owns the evaluation from here on, also when it is stopped before it runs.
  return ThreadCreateOwning(EvaluationWorker, reinterpret_cast<std::int64_t>(handed.release()),
                            ReleaseEvaluation);
}

}  // namespace evaluator
