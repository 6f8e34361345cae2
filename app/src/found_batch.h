// A batch of matches as the worker finds them: their texts, taken from the regex before
// any lock is held, ready to become records and rows elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace evaluator {

// Matches found before their records and rows are stored, all under one take of the result
// list's and the tree's locks. The search itself runs with neither lock held, so a reader
// of the results never waits for a match call.
inline constexpr std::int64_t MatchesPerBatch = 1024;

// Each match of a batch has the same texts: its match text first when the process mode
// keeps it, then its group texts when the mode keeps those. Texts are produced in the
// finding thread's temporary area and copied out in one piece when the batch is sealed,
// so that another thread can store them; a batch is reused from one fill to the next.
class FoundBatch {
 public:
  FoundBatch(std::int64_t mode, std::int64_t groupCount);
  FoundBatch(const FoundBatch&) = delete;
  FoundBatch& operator=(const FoundBatch&) = delete;

  // Room for matches matches, so that adding them never fails; false when memory ran out.
  bool Reserve(std::int64_t matches);

  bool KeepsMatches() const { return keepsMatches_; }
  std::int64_t GroupsKept() const { return groupsKept_; }
  std::int64_t TextsPerMatch() const { return (keepsMatches_ ? 1 : 0) + groupsKept_; }
  std::int64_t Matches() const { return matches_; }

  // Empties the batch for a new fill by the calling thread.
  void Clear();
  // Takes the texts of the current match of the evaluation's regex.
  void AddCurrentMatch();
  // Moves the texts out of the temporary area; false when memory ran out.
  bool Seal();

  // A text of one of the sealed batch's matches, counted in the order they were added.
  std::u16string_view Text(std::int64_t match, std::int64_t text) const;

 private:
  struct TextSpan {
    std::int64_t start;  // bytes from the batch's start in the temporary area
    std::int64_t end;
  };

  const bool keepsMatches_;
  const std::int64_t groupsKept_;
  std::vector<std::int64_t> ends_;  // room for where each text of a match ends
  std::int64_t base_ = 0;  // where the fill started in the temporary area
  std::vector<TextSpan> spans_;
  std::u16string texts_;
  std::int64_t matches_ = 0;
};

}  // namespace evaluator
