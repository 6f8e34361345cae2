#include "found_batch.h"

#include <new>
#include <utility>

#include "regex/regex.h"
#include "runtime/strings.h"

namespace evaluator {

FoundBatch::FoundBatch(EvaluationMode mode, std::int64_t groupCount, TextPool& texts)
    : keepsMatches_(ModeKeepsMatches(mode)),
      groupsKept_(ModeKeepsGroups(mode) ? groupCount : 0),
      pool_(texts) {}

FoundBatch::~FoundBatch() { FreeTexts(); }

bool FoundBatch::Reserve(std::int64_t matches) {
  try {
    texts_.reserve(static_cast<std::size_t>(matches * TextsPerMatch()));
    places_.resize(static_cast<std::size_t>(matches * PlacesPerMatch()));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void FoundBatch::FreeTexts() {
  for (Text& text : texts_) {
    if (text.value) FreeString(text.value);
  }
  texts_.clear();
}

void FoundBatch::Clear() {
  FreeTexts();
  matches_ = 0;
  textUnits_ = 0;
}

void FoundBatch::KeepText(void* batch, const char* bytes, std::int64_t length) {
  auto& self = *static_cast<FoundBatch*>(batch);
  // Within the capacity reserved for a full batch: never reallocates.
  Text& text = self.texts_.emplace_back(Text{nullptr, 0});
  text.length = self.pool_.AssignUtf8(text.value, bytes, length);
  self.textUnits_ += text.length;
}

std::int64_t FoundBatch::AddMatches(ObjectNumber regex, std::int64_t most, std::int64_t steps) {
  std::int64_t taken = 0;
  // Within the room reserved for a full batch.
  const std::int64_t next =
      RegexTakeMatches(regex, keepsMatches_, groupsKept_, KeepText, this, most - matches_, steps,
                       taken, places_.data() + matches_ * PlacesPerMatch());
  matches_ += taken;
  return next;
}

StringVar FoundBatch::TakeText(std::int64_t match, std::int64_t text, std::int64_t& length) {
  Text& taken = texts_[static_cast<std::size_t>(match * TextsPerMatch() + text)];
  length = taken.length;
  return std::exchange(taken.value, nullptr);
}

}  // namespace evaluator
