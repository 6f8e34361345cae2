#include "store_thread.h"

#include <new>

#include "app/evaluator.h"
#include "records/match_record.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "threads/threads.h"

namespace evaluator {
namespace {

// Batches in flight: enough that neither thread waits for the other while both have
// work, few enough that the texts waiting take little memory.
constexpr int BatchesInFlight = 4;

// Gives one text of the batch to variable, which is still empty, and asks for its row,
// which shows the record's own copy.
void KeepText(StringVar& variable, FoundBatch& batch, std::int64_t match, std::int64_t text,
              bool group, std::vector<UiTreeItem>& rows) {
  std::int64_t length = 0;
  variable = batch.TakeText(match, text, length);
  // An empty group row is a root row; non-empty ones hang under the last root row.
  rows.push_back({variable, length, group && length > 0 ? 1 : 0});
}

// Fills one match's record, which is already in the result list and zero-filled, and
// appends the rows for its texts to rows; false when memory ran out (the rows of what was
// stored are there then).
bool StoreMatch(FoundBatch& batch, std::int64_t match, MatchRecord& record,
                std::vector<UiTreeItem>& rows) {
  std::int64_t text = 0;
  if (batch.KeepsMatches()) KeepText(record.m, batch, match, text++, false, rows);
  if (batch.GroupsKept() == 0) return true;
  RecordList* groups = MatchGroupList(record);
  void* groupText = groups ? ListInsertSeveral(groups, batch.GroupsKept()) : nullptr;
  if (!groupText) return false;
  for (ListElement* element = ElementOf(groupText); element; element = element->next) {
    KeepText(*static_cast<StringVar*>(RecordOf(element)), batch, match, text++, true, rows);
  }
  return true;
}

// The batch's records and rows, stored together under the result list's lock so that a
// reader never sees one without the other. False when memory ran out.
bool StoreBatch(FoundBatch& batch, std::vector<UiTreeItem>& rows) {
  ApplicationState& state = State();
  SharedChangeScope change;
  std::lock_guard guard(state.resultListLock);
  // Appending at the end whatever a reader's walk did to the cursor keeps match order.
  ListLast(state.resultList);
  rows.clear();
  // The batch's records come from the pool at once, so that its lock is taken once per
  // batch; a batch that finds no memory for them stores nothing.
  void* first =
      batch.Matches() > 0 ? ListInsertSeveral(state.resultList, batch.Matches()) : nullptr;
  bool stored = first || batch.Matches() == 0;
  std::int64_t match = 0;
  for (ListElement* element = ElementOf(first); stored && element; element = element->next) {
    stored = StoreMatch(batch, match++, *static_cast<MatchRecord*>(RecordOf(element)), rows);
  }
  // Memory ran out part way: the records that got nothing go again, as no rows show them.
  if (!stored && first) ListReleaseBack(state.resultList, batch.Matches() - match);
  // Before the rows: a row the user selects finds its match's place.
  const auto placesStored = static_cast<std::size_t>(match * batch.PlacesPerMatch());
  if (!state.matchPlaces.Append(batch.Places().first(placesStored))) stored = false;
  const auto count = static_cast<std::int64_t>(rows.size());
  return UiAddItems(ResultsTree, rows.data(), count) == count && stored;
}

}  // namespace

bool ResultStore::Store(FoundBatch& batch) { return StoreBatch(batch, rows_); }

ResultStore::ResultStore(EvaluationMode mode, std::int64_t groupCount) {
  for (int i = 0; i < BatchesInFlight; ++i) {
    batches_.push_back(std::make_unique<FoundBatch>(mode, groupCount, texts_));
    if (!batches_.back()->Reserve(MatchesPerBatch)) throw std::bad_alloc();
    empty_.push_back(batches_.back().get());
  }
  rows_.reserve(static_cast<std::size_t>(MatchesPerBatch * batches_.front()->TextsPerMatch()));
}

std::shared_ptr<ResultStore> ResultStore::Start(EvaluationMode mode, std::int64_t groupCount) {
  std::shared_ptr<ResultStore> store;
  try {
    store = std::make_shared<ResultStore>(mode, groupCount);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // Inside a change, so that a StopWorker that stops the worker meanwhile finds the store
  // thread's id once the worker is stopped, and stops it too.
  SharedChangeScope change;
  const std::int64_t thread = ThreadRunShared<&ResultStore::StoreUntilFinished>(store);
  // No thread to be had: the worker stores as it goes.
  if (thread == 0) store->storesInline_ = true;
  State().storeThread.store(thread);
  return store;
}

FoundBatch* ResultStore::NextFullBatch() {
  std::unique_lock lock(lock_);
  WaitUntilReadyOrStopped(changed_, lock, [this] { return !full_.empty() || finished_; });
  if (full_.empty()) return nullptr;
  FoundBatch* batch = full_.front();
  full_.pop_front();
  return batch;
}

void ResultStore::StoreUntilFinished() {
  while (FoundBatch* batch = NextFullBatch()) {
    bool storing = false;
    {
      std::lock_guard guard(lock_);
      storing = !stopped_;
    }
    const bool stored = !storing || Store(*batch);
    std::lock_guard guard(lock_);
    stopped_ = stopped_ || !stored;
    // Only a worker that found no empty batch waits for one.
    if (empty_.empty() || stopped_) changed_.notify_all();
    empty_.push_back(batch);
  }
  std::lock_guard guard(lock_);
  done_ = true;
  changed_.notify_all();
}

FoundBatch* ResultStore::EmptyBatch() {
  std::unique_lock lock(lock_);
  WaitUntilReadyOrStopped(changed_, lock, [this] { return !empty_.empty() || stopped_; });
  if (stopped_) return nullptr;
  FoundBatch* batch = empty_.front();
  empty_.pop_front();
  return batch;
}

void ResultStore::HandOver(FoundBatch* batch) {
  if (storesInline_) {
    const bool stored = Store(*batch);
    std::lock_guard guard(lock_);
    stopped_ = stopped_ || !stored;
    empty_.push_back(batch);
    return;
  }
  std::lock_guard guard(lock_);
  // Only a store thread that found no full batch waits for one.
  if (full_.empty()) changed_.notify_all();
  full_.push_back(batch);
}

void ResultStore::Abandon() {
  std::lock_guard guard(lock_);
  finished_ = true;
  stopped_ = true;
  changed_.notify_all();
}

bool ResultStore::Finish() {
  std::unique_lock lock(lock_);
  if (storesInline_) return !stopped_;
  finished_ = true;
  changed_.notify_all();
  WaitUntilReadyOrStopped(changed_, lock, [this] { return done_; });
  return !stopped_;
}

}  // namespace evaluator
