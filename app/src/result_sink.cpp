#include "result_sink.h"

#include <mutex>

#include "app/evaluator.h"
#include "evaluation_request.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "ui/ui.h"
#include "worker.h"

namespace evaluator {
namespace {

// Matches between two looks at the memory the system has left for more results.
constexpr std::int64_t MatchesPerMemoryCheck = 4096;
// Below this the scan stops rather than have the system end the program.
constexpr std::int64_t LeastMemoryForResults = std::int64_t{64} << 20;

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

}  // namespace

// Adds the current match and the ones after it. The rows found so far stay when memory
// runs short; the error says why the scan ended early (0 when it ran to the end).
std::int64_t AddMatches(std::int64_t mode) {
  std::int64_t found = 0;
  bool more = true;
  while (more) {
    SharedChangeScope batch;
    for (int taken = 0; more && taken < MatchesPerBatch; ++taken, ++found) {
      if (!MemoryLeftForResults(found) || !AddMatch(mode)) return RegexErrorNoMemory;
      more = RegexNextMatch(RegexNumber) == 1;
    }
  }
  return RegexLastError(RegexNumber);
}

}  // namespace evaluator
