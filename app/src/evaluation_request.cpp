#include "evaluation_request.h"

#include <mutex>

#include "app/evaluator.h"
#include "main_window.h"
#include "match_view.h"
#include "records/match_record.h"
#include "records/record_list.h"
#include "state.h"
#include "status_line.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker.h"
#include "worker_input.h"

namespace evaluator {
namespace {

bool Ticked(std::int64_t item) {
  return (UiGetItemState(OptionsList, item) & UiItemChecked) != 0;
}

std::int64_t ProcessModeFromOptions() {
  const bool matches = Ticked(ProcessMatchesItem);
  const bool groups = Ticked(ProcessGroupsItem);
  if (matches && groups) return MatchesAndGroups;
  if (matches) return MatchesOnly;
  if (groups) return GroupsOnly;
  return NeitherMatchesNorGroups;
}

std::int32_t CompileFlagsFromOptions() {
  std::int64_t flags = 0;
  const std::int64_t items = UiCountItems(OptionsList);
  for (std::int64_t item = FirstFlagItem; item < items; ++item) {
    if (Ticked(item)) flags |= UiGetItemData(OptionsList, item);
  }
  return static_cast<std::int32_t>(flags);
}

}  // namespace

EvaluationRequest ReadEvaluationRequest() {
  EvaluationRequest request;
  request.input = ReadInput();
  if (!request.input.bytes) return request;
  request.flags = CompileFlagsFromOptions();
  request.pattern = UiGetText(PatternField);
  return request;
}

void StartEvaluation() {
  ApplicationState& state = State();
  UiClearItems(ResultsTree);
  ForgetShownInput();
  {
    // The old records go to the worker to release: the list is empty at once for every
    // reader, and the window never waits for millions of records to be freed.
    std::scoped_lock guard(state.resultListLock, state.retiredResultsLock);
    if (!state.retiredResults) state.retiredResults = CreateLazyMatchRecordList(nullptr);
    if (!ListMoveAll(state.resultList, state.retiredResults)) ListClear(state.resultList);
  }
  // The helpers of the evaluation before are done with the results: a search helper still
  // finishing its last search touches nothing of the next evaluation.
  state.storeThread.store(0);
  state.searchThread.store(0);
  StatusLineStarted();
  state.workerThread = ThreadCreate(EvaluationWorker, ProcessModeFromOptions());
}

}  // namespace evaluator
