#include "found_batch.h"

#include <new>
#include <utility>

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

FoundBatch::~FoundBatch() { FreeTexts(); }

bool FoundBatch::Reserve(std::int64_t matches) {
  try {
    spans_.reserve(static_cast<std::size_t>(matches * TextsPerMatch()));
    texts_.reserve(spans_.capacity());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void FoundBatch::FreeTexts() {
  for (StringVar& text : texts_) {
    if (text) FreeString(text);
  }
  texts_.clear();
}

void FoundBatch::Clear() {
  FreeTexts();
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

void FoundBatch::Seal(TextPool& pool) {
  const char16_t* area = TempAt(base_);
  // Within the capacity reserved for a full batch: never reallocates.
  texts_.resize(spans_.size(), nullptr);
  for (std::size_t i = 0; i < spans_.size(); ++i) {
    pool.Assign(texts_[i], area + spans_[i].start / 2, (spans_[i].end - spans_[i].start) / 2);
  }
  SetTempPosition(base_);
}

StringVar FoundBatch::TakeText(std::int64_t match, std::int64_t text, std::int64_t& length) {
  const auto index = static_cast<std::size_t>(match * TextsPerMatch() + text);
  length = (spans_[index].end - spans_[index].start) / 2;
  return std::exchange(texts_[index], nullptr);
}

}  // namespace evaluator
