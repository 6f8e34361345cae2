#include "temp_text.h"

#include <cstring>

#include "runtime/strings.h"

namespace xml_detail {

TempText::TempText(std::int64_t at, std::int64_t limit)
    : at_(at < 0 ? TempPosition() : at), limit_(limit) {
  Grow(1);
}

bool TempText::Grow(std::int64_t units) {
  if (failed_ || units > limit_ - written_) {
    failed_ = true;
    return false;
  }
  const std::int64_t wanted = std::max(units - (reserved_ - written_), reserved_ / 2);
  const std::int64_t step = (wanted + ReserveStep - 1) / ReserveStep * ReserveStep;
  ReserveTemp(step, reserved_ == 0 ? at_ : -1);
  reserved_ += step;
  base_ = reinterpret_cast<char16_t*>(TempAreaBase() + at_);
  return true;
}

void TempText::PutLong(const char16_t* text, std::int64_t units) {
  char16_t* out = Room(units);
  if (!out) return;
  std::memcpy(out, text, static_cast<std::size_t>(units) * sizeof(char16_t));
  written_ += units;
}

char16_t* TempText::Finish() {
  base_[written_] = 0;  // the area always keeps room for a terminator past its content
  GiveBackTemp(reserved_ - written_);
  return base_;
}

void TempText::Drop() { SetTempPosition(at_); }

}  // namespace xml_detail
