// A batch of matches as the scan loop finds them: their texts, taken from the regex before
// any lock is held, ready to become records and rows in the store thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "evaluation.h"
#include "runtime/object_registry.h"
#include "runtime/strings.h"
#include "runtime/text_pool.h"

namespace evaluator {

// Matches found before their records and rows are stored, all under one take of the result
// list's and the tree's locks. The search itself runs with neither lock held, so a reader
// of the results never waits for a match call.
inline constexpr std::int64_t MatchesPerBatch = 1024;

// Each match of a batch has the same texts: its match text first when the process mode
// keeps it, then its group texts when the mode keeps those. The finding thread decodes each
// text from the subject's UTF-8 straight into the results' text pool as it adds a match, so
// the thread that stores the batch only takes the texts over: in a large result's last
// stretch the store is the slower of the two. A batch is reused from one fill to the next.
class FoundBatch {
 public:
  // texts is the pool the batch's texts go to; only the finding thread uses it.
  FoundBatch(EvaluationMode mode, std::int64_t groupCount, TextPool& texts);
  ~FoundBatch();
  FoundBatch(const FoundBatch&) = delete;
  FoundBatch& operator=(const FoundBatch&) = delete;

  // Room for matches matches, so that adding them never fails; false when memory ran out.
  [[nodiscard]] bool Reserve(std::int64_t matches);

  [[nodiscard]] bool KeepsMatches() const { return keepsMatches_; }
  [[nodiscard]] std::int64_t GroupsKept() const { return groupsKept_; }
  [[nodiscard]] std::int64_t TextsPerMatch() const { return (keepsMatches_ ? 1 : 0) + groupsKept_; }
  [[nodiscard]] std::int64_t Matches() const { return matches_; }
  // The UTF-16 units of all the texts the batch took.
  [[nodiscard]] std::int64_t TextUnits() const { return textUnits_; }
  // Where the matches lie: per match the byte offsets of the match and of each group kept
  // (see MatchPlaces::Append).
  [[nodiscard]] std::int64_t PlacesPerMatch() const { return 2 * (groupsKept_ + 1); }
  [[nodiscard]] std::span<const std::int64_t> Places() const {
    return {places_.data(), static_cast<std::size_t>(matches_ * PlacesPerMatch())};
  }

  // Empties the batch for a new fill by the calling thread; texts not taken are freed.
  void Clear();
  // Takes the texts of the current match of regex and searches on, match
  // after match, until the batch holds most or a search gives 0 or -1 (see
  // RegexTakeMatches, with steps); that search's result.
  [[nodiscard]] std::int64_t AddMatches(ObjectNumber regex, std::int64_t most, std::int64_t steps);

  // Hands a text of one of the batch's matches, counted in the order they were added, over
  // to the caller, who frees it from then on; its length in units goes to length.
  StringVar TakeText(std::int64_t match, std::int64_t text, std::int64_t& length);

 private:
  static void KeepText(void* batch, const char* bytes, std::int64_t length);
  void FreeTexts();

  struct Text {
    StringVar value;  // null once taken
    std::int64_t length;
  };

  const bool keepsMatches_;
  const std::int64_t groupsKept_;
  TextPool& pool_;
  std::vector<Text> texts_;
  std::vector<std::int64_t> places_;
  std::int64_t matches_ = 0;
  std::int64_t textUnits_ = 0;
};

}  // namespace evaluator
