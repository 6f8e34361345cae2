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
    : keepsMatches_(ModeKeepsMatches(mode)), groupsKept_(ModeKeepsGroups(mode) ? groupCount : 0) {}

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

template <typename Produce>
void FoundBatch::AddText(Produce produce) {
  const std::int64_t at = TempPosition();
  produce(at);
  spans_.push_back({at - base_, TempPosition() - base_});
}

void FoundBatch::AddCurrentMatch() {
  if (keepsMatches_) AddText([](std::int64_t at) { RegexMatchText(RegexNumber, at); });
  for (std::int64_t group = 1; group <= groupsKept_; ++group) {
    AddText([group](std::int64_t at) { RegexGroupText(RegexNumber, group, at); });
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
