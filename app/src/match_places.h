// Where the matches of the result lie in their input, for the view that shows them there:
// the input itself (a share of the UTF-8 the scan searched, not a copy) and per match the
// byte offsets of the match and of the groups the tree shows, as 32-bit words in large
// flat blocks: no object per match, 8 bytes a match and 8 more per group kept.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "runtime/text_encoding.h"
#include "ui/ui.h"

namespace evaluator {

class MatchPlaces {
 public:
  // On the worker, before its first match: the input the offsets count in, and the rows a
  // match has in the tree (its match row when keepsMatches, then one per group kept).
  void Begin(SharedUtf8 input, bool keepsMatches, std::int64_t groupsKept);
  // On the UI thread, before an evaluation: forgets the input and the places.
  void Clear();
  // Appends the places of whole matches, 2 x (groupsKept + 1) offsets each as
  // RegexTakeCurrentTexts gives them; false when memory ran out. Nothing is kept for a
  // result without rows.
  [[nodiscard]] bool Append(std::span<const std::int64_t> places);

  SharedUtf8 Input() const;
  std::int64_t Count() const;
  // What one match's places take: 0 for a result without rows.
  std::int64_t BytesPerMatch() const;
  // The match shown by tree row row and the first row of match; -1 for none.
  std::int64_t MatchOfRow(std::int64_t row) const;
  std::int64_t FirstRowOf(std::int64_t match) const;
  // The match, then its groups kept (an unset group as -1, -1); empty for an unknown match.
  std::vector<UiTextRange> Ranges(std::int64_t match) const;
  // The match that covers selection, else the first one it overlaps; -1 for none. An empty
  // selection (a click) finds the match it lies in.
  std::int64_t Covering(UiTextRange selection) const;

 private:
  static constexpr std::int64_t BlockWords = std::int64_t{1} << 20;

  std::int64_t StartOf(std::int64_t match) const { return Word(match, 0); }
  std::int64_t EndOf(std::int64_t match) const { return Word(match, 1); }
  std::int64_t Word(std::int64_t match, std::int64_t word) const;

  mutable std::mutex lock_;  // guards what follows
  SharedUtf8 input_;
  std::int64_t rowsPerMatch_ = 0;
  std::int64_t wordsPerMatch_ = 2;
  std::int64_t matchesPerBlock_ = BlockWords / 2;
  std::vector<std::unique_ptr<std::uint32_t[]>> blocks_;
  std::int64_t count_ = 0;
};

// "line L, column C, byte B" for byte offsets of an input: line and column in characters
// counted from 1, the byte offset from 0. Lines are counted on from the last answer, so
// that moving from one match to a near one never counts through the whole input again.
class PositionCounter {
 public:
  std::u16string PositionText(const SharedUtf8& input, std::int64_t at);

 private:
  SharedUtf8 input_;  // held, so that the counted lines stay those of this input
  std::int64_t at_ = 0;
  std::int64_t line_ = 1;
};

}  // namespace evaluator
