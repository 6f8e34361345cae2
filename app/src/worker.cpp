#include "worker.h"

#include <malloc.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/evaluator.h"
#include "evaluation_request.h"
#include "messages.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "result_sink.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "status_line.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

// Records of an earlier result released per step: a few milliseconds under the lock.
constexpr std::int64_t RetiredRecordsPerStep = 16384;

std::u16string ReasonFor(std::int64_t error) {
  const String reason = TakeResult([error](std::int64_t at) { RegexFailureReason(error, at); });
  return std::u16string(reason.view());
}

// The engine takes the input once, without a copy: the first search of the scan is also the
// test whether the pattern matches at all.
void Scan(std::int64_t mode, const SharedUtf8& input) {
  RegexExamineUtf8(RegexNumber, input);
  ReportPhase(EvaluationPhase::Matching);
  if (RegexNextMatch(RegexNumber) != 1) {
    const std::int64_t error = RegexLastError(RegexNumber);
    RegexExamine(RegexNumber, nullptr);  // gives the subject up
    if (error == 0) {
      PostUserMessage(u"error", u"no matches found", IconError);
    } else {
      PostUserMessage(u"error", u"The pattern could not be evaluated over this input: " +
                                    ReasonFor(error) + u".", IconError);
    }
    return;
  }
  const std::int64_t error = AddMatches(mode);
  RegexExamine(RegexNumber, nullptr);  // gives the subject and the helper up
  if (error != 0) {
    PostUserMessage(u"incomplete", u"The results are incomplete: the scan stopped early because " +
                                       ReasonFor(error) + u".", IconWarning);
  }
  PostEvent(DoneEvent, 0, 0, 0, 0);
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
void NameResultColumns() {
  std::vector<std::u16string> columns{u"match"};
  const std::int64_t groups = RegexGroupCount(RegexNumber);
  for (std::int64_t n = 1; n <= groups; ++n) {
    const String name = TakeResult([n](std::int64_t at) { RegexGroupName(RegexNumber, n, at); });
    columns.push_back(name.view().empty() ? DecimalText(n) : std::u16string(name.view()));
  }
  ApplicationState& state = State();
  std::lock_guard guard(state.resultListLock);
  state.resultColumns = std::move(columns);
}

std::u16string CompileErrorText() {
  return std::u16string(TakeResult([](std::int64_t at) { RegexError(at); }).view());
}

}  // namespace

std::int64_t EvaluationWorker(std::int64_t mode) {
  EnsureStringBuffer();
  // A worker killed just before may still be on its way out: its memory goes first.
  while (ThreadsStillEnding() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    StopPoint();
  }
  ReleaseRetiredResults();
  ReportPhase(EvaluationPhase::Converting);  // a typed input is converted as it is read
  const EvaluationRequest request = ReadEvaluationRequest();
  if (!request.input.bytes) return 0;
  ReportPhase(EvaluationPhase::Converting);
  if (!RegexCreate(RegexNumber, request.pattern.c_str(), request.flags)) {
    PostUserMessage(u"error", CompileErrorText(), IconError);
    return 0;
  }
  NameResultColumns();
  if (request.input.length == 0) {
    PostUserMessage(u"ok", u"pattern is valid", IconInformation);
    return 0;
  }
  Scan(mode, request.input);
  return 0;
}

void StopWorker() {
  ApplicationState& state = State();
  if (ThreadIsRunning(state.workerThread)) ThreadKill(state.workerThread);
  // After the worker, which starts no other thread and hands over no batch once stopped.
  for (const std::int64_t helper : {state.storeThread.load(), state.searchThread.load()}) {
    if (helper != 0 && ThreadIsRunning(helper)) ThreadKill(helper);
  }
}

}  // namespace evaluator
