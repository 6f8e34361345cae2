#include "match_places.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "messages.h"

namespace evaluator {
namespace {

// memchr's vector search: std::count of a char is some ten times slower on a 40 MB input.
std::int64_t LineBreaks(const char* from, const char* to) {
  std::int64_t count = 0;
  while ((from = static_cast<const char*>(
              std::memchr(from, '\n', static_cast<std::size_t>(to - from))))) {
    ++count;
    ++from;
  }
  return count;
}

}  // namespace

void MatchPlaces::Begin(SharedUtf8 input, bool keepsMatches, std::int64_t groupsKept) {
  std::lock_guard guard(lock_);
  input_ = std::move(input);
  rowsPerMatch_ = (keepsMatches ? 1 : 0) + groupsKept;
  groups_ = groupsKept;
  std::vector<std::unique_ptr<std::uint8_t[]>>().swap(blocks_);
  std::vector<Checkpoint>().swap(checkpoints_);
  size_ = 0;
  lastStart_ = 0;
  count_ = 0;
}

void MatchPlaces::Clear() { Begin({}, false, 0); }

bool MatchPlaces::PutNibble(std::uint8_t nibble) {
  const std::int64_t byte = size_ / 2;
  if (byte == static_cast<std::int64_t>(blocks_.size()) * BlockBytes) {
    // Touched only as it fills: a small result takes a few pages of the block.
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow)
                                              std::uint8_t[static_cast<std::size_t>(BlockBytes)]);
    if (!block) return false;
    try {
      blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  std::uint8_t& pair = blocks_.back()[byte % BlockBytes];
  // The high half is written over as well: a match written in part leaves nibbles behind.
  pair = size_ % 2 == 0 ? nibble : static_cast<std::uint8_t>((pair & 0x0F) | (nibble << 4));
  ++size_;
  return true;
}

// Three bits a nibble, low bits first; the high bit says that more follow.
bool MatchPlaces::Put(std::uint64_t number) {
  do {
    if (!PutNibble(static_cast<std::uint8_t>((number & 0x7) | (number > 0x7 ? 0x8 : 0)))) {
      return false;
    }
    number >>= 3;
  } while (number != 0);
  return true;
}

bool MatchPlaces::Append(std::span<const std::int64_t> places) {
  std::lock_guard guard(lock_);
  if (rowsPerMatch_ == 0) return true;
  const std::int64_t perMatch = 2 * (groups_ + 1);
  const auto matches = static_cast<std::int64_t>(places.size()) / perMatch;
  for (std::int64_t match = 0; match < matches; ++match) {
    const std::int64_t* offsets = places.data() + match * perMatch;
    if (count_ % SegmentMatches == 0) {
      try {
        checkpoints_.push_back({size_, lastStart_});
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    const std::int64_t matchAt = size_;
    // Signed throughout: a start set by \K inside a lookahead may lie past the end, and
    // groups may nest or overlap.
    const std::int64_t start = offsets[0];
    bool stored = PutSigned(start - lastStart_) && PutSigned(offsets[1] - start);
    std::int64_t before = start;
    for (std::int64_t group = 1; stored && group <= groups_; ++group) {
      const std::int64_t groupStart = offsets[2 * group];
      // 0 for an unset group (-1, -1), which has no end to follow; else one more than the
      // signed difference's code.
      if (groupStart < 0) {
        stored = Put(0);
      } else {
        stored =
            Put(ZigZag(groupStart - before) + 1) && PutSigned(offsets[2 * group + 1] - groupStart);
        before = offsets[2 * group + 1];
      }
    }
    // A match written in part is not counted, and the next append writes over it.
    if (!stored) {
      size_ = matchAt;
      if (count_ % SegmentMatches == 0) checkpoints_.pop_back();
      return false;
    }
    lastStart_ = start;
    ++count_;
  }
  return true;
}

MatchPlaces::Reader::Reader(const MatchPlaces& places, std::int64_t match) : places_(places) {
  const Checkpoint& checkpoint =
      places.checkpoints_[static_cast<std::size_t>(match / SegmentMatches)];
  at_ = checkpoint.at;
  previousStart_ = checkpoint.previousStart;
}

std::uint64_t MatchPlaces::Reader::Number() {
  std::uint64_t number = 0;
  for (int shift = 0;; shift += 3) {
    const std::uint8_t nibble = places_.NibbleAt(at_++);
    number |= static_cast<std::uint64_t>(nibble & 0x7) << shift;
    if ((nibble & 0x8) == 0) return number;
  }
}

std::int64_t MatchPlaces::Reader::SignedNumber() { return UnZigZag(Number()); }

void MatchPlaces::Reader::Next(std::int64_t* places) {
  const std::int64_t start = previousStart_ + SignedNumber();
  previousStart_ = start;
  places[0] = start;
  places[1] = start + SignedNumber();
  std::int64_t before = start;
  for (std::int64_t group = 1; group <= places_.groups_; ++group) {
    const std::uint64_t code = Number();
    if (code == 0) {
      places[2 * group] = -1;
      places[2 * group + 1] = -1;
      continue;
    }
    const std::int64_t groupStart = before + UnZigZag(code - 1);
    places[2 * group] = groupStart;
    places[2 * group + 1] = groupStart + SignedNumber();
    before = places[2 * group + 1];
  }
}

std::int64_t MatchPlaces::Reader::NextStart() {
  const std::int64_t start = previousStart_ + SignedNumber();
  previousStart_ = start;
  Number();
  for (std::int64_t group = 1; group <= places_.groups_; ++group) {
    if (Number() != 0) Number();
  }
  return start;
}

std::int64_t MatchPlaces::StartOf(std::int64_t match) const {
  Reader reader(*this, match);
  for (std::int64_t skipped = match % SegmentMatches; skipped > 0; --skipped) reader.NextStart();
  return reader.NextStart();
}

std::vector<std::int64_t> MatchPlaces::PlacesOf(std::int64_t match) const {
  std::vector<std::int64_t> places;
  if (match < 0 || match >= count_) return places;
  places.resize(static_cast<std::size_t>(2 * (groups_ + 1)));
  Reader reader(*this, match);
  for (std::int64_t skipped = match % SegmentMatches; skipped > 0; --skipped) reader.NextStart();
  reader.Next(places.data());
  return places;
}

SharedUtf8 MatchPlaces::Input() const {
  std::lock_guard guard(lock_);
  return input_;
}

std::int64_t MatchPlaces::Count() const {
  std::lock_guard guard(lock_);
  return count_;
}

std::int64_t MatchPlaces::Bytes() const {
  std::lock_guard guard(lock_);
  return (size_ + 1) / 2 + static_cast<std::int64_t>(checkpoints_.size() * sizeof(Checkpoint));
}

std::int64_t MatchPlaces::MatchOfRow(std::int64_t row) const {
  std::lock_guard guard(lock_);
  if (rowsPerMatch_ == 0 || row < 0 || row / rowsPerMatch_ >= count_) return -1;
  return row / rowsPerMatch_;
}

std::int64_t MatchPlaces::FirstRowOf(std::int64_t match) const {
  std::lock_guard guard(lock_);
  return match >= 0 && match < count_ ? match * rowsPerMatch_ : -1;
}

std::vector<UiTextRange> MatchPlaces::Ranges(std::int64_t match) const {
  std::lock_guard guard(lock_);
  const std::vector<std::int64_t> places = PlacesOf(match);
  std::vector<UiTextRange> ranges;
  for (std::size_t at = 0; at < places.size(); at += 2)
    ranges.push_back({places[at], places[at + 1]});
  return ranges;
}

std::int64_t MatchPlaces::Covering(UiTextRange selection) const {
  std::lock_guard guard(lock_);
  // Matches follow each other through the input: their starts only grow.
  std::int64_t low = 0;
  std::int64_t high = count_;
  while (low < high) {
    const std::int64_t middle = low + (high - low) / 2;
    if (StartOf(middle) <= selection.start) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  const std::int64_t before = low - 1;  // the last match starting at or before the selection
  if (before >= 0) {
    const std::vector<std::int64_t> places = PlacesOf(before);
    const std::int64_t start = places[0];
    const std::int64_t end = places[1];
    if (end > selection.start || (start == end && start == selection.start)) return before;
  }
  if (low < count_ && StartOf(low) < selection.end) return low;
  return -1;
}

std::u16string PositionCounter::PositionText(const SharedUtf8& input, std::int64_t at) {
  const char* bytes = input.bytes.get();
  if (!bytes || at < 0 || at > input.length) return {};
  if (input_.bytes != input.bytes) {
    input_ = input;
    at_ = 0;
    line_ = 1;
  }
  const char* end = bytes + at;
  if (at >= at_) {
    line_ += LineBreaks(bytes + at_, end);
  } else {
    line_ -= LineBreaks(end, bytes + at_);
  }
  at_ = at;
  const std::int64_t line = line_;
  const char* lineStart =
      std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(bytes), '\n').base();
  // Characters are counted as the engine counts them: every byte that starts a sequence.
  const std::int64_t column =
      std::count_if(
          lineStart, end,
          [](char byte) { return !IsUtf8Continuation(static_cast<unsigned char>(byte)); }) +
      1;
  return u"line " + DecimalText(line) + u", column " + DecimalText(column) + u", byte " +
         DecimalText(at);
}

}  // namespace evaluator
