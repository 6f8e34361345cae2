// A batch of matches as the worker finds them: their texts, taken from the regex before
// any lock is held, ready to become records and rows elsewhere.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/strings.h"
#include "runtime/text_pool.h"

namespace evaluator {

// Matches found before their records and rows are stored, all under one take of the result
// list's and the tree's locks. The search itself runs with neither lock held, so a reader
// of the results never waits for a match call.
inline constexpr std::int64_t MatchesPerBatch = 1024;

// Each match of a batch has the same texts: its match text first when the process mode
// keeps it, then its group texts when the mode keeps those. Texts are produced in the
// finding thread's temporary area and each copied into the results' text pool when the
// batch is sealed, still on the finding thread: the thread that stores them then only takes
// them over, so the copies cost the finding thread, which waits for the store in a large
// result's last stretch. A batch is reused from one fill to the next.
class FoundBatch {
 public:
  FoundBatch(std::int64_t mode, std::int64_t groupCount);
  ~FoundBatch();
  FoundBatch(const FoundBatch&) = delete;
  FoundBatch& operator=(const FoundBatch&) = delete;

  // Room for matches matches, so that adding them never fails; false when memory ran out.
  bool Reserve(std::int64_t matches);

  bool KeepsMatches() const { return keepsMatches_; }
  std::int64_t GroupsKept() const { return groupsKept_; }
  std::int64_t TextsPerMatch() const { return (keepsMatches_ ? 1 : 0) + groupsKept_; }
  std::int64_t Matches() const { return matches_; }

  // Empties the batch for a new fill by the calling thread; texts not taken are freed.
  void Clear();
  // Takes the texts of the current match of the evaluation's regex.
  void AddCurrentMatch();
  // Copies the texts out of the temporary area into pool, which only this thread uses.
  void Seal(TextPool& pool);

  // Hands a text of one of the sealed batch's matches, counted in the order they were
  // added, over to the caller, who frees it from then on; its length in units goes to
  // length.
  StringVar TakeText(std::int64_t match, std::int64_t text, std::int64_t& length);

 private:
  void FreeTexts();

  struct TextSpan {
    std::int64_t start;  // bytes from the batch's start in the temporary area
    std::int64_t end;
  };

  const bool keepsMatches_;
  const std::int64_t groupsKept_;
  std::vector<std::int64_t> ends_;  // room for where each text of a match ends
  std::int64_t base_ = 0;  // where the fill started in the temporary area
  std::vector<TextSpan> spans_;
  std::vector<StringVar> texts_;  // one per span once sealed, null once taken
  std::int64_t matches_ = 0;
};

}  // namespace evaluator
