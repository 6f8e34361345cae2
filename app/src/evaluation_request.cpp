#include "evaluation_request.h"

#include <mutex>
#include <string>

#include "app/evaluator.h"
#include "evaluation.h"
#include "main_window.h"
#include "match_view.h"
#include "records/match_record.h"
#include "records/record_list.h"
#include "state.h"
#include "status_line.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker.h"

namespace evaluator {
namespace {

bool Ticked(std::int64_t item) { return (UiGetItemState(OptionsList, item) & UiItemChecked) != 0; }

EvaluationMode ModeFromOptions() {
  const bool matches = Ticked(ProcessMatchesItem);
  const bool groups = Ticked(ProcessGroupsItem);
  if (matches && groups) return EvaluationMode::MatchesAndGroups;
  if (matches) return EvaluationMode::MatchesOnly;
  if (groups) return EvaluationMode::GroupsOnly;
  return EvaluationMode::Neither;
}

std::int32_t CompileFlagsFromOptions() {
  std::int64_t flags = 0;
  const std::int64_t items = UiCountItems(OptionsList);
  for (std::int64_t item = FirstFlagItem; item < items; ++item) {
    if (Ticked(item)) flags |= UiGetItemData(OptionsList, item);
  }
  return static_cast<std::int32_t>(flags);
}

Evaluation GatherEvaluation() {
  Evaluation evaluation;
  evaluation.mode = ModeFromOptions();
  evaluation.flags = CompileFlagsFromOptions();
  evaluation.pattern = UiGetText(PatternField);
  evaluation.input = UiGetText(InputField);
  const std::u16string_view prefix = FileReferencePrefix;
  if (evaluation.input.starts_with(prefix)) {
    // The reference ends with ">", whatever the last character really is.
    const std::size_t end = std::u16string_view(FileReferenceEnd).size();
    evaluation.input =
        evaluation.input.size() > prefix.size() + end
            ? evaluation.input.substr(prefix.size(), evaluation.input.size() - prefix.size() - end)
            : std::u16string();
    evaluation.fromFile = true;
  }
  return evaluation;
}

}  // namespace

void StartEvaluation() {
  ApplicationState& state = State();
  Evaluation evaluation = GatherEvaluation();
  // The file the evaluation reads is the one Ctrl+B opens and the export is named after.
  if (evaluation.fromFile) SetInputFilePath(evaluation.input);
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
  state.workerThread = StartWorker(std::move(evaluation));
}

void StopWorker() {
  ApplicationState& state = State();
  if (ThreadIsRunning(state.workerThread)) ThreadKill(state.workerThread);
  // After the worker, which starts no other thread and hands over no batch once stopped.
  for (const std::int64_t helper : {state.storeThread.load(), state.searchThread.load()}) {
    if (helper != 0 && ThreadIsRunning(helper)) ThreadKill(helper);
  }
  // None of them touches the evaluation's objects any more.
  state.evaluationRegex.Release();
  state.inputStream.Release();
}

}  // namespace evaluator
