// The string functions. Every source text may itself be a temporary in the calling
// thread's area (the result of a nested call), so sources are only read through
// ReserveKeeping / WriteResult, which keep them valid across the reservation.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/strings.h"
#include "strings_area.h"

using strings_detail::ReserveKeeping;
using strings_detail::WriteResult;

namespace {

bool MatchesAt(const char16_t* s, std::int64_t remaining, const char16_t* needle,
               std::int64_t needleLength) {
  return remaining >= needleLength &&
         std::u16string_view(s, static_cast<std::size_t>(needleLength)) ==
             std::u16string_view(needle, static_cast<std::size_t>(needleLength));
}

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 99;
}

constexpr std::int64_t RealReservation = 1024;
constexpr int MaximumDecimals = 512;
constexpr int DefaultDecimals = 10;

using RealText = std::array<char, 1100>;

// Fixed notation without locale: the C library's "%f" would follow LC_NUMERIC, which a
// desktop session may set to a decimal comma.
std::size_t FixedText(double x, int decimals, RealText& text) {
  auto result = std::to_chars(text.data(), text.data() + text.size(), x,
                              std::chars_format::fixed, decimals);
  return static_cast<std::size_t>(result.ptr - text.data());
}

std::size_t StripTrailingZeros(const RealText& text, std::size_t length) {
  std::string_view view(text.data(), length);
  if (view.find('.') == std::string_view::npos) return length;
  while (length > 0 && text[length - 1] == '0') --length;
  if (length > 0 && text[length - 1] == '.') --length;
  return length;
}

// A value that rounds to zero is zero: no "-0" or "-0.00".
std::size_t DropSignOfZero(RealText& text, std::size_t length) {
  if (length == 0 || text[0] != '-') return length;
  std::string_view digits(text.data() + 1, length - 1);
  if (digits.find_first_not_of("0.") != std::string_view::npos) return length;
  std::copy(text.begin() + 1, text.begin() + static_cast<std::ptrdiff_t>(length), text.begin());
  return length - 1;
}

std::size_t RealToText(double x, std::int64_t decimals, RealText& text) {
  if (std::isnan(x)) return std::string_view("NaN").copy(text.data(), 3);
  if (std::isinf(x)) {
    std::string_view word = x > 0 ? "+Infinity" : "-Infinity";
    return word.copy(text.data(), word.size());
  }
  if (x == 0) x = 0.0;
  if (decimals == -1) {
    std::size_t length = StripTrailingZeros(text, FixedText(x, DefaultDecimals, text));
    return DropSignOfZero(text, length);
  }
  int places = static_cast<int>(std::clamp<std::int64_t>(decimals, 0, MaximumDecimals));
  return DropSignOfZero(text, FixedText(x, places, text));
}

}  // namespace

char16_t* LeftChars(const char16_t* s, std::int64_t n, std::int64_t at) {
  return WriteResult(s, std::clamp<std::int64_t>(n, 0, StringLength(s)), at);
}

char16_t* MidChars(const char16_t* s, std::int64_t start, std::int64_t n, std::int64_t at) {
  const std::int64_t length = StringLength(s);
  start = std::max<std::int64_t>(start, 1);
  n = std::max<std::int64_t>(n, 0);
  if (start > length) return ReturnEmptyTemp(at);
  return WriteResult(s + (start - 1), std::min(n, length - start + 1), at);
}

char16_t* MidToEnd(const char16_t* s, std::int64_t start, std::int64_t at) {
  if (!s) return ReturnEmptyTemp(at);
  start = std::max<std::int64_t>(start, 1);
  return MidChars(s, start, StringLength(s) - start + 1, at);
}

char16_t* PadLeftTo(const char16_t* s, std::int64_t n, const char16_t* pad, std::int64_t at) {
  n = std::max<std::int64_t>(n, 0);
  if (!pad || !*pad) return ReturnEmptyTemp(at);
  const char16_t padUnit = *pad;
  const std::int64_t kept = std::min(n, StringLength(s));
  const std::int64_t padding = n - kept;
  char16_t* result = ReserveKeeping(n, at, s, kept);
  // The result often starts where s starts: move the kept units right before padding.
  if (kept > 0) std::memmove(result + padding, s, static_cast<std::size_t>(kept) * 2);
  std::fill(result, result + padding, padUnit);
  result[n] = 0;
  return result;
}

std::int64_t CountOccurrences(const char16_t* s, const char16_t* needle) {
  const std::int64_t length = StringLength(s);
  const std::int64_t needleLength = StringLength(needle);
  if (length == 0 || needleLength == 0) return 0;
  std::int64_t count = 0;
  for (std::int64_t i = 0; i < length;) {
    if (s[i] == needle[0] && MatchesAt(s + i, length - i, needle, needleLength)) {
      ++count;
      i += needleLength;
    } else {
      ++i;
    }
  }
  return count;
}

char16_t* FieldAt(const char16_t* s, std::int64_t index, const char16_t* delimiter,
                  std::int64_t at) {
  if (index < 1) return ReturnEmptyTemp(at);
  const std::int64_t length = StringLength(s);
  const std::int64_t delimiterLength = StringLength(delimiter);
  std::int64_t field = 1;
  std::int64_t fieldStart = 0;
  for (std::int64_t i = 0; i <= length; ++i) {
    const bool atEnd = i == length;
    const bool atDelimiter =
        !atEnd && delimiterLength > 0 && MatchesAt(s + i, length - i, delimiter, delimiterLength);
    if (!atEnd && !atDelimiter) continue;
    if (field == index) return WriteResult(s + fieldStart, i - fieldStart, at);
    if (atEnd) break;
    ++field;
    fieldStart = i + delimiterLength;
    i = fieldStart - 1;
  }
  return ReturnEmptyTemp(at);
}

std::int64_t ParseInteger(const char16_t* s) {
  if (!s) return 0;
  while (*s == u' ' || *s == u'\t') ++s;
  const bool negative = *s == u'-';
  if (*s == u'-' || *s == u'+') ++s;
  int base = 10;
  if (*s == u'$') {
    base = 16;
    ++s;
  } else if (*s == u'%') {
    base = 2;
    ++s;
  }
  std::uint64_t value = 0;  // unsigned, so that overflow wraps as documented
  for (; DigitValue(*s) < base; ++s) {
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(DigitValue(*s));
  }
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

char16_t* StringFromMemory(const char16_t* pointer, std::int64_t at) {
  return WriteResult(pointer, StringLength(pointer), at);
}

char16_t* FormatReal(double x, std::int64_t decimals, std::int64_t at) {
  RealText text;
  const std::size_t length = RealToText(x, decimals, text);
  char16_t* result = ReserveTemp(RealReservation, at);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length), result);
  result[length] = 0;
  GiveBackTemp(RealReservation - static_cast<std::int64_t>(length));
  return result;
}
