// The string functions: reading an integer, writing an integer and a real number.
#include "runtime/strings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "strings_area.h"

namespace {

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
  auto result =
      std::to_chars(text.data(), text.data() + text.size(), x, std::chars_format::fixed, decimals);
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

std::size_t FormatDecimal(std::int64_t value, std::span<char16_t, MostDecimalUnits> out) {
  std::array<char, MostDecimalUnits> digits;
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  const auto length = static_cast<std::size_t>(result.ptr - digits.data());
  std::copy(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(length), out.begin());
  return length;
}

std::u16string DecimalText(std::int64_t value) {
  std::array<char16_t, MostDecimalUnits> units;
  return std::u16string(units.data(), FormatDecimal(value, units));
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
