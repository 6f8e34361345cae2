#include "scan_loop.h"

#include <algorithm>
#include <memory>

#include "app/evaluator.h"
#include "found_batch.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "status_line.h"
#include "store_thread.h"

namespace evaluator {
namespace {

// Below this the scan stops rather than have the system, or the memory limit of the
// process's control group, end the program.
constexpr std::int64_t LeastMemoryForResults = std::int64_t{64} << 20;
// What a stored text takes at the most besides its characters: its record or group-list
// slot, its tree row, its place and its share of a list header.
constexpr std::int64_t BytesPerTextBesidesCharacters = 128;
// Result memory stored between two looks at the memory left, which reads a few files of
// the kernel's: an eighth of the margin, so that the scan stops well inside it. The first
// look comes after the first batch, so a scan whose input was let in keeps that much.
constexpr std::int64_t BytesPerMemoryCheck = LeastMemoryForResults / 8;
// Match work that a search may take while found matches wait for it to be handed over: a
// search that takes longer lets the batch go first and is then done again in full, so a
// long search never holds back the matches found before it.
constexpr std::int64_t StepsWhileMatchesWait = 250'000;

bool MemoryLeftForResults() {
  const std::int64_t available = AvailableSystemMemory();
  return available < 0 || available >= LeastMemoryForResults;
}

// A scan that finds few matches in the text it goes through spends its time in the engine,
// and a helper searching the far part of what is left shortens it; one that finds many is
// held up by storing them, which a third busy thread would only slow down. The worker
// decides once it has gone through this much text. Its own part is the larger one: taking
// every match's texts and the helper's findings costs it less than the search it leaves
// to the helper (on the IP-address pattern a split at 55 % beat one at 40 % or 67 %).
constexpr std::int64_t CharactersBeforeSearchAhead = std::int64_t{1} << 18;
constexpr std::int64_t MostMatchesPerMillionToSearchAhead = 50'000;
constexpr double SearchAheadFrom = 0.55;

// What the scan has seen, for deciding on a helper: the matches found and the character
// position of the last one; decided once the decision is made.
struct ScanSoFar {
  std::int64_t found = 0;
  std::int64_t lastPosition = 0;
  bool decided = false;
};

// Once the scan has gone far enough: starts the helper when the scan so far asks for one.
void DecideOnSearchAhead(ObjectNumber regex, ScanSoFar& scan) {
  if (scan.decided || scan.lastPosition < CharactersBeforeSearchAhead) return;
  scan.decided = true;
  if (scan.found * 1'000'000 / scan.lastPosition > MostMatchesPerMillionToSearchAhead) return;
  // Inside a change, so that a StopWorker that stops the worker meanwhile finds the
  // helper's id once the worker is stopped, and stops it too.
  SharedChangeScope change;
  State().searchThread.store(RegexSearchAhead(regex, SearchAheadFrom));
}

enum class ScanState { MatchCurrent, SearchPending, Ended };

// Fills batch from the current match on (after the search left pending before), up to a
// batch or to a search that takes long. A stop ends the worker within one match, as a
// match call is interrupted at once and the next one is not started.
ScanState FindBatch(ObjectNumber regex, FoundBatch& batch, ScanState scan, ScanSoFar& soFar) {
  SharedChangeScope change;  // pays the stop check once per batch
  batch.Clear();
  if (scan == ScanState::SearchPending && RegexNextMatch(regex) != 1) return ScanState::Ended;
  const std::int64_t next = batch.AddMatches(regex, MatchesPerBatch, StepsWhileMatchesWait);
  soFar.found += batch.Matches();
  // The match after the batch stands for its last one. Counted on from the one before:
  // the positions cost one pass over the text.
  if (!soFar.decided && next == 1) soFar.lastPosition = RegexMatchPosition(regex);
  if (next == 0) return ScanState::Ended;
  return next < 0 ? ScanState::SearchPending : ScanState::MatchCurrent;
}

// Tells the store that the worker is gone, however it leaves.
class AbandonAtExit {
 public:
  explicit AbandonAtExit(ResultStore& store) : store_(store) {}
  ~AbandonAtExit() { store_.Abandon(); }
  AbandonAtExit(const AbandonAtExit&) = delete;
  AbandonAtExit& operator=(const AbandonAtExit&) = delete;

 private:
  ResultStore& store_;
};

}  // namespace

std::int64_t ScanAllMatches(ObjectNumber regex, EvaluationMode mode) {
  const std::int64_t groupCount = RegexGroupCount(regex);
  State().matchPlaces.Begin(RegexSubject(regex), ModeKeepsMatches(mode),
                            ModeKeepsGroups(mode) ? groupCount : 0);
  const std::shared_ptr<ResultStore> store = ResultStore::Start(mode, groupCount);
  if (!store) return RegexErrorNoMemory;
  const AbandonAtExit abandon(*store);
  std::int64_t sinceMemoryCheck = 0;
  bool memoryLookedAt = false;
  ScanSoFar soFar;
  bool memoryShort = false;
  for (ScanState scan = ScanState::MatchCurrent; scan != ScanState::Ended && !memoryShort;) {
    if (sinceMemoryCheck >= (memoryLookedAt ? BytesPerMemoryCheck : 1)) {
      memoryShort = !MemoryLeftForResults();
      memoryLookedAt = true;
      sinceMemoryCheck = 0;
    }
    FoundBatch* batch = memoryShort ? nullptr : store->EmptyBatch();
    if (!batch) break;
    scan = FindBatch(regex, *batch, scan, soFar);
    Progress().matches.store(soFar.found, std::memory_order_relaxed);
    // Counted before the hand-over: from then on the batch is the store thread's.
    sinceMemoryCheck += batch->Matches() * std::max<std::int64_t>(1, batch->TextsPerMatch()) *
                            BytesPerTextBesidesCharacters +
                        2 * batch->TextUnits();
    store->HandOver(batch);
    if (scan != ScanState::Ended) DecideOnSearchAhead(regex, soFar);
  }
  // A store that ran out of memory gives no batch back, which also ends the loop.
  const bool stored = store->Finish();
  return stored && !memoryShort ? RegexLastError(regex) : RegexErrorNoMemory;
}

}  // namespace evaluator
