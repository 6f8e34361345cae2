#include "worker.h"

#include <malloc.h>
#include <pcre.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/evaluator.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker_input.h"

namespace evaluator {
namespace {

constexpr std::int64_t RegexNumber = 0;
// Matches between two looks at the memory the system has left for more results.
constexpr std::int64_t MatchesPerMemoryCheck = 4096;
// Below this the scan stops rather than have the system end the program.
constexpr std::int64_t LeastMemoryForResults = std::int64_t{64} << 20;
// Records of an earlier result released per step: a few milliseconds under the lock.
constexpr std::int64_t RetiredRecordsPerStep = 16384;

bool Ticked(std::int64_t item) { return UiGetItemState(OptionsList, item) > 1; }

std::int64_t ProcessModeFromOptions() {
  const bool matches = Ticked(0);
  const bool groups = Ticked(1);
  if (matches && groups) return MatchesAndGroups;
  if (matches) return MatchesOnly;
  if (groups) return GroupsOnly;
  return NeitherMatchesNorGroups;
}

std::int64_t CompileFlagsFromOptions() {
  std::int64_t flags = 0;
  const std::int64_t items = UiCountItems(OptionsList);
  for (std::int64_t item = 2; item < items; ++item) {
    if (Ticked(item)) flags |= UiGetItemData(OptionsList, item);
  }
  return flags;
}

std::u16string DecimalText(std::int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

void PostMessage(const std::u16string& text) {
  PostEventText(MessageEvent, -1, -1, -1, text.c_str());
}

// Why PCRE gave up, in the user's words.
std::u16string ReasonFor(std::int64_t pcreError) {
  switch (pcreError) {
    case PCRE_ERROR_MATCHLIMIT:
      return u"the pattern needs too much backtracking on this input";
    case PCRE_ERROR_RECURSIONLIMIT:
      return u"the pattern nests too deeply for this input";
    case PCRE_ERROR_NOMEMORY:
      return u"there was not enough memory";
    case PCRE_ERROR_BADLENGTH:
      return TooLargeForEngineText();
    default:
      return u"the pattern engine reported error " + DecimalText(pcreError);
  }
}

}  // namespace

namespace {

// Runs produce(position), a runtime function writing its string result at position, and
// makes that result the variable's value.
template <typename Produce>
void AssignResult(StringVar& variable, Produce produce) {
  const std::int64_t at = TempPosition();
  produce(at);
  AssignFromTemp(variable, at);
}

// One match: its record in the result list and its rows in the tree, added together so
// that a reader never sees one without the other. False when memory ran out.
bool AddMatch(std::int64_t mode) {
  ApplicationState& state = State();
  SharedChangeScope change;
  std::lock_guard guard(state.resultListLock);
  // Appending at the end whatever a reader's walk did to the cursor keeps match order.
  ListLast(state.resultList);
  auto* record = static_cast<MatchRecord*>(ListInsert(state.resultList));
  if (!record) return false;
  if (mode == MatchesOnly || mode == MatchesAndGroups) {
    AssignResult(record->m, [](std::int64_t at) { RegexMatchText(RegexNumber, at); });
    UiAddItem(ResultsTree, -1, record->m, 0, 0);
  }
  if (mode != GroupsOnly && mode != MatchesAndGroups) return true;
  const std::int64_t groupCount = RegexGroupCount(RegexNumber);
  if (groupCount == 0) return true;
  RecordList* groups = MatchGroupList(*record);
  if (!groups) return false;
  for (std::int64_t group = 1; group <= groupCount; ++group) {
    auto* text = static_cast<StringVar*>(ListInsert(groups));
    if (!text) return false;
    AssignResult(*text, [group](std::int64_t at) { RegexGroupText(RegexNumber, group, at); });
    // An empty group row is a root row; non-empty ones hang under the last root row.
    UiAddItem(ResultsTree, -1, *text, 0, StringLength(*text) > 0 ? 1 : 0);
  }
  return true;
}

// Matches taken under one change scope: the stop check and its gate are paid once per
// batch rather than once per match. A stop still ends the worker within one match, as a
// match call is interrupted at once and the next one is not started.
constexpr int MatchesPerBatch = 256;

bool MemoryLeftForResults(std::int64_t found) {
  if (found % MatchesPerMemoryCheck != 0) return true;
  const std::int64_t available = AvailableSystemMemory();
  return available < 0 || available >= LeastMemoryForResults;
}

// Adds the current match and the ones after it. The rows found so far stay when memory
// runs short; the error says why the scan ended early (0 when it ran to the end).
std::int64_t AddMatches(std::int64_t mode) {
  std::int64_t found = 0;
  bool more = true;
  while (more) {
    SharedChangeScope batch;
    for (int taken = 0; more && taken < MatchesPerBatch; ++taken, ++found) {
      if (!MemoryLeftForResults(found) || !AddMatch(mode)) return PCRE_ERROR_NOMEMORY;
      more = RegexNextMatch(RegexNumber) == 1;
    }
  }
  return RegexLastError(RegexNumber);
}

// The subject is converted for the engine once: the first search of the scan is also the
// test whether the pattern matches at all.
void Scan(std::int64_t mode, const std::u16string& input) {
  RegexExamine(RegexNumber, input.c_str());
  if (RegexNextMatch(RegexNumber) != 1) {
    const std::int64_t error = RegexLastError(RegexNumber);
    RegexExamine(RegexNumber, nullptr);  // gives the subject copy back
    PostMessage(error == 0 ? u"no matches found"
                           : u"error|The pattern could not be evaluated over this input: " +
                                 ReasonFor(error) + u".|16");
    return;
  }
  if (const std::int64_t error = AddMatches(mode); error != 0) {
    PostMessage(u"incomplete|The results are incomplete: the scan stopped early because " +
                ReasonFor(error) + u".|48");
  }
  PostEvent(DoneEvent, 0, 0, 0, 0);
}

// Releases what earlier evaluations left in the retired list, then hands the heap's free
// memory back to the system, which the heap keeps otherwise.
void ReleaseRetiredResults() {
  ApplicationState& state = State();
  std::int64_t left = 0;
  do {
    std::lock_guard guard(state.retiredResultsLock);
    left = ListReleaseFront(state.retiredResults, RetiredRecordsPerStep);
  } while (left > 0);
  malloc_trim(0);
}

std::u16string CompileErrorText() {
  StringVar text = nullptr;
  AssignResult(text, [](std::int64_t at) { RegexError(at); });
  std::u16string error = text ? text : u"";
  FreeString(text);
  return error;
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
  std::shared_ptr<const std::u16string> input = ReadInput();
  if (!input) return 0;
  {
    SharedChangeScope change;
    SetInputText(input);
  }
  const auto flags = static_cast<std::int32_t>(CompileFlagsFromOptions());
  const std::u16string pattern = UiGetText(PatternField);
  if (!RegexCreate(RegexNumber, pattern.c_str(), flags)) {
    PostMessage(CompileErrorText());
    return 0;
  }
  if (input->empty()) {
    PostMessage(u"ok|pattern is valid|64");
    return 0;
  }
  Scan(mode, *input);
  return 0;
}

void StartEvaluation() {
  ApplicationState& state = State();
  UiClearItems(ResultsTree);
  {
    // The old records go to the worker to release: the list is empty at once for every
    // reader, and the window never waits for millions of records to be freed.
    std::scoped_lock guard(state.resultListLock, state.retiredResultsLock);
    if (!state.retiredResults) state.retiredResults = CreateLazyMatchRecordList(nullptr);
    if (!ListMoveAll(state.resultList, state.retiredResults)) ListClear(state.resultList);
  }
  state.workerThread = ThreadCreate(EvaluationWorker, ProcessModeFromOptions());
}

void StopWorker() {
  ApplicationState& state = State();
  if (ThreadIsRunning(state.workerThread)) ThreadKill(state.workerThread);
}

}  // namespace evaluator
