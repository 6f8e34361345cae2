#include "found_batch.h"

#include <cstring>
#include <new>

#include "app/evaluator.h"
#include "evaluation_request.h"
#include "regex/regex.h"
#include "runtime/strings.h"
#include "worker.h"

namespace evaluator {
namespace {

bool ModeKeepsMatches(std::int64_t mode) { return mode == MatchesOnly || mode == MatchesAndGroups; }
bool ModeKeepsGroups(std::int64_t mode) { return mode == GroupsOnly || mode == MatchesAndGroups; }

}  // namespace

FoundBatch::FoundBatch(std::int64_t mode, std::int64_t groupCount)
    : keepsMatches_(ModeKeepsMatches(mode)),
      groupsKept_(ModeKeepsGroups(mode) ? groupCount : 0),
      ends_(static_cast<std::size_t>(TextsPerMatch())) {}

bool FoundBatch::Reserve(std::int64_t matches) {
  try {
    spans_.reserve(static_cast<std::size_t>(matches * TextsPerMatch()));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void FoundBatch::Clear() {
  base_ = TempPosition();
  spans_.clear();
  matches_ = 0;
}

void FoundBatch::AddCurrentMatch() {
  std::int64_t start = TempPosition();
  RegexCurrentTexts(RegexNumber, keepsMatches_, groupsKept_, start, ends_.data());
  for (const std::int64_t end : ends_) {
    spans_.push_back({start - base_, end - base_});
    start = end;
  }
  ++matches_;
}

bool FoundBatch::Seal() {
  const std::int64_t bytes = TempPosition() - base_;
  try {
    texts_.resize(static_cast<std::size_t>(bytes / 2));
  } catch (const std::bad_alloc&) {
    SetTempPosition(base_);
    return false;
  }
  std::memcpy(texts_.data(), TempAt(base_), static_cast<std::size_t>(bytes));
  SetTempPosition(base_);
  return true;
}

std::u16string_view FoundBatch::Text(std::int64_t match, std::int64_t text) const {
  const TextSpan span = spans_[static_cast<std::size_t>(match * TextsPerMatch() + text)];
  return std::u16string_view(texts_).substr(static_cast<std::size_t>(span.start / 2),
                                            static_cast<std::size_t>(span.end - span.start) / 2);
}

}  // namespace evaluator
