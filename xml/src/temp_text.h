// A text built at the end of the calling thread's string buffer: room is reserved in whole
// steps of 2,048 characters, and by at least half of what is reserved already, since the
// area is reallocated as it grows and a fixed step would copy a long text over and over.
// Positions are kept rather than pointers, so a move of the area loses nothing; nothing
// else may use the area until the text is finished or dropped.
#pragma once

#include <algorithm>
#include <cstdint>

namespace xml_detail {

class TempText {
 public:
  static constexpr std::int64_t ReserveStep = 2048;  // characters

  // Starts the text at byte position at of the area; it may not grow beyond limit units.
  TempText(std::int64_t at, std::int64_t limit);
  TempText(const TempText&) = delete;
  TempText& operator=(const TempText&) = delete;

  // Room for units more characters at the end of the text, or null when the text would pass
  // its limit (it then stays failed).
  char16_t* Room(std::int64_t units) {
    if (reserved_ - written_ < units && !Grow(units)) return nullptr;
    return base_ + written_;
  }

  // Short pieces (tags, escapes, line breaks) are copied inline, longer ones by memcpy.
  void Put(const char16_t* text, std::int64_t units) {
    if (units > 8) return PutLong(text, units);
    char16_t* out = Room(units);
    if (!out) return;
    for (std::int64_t i = 0; i < units; ++i) out[i] = text[i];
    written_ += units;
  }

  void Fill(char16_t unit, std::int64_t units) {
    if (units <= 0) return;
    char16_t* out = Room(units);
    if (!out) return;
    std::fill_n(out, units, unit);
    written_ += units;
  }

  // Takes back the last units characters written.
  void Drop(std::int64_t units) { written_ -= std::clamp<std::int64_t>(units, 0, written_); }

  std::int64_t Written() const { return written_; }
  bool Failed() const { return failed_; }
  const char16_t* Text() const { return base_; }

  // Terminates the text where it ends and gives the unused room back; returns the text,
  // which stays in the area as a string result at the starting position.
  char16_t* Finish();
  // Gives everything back; the area ends at the starting position again.
  void Drop();

 private:
  bool Grow(std::int64_t units);
  void PutLong(const char16_t* text, std::int64_t units);

  const std::int64_t at_;
  const std::int64_t limit_;
  char16_t* base_ = nullptr;
  std::int64_t written_ = 0;
  std::int64_t reserved_ = 0;
  bool failed_ = false;
};

}  // namespace xml_detail
