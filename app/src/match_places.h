// Where the matches of the result lie in their input, for the view that shows them there:
// the input itself (a share of the UTF-8 the scan searched, not a copy) and per match the
// byte offsets of the match and of the groups the tree shows. Offsets are kept as small
// differences (a match's start from the one before, its end from its start, a group's start
// from the end of the group before it or the match's start, its end from its start) in
// variable-length numbers of four-bit steps, in large flat blocks: a short match takes one
// or two bytes where two 32-bit words took eight, and a match with four short groups some
// seven bytes instead of forty. Every SegmentMatches matches a checkpoint says where
// decoding may start, so that finding one match decodes at most that many.
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
  // RegexTakeMatches gives them; false when memory ran out. Nothing is kept for a
  // result without rows.
  [[nodiscard]] bool Append(std::span<const std::int64_t> places);

  SharedUtf8 Input() const;
  std::int64_t Count() const;
  // What the places of all matches take: 0 for a result without rows.
  std::int64_t Bytes() const;
  // The match shown by tree row row and the first row of match; -1 for none.
  std::int64_t MatchOfRow(std::int64_t row) const;
  std::int64_t FirstRowOf(std::int64_t match) const;
  // The match, then its groups kept (an unset group as -1, -1); empty for an unknown match.
  std::vector<UiTextRange> Ranges(std::int64_t match) const;
  // The match that covers selection, else the first one it overlaps; -1 for none. An empty
  // selection (a click) finds the match it lies in.
  std::int64_t Covering(UiTextRange selection) const;

 private:
  static constexpr std::int64_t BlockBytes = std::int64_t{1} << 20;
  static constexpr std::int64_t SegmentMatches = 64;

  // Where a segment's encoding starts (in nibbles), and the start of the match before its first (0
  // for the first segment), from which its first start counts.
  struct Checkpoint {
    std::int64_t at;
    std::int64_t previousStart;
  };

  // Decodes matches one after the other from a checkpoint on.
  class Reader {
   public:
    Reader(const MatchPlaces& places, std::int64_t match);
    // The next match's offsets, 2 x (groups + 1) of them, into places.
    void Next(std::int64_t* places);
    // The next match's start, skipping the rest of it.
    std::int64_t NextStart();

   private:
    std::uint64_t Number();
    std::int64_t SignedNumber();
    const MatchPlaces& places_;
    std::int64_t at_;
    std::int64_t previousStart_;
  };

  bool Put(std::uint64_t number);
  bool PutSigned(std::int64_t number) { return Put(ZigZag(number)); }
  bool PutNibble(std::uint8_t nibble);
  // Small differences of either sign as small numbers: 0, -1, 1, -2 ... as 0, 1, 2, 3 ...
  static std::uint64_t ZigZag(std::int64_t number) {
    return (static_cast<std::uint64_t>(number) << 1) ^ static_cast<std::uint64_t>(number >> 63);
  }
  static std::int64_t UnZigZag(std::uint64_t code) {
    return static_cast<std::int64_t>(code >> 1) ^ -static_cast<std::int64_t>(code & 1);
  }
  std::uint8_t NibbleAt(std::int64_t at) const {
    const std::int64_t byte = at / 2;
    const std::uint8_t pair =
        blocks_[static_cast<std::size_t>(byte / BlockBytes)][byte % BlockBytes];
    return at % 2 == 0 ? pair & 0x0F : pair >> 4;
  }
  std::int64_t StartOf(std::int64_t match) const;
  // The match's offsets; empty for an unknown match.
  std::vector<std::int64_t> PlacesOf(std::int64_t match) const;

  mutable std::mutex lock_;  // guards what follows
  SharedUtf8 input_;
  std::int64_t rowsPerMatch_ = 0;
  std::int64_t groups_ = 0;
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::int64_t size_ = 0;  // nibbles written, two to a byte, the first in the low half
  std::vector<Checkpoint> checkpoints_;
  std::int64_t lastStart_ = 0;
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
