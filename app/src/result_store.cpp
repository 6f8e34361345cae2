#include "result_store.h"

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

// Where a batch's records keep their texts and their rows are gathered.
struct StoreRoom {
  std::vector<UiTreeItem>& rows;
  TextPool& texts;
};

// Keeps one text in variable and asks for its row, which shows the record's own copy.
void KeepText(StringVar& variable, std::u16string_view text, std::int64_t level,
              StoreRoom& room) {
  const auto length = static_cast<std::int64_t>(text.size());
  room.texts.Assign(variable, text.data(), length);
  room.rows.push_back({variable, length, level});
}

// One match's record, with the rows for its texts appended to the room's rows; false when
// memory ran out (the rows of what was stored are there then).
bool StoreMatch(const FoundBatch& batch, std::int64_t match, StoreRoom& room) {
  auto* record = static_cast<MatchRecord*>(ListInsert(State().resultList));
  if (!record) return false;
  std::int64_t text = 0;
  if (batch.KeepsMatches()) KeepText(record->m, batch.Text(match, text++), 0, room);
  if (batch.GroupsKept() == 0) return true;
  RecordList* groups = MatchGroupList(*record);
  void* groupText = groups ? ListInsertSeveral(groups, batch.GroupsKept()) : nullptr;
  if (!groupText) return false;
  for (ListElement* element = ElementOf(groupText); element; element = element->next) {
    const std::u16string_view found = batch.Text(match, text++);
    // An empty group row is a root row; non-empty ones hang under the last root row.
    KeepText(*static_cast<StringVar*>(RecordOf(element)), found, found.empty() ? 0 : 1, room);
  }
  return true;
}

// The batch's records and rows, stored together under the result list's lock so that a
// reader never sees one without the other. False when memory ran out.
bool StoreBatch(const FoundBatch& batch, StoreRoom room) {
  ApplicationState& state = State();
  SharedChangeScope change;
  std::lock_guard guard(state.resultListLock);
  // Appending at the end whatever a reader's walk did to the cursor keeps match order.
  ListLast(state.resultList);
  room.rows.clear();
  bool stored = true;
  for (std::int64_t match = 0; stored && match < batch.Matches(); ++match) {
    stored = StoreMatch(batch, match, room);
  }
  const auto count = static_cast<std::int64_t>(room.rows.size());
  return UiAddItems(ResultsTree, room.rows.data(), count) == count && stored;
}

}  // namespace

bool ResultStore::Store(const FoundBatch& batch) { return StoreBatch(batch, {rows_, texts_}); }

ResultStore::ResultStore(std::int64_t mode, std::int64_t groupCount) {
  for (int i = 0; i < BatchesInFlight; ++i) {
    batches_.push_back(std::make_unique<FoundBatch>(mode, groupCount));
    if (!batches_.back()->Reserve(MatchesPerBatch)) throw std::bad_alloc();
    empty_.push_back(batches_.back().get());
  }
  rows_.reserve(static_cast<std::size_t>(MatchesPerBatch * batches_.front()->TextsPerMatch()));
}

std::shared_ptr<ResultStore> ResultStore::Start(std::int64_t mode, std::int64_t groupCount) {
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
