#include "result_sink.h"

#include <mutex>
#include <new>
#include <string_view>
#include <vector>

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
// Matches found before their records and rows are stored, all under one take of the
// result list's and the tree's locks. The search itself runs with neither lock held, so a
// reader of the results never waits for a match call; a stop still ends the worker within
// one match, as a match call is interrupted at once and the next one is not started.
constexpr std::int64_t MatchesPerBatch = 256;

bool ModeKeepsMatches(std::int64_t mode) { return mode == MatchesOnly || mode == MatchesAndGroups; }
bool ModeKeepsGroups(std::int64_t mode) { return mode == GroupsOnly || mode == MatchesAndGroups; }

// The texts of a batch of matches, kept in the worker's temporary area until the batch is
// stored. Each match has the same texts: its match text first when the mode keeps it, then
// its group texts when the mode keeps those.
class FoundBatch {
 public:
  FoundBatch(std::int64_t mode, std::int64_t groupCount)
      : keepsMatches_(ModeKeepsMatches(mode)),
        groupsKept_(ModeKeepsGroups(mode) ? groupCount : 0) {}
  FoundBatch(const FoundBatch&) = delete;
  FoundBatch& operator=(const FoundBatch&) = delete;
  ~FoundBatch() { SetTempPosition(base_); }

  bool KeepsMatches() const { return keepsMatches_; }
  std::int64_t GroupsKept() const { return groupsKept_; }
  std::int64_t TextsPerMatch() const { return (keepsMatches_ ? 1 : 0) + groupsKept_; }
  std::int64_t Matches() const { return matches_; }

  // Takes the texts of the regex's current match.
  void AddCurrentMatch() {
    if (keepsMatches_) AddText([](std::int64_t at) { RegexMatchText(RegexNumber, at); });
    for (std::int64_t group = 1; group <= groupsKept_; ++group) {
      AddText([group](std::int64_t at) { RegexGroupText(RegexNumber, group, at); });
    }
    ++matches_;
  }

  // Room for a whole batch of texts, so that adding them never fails.
  bool Reserve(std::int64_t matches) {
    try {
      texts_.reserve(static_cast<std::size_t>(matches * TextsPerMatch()));
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // A text of one of the batch's matches, counted in the order they were added; valid
  // until the next AddCurrentMatch or Clear, as the area may move when it grows.
  std::u16string_view Text(std::int64_t match, std::int64_t text) const {
    const TextSpan span = texts_[static_cast<std::size_t>(match * TextsPerMatch() + text)];
    return {TempAt(span.start), static_cast<std::size_t>(span.end - span.start) / 2};
  }

  void Clear() {
    SetTempPosition(base_);
    texts_.clear();
    matches_ = 0;
  }

 private:
  struct TextSpan {
    std::int64_t start;  // positions in the temporary area
    std::int64_t end;
  };

  template <typename Produce>
  void AddText(Produce produce) {
    const std::int64_t at = TempPosition();
    produce(at);
    texts_.push_back({at, TempPosition()});
  }

  const bool keepsMatches_;
  const std::int64_t groupsKept_;
  const std::int64_t base_ = TempPosition();
  std::vector<TextSpan> texts_;
  std::int64_t matches_ = 0;
};

bool MemoryLeftForResults() {
  const std::int64_t available = AvailableSystemMemory();
  return available < 0 || available >= LeastMemoryForResults;
}

// Match work that a search may take while found matches wait for it to be stored: a
// search that takes longer lets the batch be stored first and is then done again in full,
// so a long search never holds back the matches found before it.
constexpr std::int64_t StepsWhileMatchesWait = 250'000;

enum class ScanState { MatchCurrent, SearchPending, Ended };

// Takes the current match and those after it, up to a batch or to a search that takes long.
ScanState FindBatch(FoundBatch& batch) {
  batch.Clear();
  for (;;) {
    batch.AddCurrentMatch();
    const std::int64_t next = RegexTryNextMatch(RegexNumber, StepsWhileMatchesWait);
    if (next == 0) return ScanState::Ended;
    if (next < 0) return ScanState::SearchPending;
    if (batch.Matches() == MatchesPerBatch) return ScanState::MatchCurrent;
  }
}

// Keeps one text in variable and asks for its row.
void KeepText(StringVar& variable, std::u16string_view text, std::int64_t level,
              std::vector<UiTreeItem>& rows) {
  AssignStringRange(variable, text.data(), static_cast<std::int64_t>(text.size()));
  rows.push_back({variable, static_cast<std::int64_t>(text.size()), level});
}

// One match's record, with the rows for its texts appended to rows; false when memory ran
// out (the rows of what was stored are in rows then).
bool StoreMatch(const FoundBatch& batch, std::int64_t match, std::vector<UiTreeItem>& rows) {
  auto* record = static_cast<MatchRecord*>(ListInsert(State().resultList));
  if (!record) return false;
  std::int64_t text = 0;
  if (batch.KeepsMatches()) KeepText(record->m, batch.Text(match, text++), 0, rows);
  if (batch.GroupsKept() == 0) return true;
  RecordList* groups = MatchGroupList(*record);
  if (!groups) return false;
  for (std::int64_t group = 1; group <= batch.GroupsKept(); ++group) {
    auto* groupText = static_cast<StringVar*>(ListInsert(groups));
    if (!groupText) return false;
    const std::u16string_view found = batch.Text(match, text++);
    // An empty group row is a root row; non-empty ones hang under the last root row.
    KeepText(*groupText, found, found.empty() ? 0 : 1, rows);
  }
  return true;
}

// The batch's records and rows, stored together under the result list's lock so that a
// reader never sees one without the other. False when memory ran out.
bool StoreBatch(const FoundBatch& batch, std::vector<UiTreeItem>& rows) {
  ApplicationState& state = State();
  SharedChangeScope change;
  std::lock_guard guard(state.resultListLock);
  // Appending at the end whatever a reader's walk did to the cursor keeps match order.
  ListLast(state.resultList);
  rows.clear();
  bool stored = true;
  for (std::int64_t match = 0; stored && match < batch.Matches(); ++match) {
    stored = StoreMatch(batch, match, rows);
  }
  const auto count = static_cast<std::int64_t>(rows.size());
  return UiAddItems(ResultsTree, rows.data(), count) == count && stored;
}

}  // namespace

std::int64_t AddMatches(std::int64_t mode) {
  FoundBatch batch(mode, RegexGroupCount(RegexNumber));
  std::vector<UiTreeItem> rows;
  try {
    rows.reserve(static_cast<std::size_t>(MatchesPerBatch * batch.TextsPerMatch()));
  } catch (const std::bad_alloc&) {
    return RegexErrorNoMemory;
  }
  if (!batch.Reserve(MatchesPerBatch)) return RegexErrorNoMemory;
  std::int64_t sinceMemoryCheck = MatchesPerMemoryCheck;
  for (ScanState scan = ScanState::MatchCurrent; scan != ScanState::Ended;) {
    if (sinceMemoryCheck >= MatchesPerMemoryCheck) {
      if (!MemoryLeftForResults()) return RegexErrorNoMemory;
      sinceMemoryCheck = 0;
    }
    SharedChangeScope change;
    if (scan == ScanState::SearchPending && RegexNextMatch(RegexNumber) != 1) break;
    scan = FindBatch(batch);
    if (!StoreBatch(batch, rows)) return RegexErrorNoMemory;
    sinceMemoryCheck += batch.Matches();
  }
  return RegexLastError(RegexNumber);
}

}  // namespace evaluator
