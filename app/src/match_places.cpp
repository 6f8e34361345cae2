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
  while ((from = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(to - from))))) {
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
  wordsPerMatch_ = 2 * (groupsKept + 1);
  matchesPerBlock_ = std::max<std::int64_t>(1, BlockWords / wordsPerMatch_);
  blocks_.clear();
  count_ = 0;
}

void MatchPlaces::Clear() { Begin({}, false, 0); }

bool MatchPlaces::Append(std::span<const std::int64_t> places) {
  std::lock_guard guard(lock_);
  if (rowsPerMatch_ == 0) return true;
  const auto matches = static_cast<std::int64_t>(places.size()) / wordsPerMatch_;
  for (std::int64_t match = 0; match < matches; ++match, ++count_) {
    const std::int64_t inBlock = count_ % matchesPerBlock_;
    if (inBlock == 0 && count_ / matchesPerBlock_ == static_cast<std::int64_t>(blocks_.size())) {
      // Touched only as it fills: a small result takes a few pages of the block.
      std::unique_ptr<std::uint32_t[]> block(
          new (std::nothrow) std::uint32_t[static_cast<std::size_t>(matchesPerBlock_ * wordsPerMatch_)]);
      if (!block) return false;
      try {
        blocks_.push_back(std::move(block));
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    // Offsets fit 32 bits, as the engine's subjects do; an unset group's -1 wraps and back.
    std::copy_n(places.data() + match * wordsPerMatch_, wordsPerMatch_,
                blocks_.back().get() + inBlock * wordsPerMatch_);
  }
  return true;
}

std::int64_t MatchPlaces::Word(std::int64_t match, std::int64_t word) const {
  const std::uint32_t value = blocks_[static_cast<std::size_t>(match / matchesPerBlock_)]
                                     [(match % matchesPerBlock_) * wordsPerMatch_ + word];
  return static_cast<std::int32_t>(value);
}

SharedUtf8 MatchPlaces::Input() const {
  std::lock_guard guard(lock_);
  return input_;
}

std::int64_t MatchPlaces::Count() const {
  std::lock_guard guard(lock_);
  return count_;
}

std::int64_t MatchPlaces::BytesPerMatch() const {
  std::lock_guard guard(lock_);
  return rowsPerMatch_ == 0 ? 0 : wordsPerMatch_ * static_cast<std::int64_t>(sizeof(std::uint32_t));
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
  std::vector<UiTextRange> ranges;
  if (match < 0 || match >= count_) return ranges;
  for (std::int64_t word = 0; word < wordsPerMatch_; word += 2) {
    ranges.push_back({Word(match, word), Word(match, word + 1)});
  }
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
    const std::int64_t start = StartOf(before);
    const std::int64_t end = EndOf(before);
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
  const char* lineStart = std::find(std::make_reverse_iterator(end),
                                    std::make_reverse_iterator(bytes), '\n')
                              .base();
  // Characters are counted as the engine counts them: every byte that starts a sequence.
  const std::int64_t column =
      std::count_if(lineStart, end, [](char byte) {
        return !IsUtf8Continuation(static_cast<unsigned char>(byte));
      }) + 1;
  return u"line " + DecimalText(line) + u", column " + DecimalText(column) + u", byte " +
         DecimalText(at);
}

}  // namespace evaluator
