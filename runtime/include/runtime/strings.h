// UTF-16 strings. A string variable owns a block in the string heap or is null (the empty
// string). Expressions are built in the calling thread's StringBuffer, a growable temporary
// area addressed by byte positions; string results are written at a position the caller
// names (the last argument, "at") and the functions return base + at for convenience, a
// pointer that stays valid only until the area is next reserved.
//
// Application code normally uses the String class and TakeResult at the end of this file
// instead of juggling positions:
//
//   String seconds = TakeResult([&](std::int64_t at) { FormatReal(elapsed, 2, at); });
//   if (seconds == u"0.00") ...
#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

using StringVar = char16_t*;

void StringManagerInit();  // start-up: string heap, thread slot, the main thread's area
void StringManagerEnd();   // shut-down, on the thread that called StringManagerInit

// Buffer primitives, on the calling thread's area. Every one of them creates the area when
// the thread has none yet, so EnsureStringBuffer is an early, explicit form of that.
void EnsureStringBuffer();
std::int64_t TempPosition();
void SetTempPosition(std::int64_t position);
char16_t* TempAt(std::int64_t position);  // the area's start + position (bytes), as text
char16_t* ReserveTemp(std::int64_t length, std::int64_t at);
void AppendTemp(const char16_t* text);
void AppendTemp(std::u16string_view text);
void GiveBackTemp(std::int64_t units);
char16_t* ReturnEmptyTemp(std::int64_t at);
std::int64_t TempAreaCapacity();  // usable bytes of the calling thread's area

// Variables.
void AssignString(StringVar& variable, const char16_t* text);
void AssignStringRange(StringVar& variable, const char16_t* text, std::int64_t length);
std::int64_t AssignFromTemp(StringVar& variable, std::int64_t position);
void FreeString(char16_t* block);

// String functions.
std::int64_t StringLength(const char16_t* s);
std::int64_t ParseInteger(const char16_t* s);
// value in decimal, with a leading "-" when negative: at most MostDecimalUnits units, no
// terminator. The length written.
inline constexpr std::size_t MostDecimalUnits = 20;
std::size_t FormatDecimal(std::int64_t value, std::span<char16_t, MostDecimalUnits> out);
std::u16string DecimalText(std::int64_t value);
char16_t* FormatReal(double x, std::int64_t decimals, std::int64_t at);

// An owning string over one string-heap block: copyable, movable, never null to readers
// (data() of an empty String is a valid empty text).
class String {
 public:
  String() noexcept = default;
  String(const char16_t* text);  // NOLINT: converts like a literal does
  String(std::u16string_view text);
  String(const String& other);
  String(String&& other) noexcept;
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  ~String();

  // Takes the temporary text from position to the end of the area and drops it there.
  static String FromTemp(std::int64_t position);

  [[nodiscard]] const char16_t* data() const noexcept { return block_ ? block_ : u""; }
  [[nodiscard]] std::int64_t length() const noexcept { return length_; }
  [[nodiscard]] bool empty() const noexcept { return length_ == 0; }
  [[nodiscard]] std::u16string_view view() const noexcept {
    return {data(), static_cast<std::size_t>(length_)};
  }
  operator std::u16string_view() const noexcept { return view(); }  // NOLINT

  friend bool operator==(const String& a, std::u16string_view b) noexcept { return a.view() == b; }
  friend auto operator<=>(const String& a, std::u16string_view b) noexcept {
    return a.view() <=> b;
  }

 private:
  void Assign(const char16_t* text, std::int64_t length);

  StringVar block_ = nullptr;
  std::int64_t length_ = 0;
};

// Runs produce(at) with at = the current temporary position, then takes what it left in
// the area from there as a String; the area is back where it was afterwards.
template <class Produce>
requires std::invocable<Produce&, std::int64_t> String TakeResult(Produce&& produce) {
  EnsureStringBuffer();
  const std::int64_t at = TempPosition();
  produce(at);
  return String::FromTemp(at);
}
