// Conversions between the system's UTF-16 strings and the byte encodings of files and of
// the pattern engine: UTF-8, and the ANSI code page, which is ISO-8859-1 here (one byte per
// character U+0000 to U+00FF).
//
// Every conversion is one pass over its input and reads nothing past (pointer, length).
// Invalid input is never dropped silently:
// - UTF-16 -> UTF-8: an unpaired surrogate becomes U+FFFD;
// - UTF-8 -> UTF-16: each invalid or incomplete sequence (its longest valid-looking
//   prefix, so the byte that broke it starts the next character) becomes U+FFFD; overlong
//   forms, encoded surrogates and values above U+10FFFF count as invalid;
//
// The raw forms write into caller storage of the documented worst-case size, so that a
// caller can convert a range of a larger buffer without copying it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The unit rules of the two encodings, the one set every library uses.
constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
constexpr bool IsUtf8Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
// The bytes a UTF-8 sequence takes by the form of its lead byte (2 to 4); 0 for an ASCII
// byte and for one that can't lead (a continuation, F8-FF). It says nothing about the bytes
// that follow: the decoder checks those, with the narrower ranges valid UTF-8 allows.
constexpr int Utf8LengthAnnounced(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// What a lead byte promises: the number of continuation bytes and the range allowed for
// the first of them (the narrower ranges exclude overlong forms, surrogates and values
// above U+10FFFF), with the value bits the lead carries. continuations 0 marks a byte that
// can't start a sequence.
struct Utf8LeadRule {
  int continuations;
  unsigned char low;
  unsigned char high;
  char32_t bits;
};

constexpr Utf8LeadRule Utf8RuleFor(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF, char32_t{lead} & 0x1F};
  if (lead == 0xE0) return {2, 0xA0, 0xBF, 0};
  if (lead == 0xED) return {2, 0x80, 0x9F, 0xD};
  if (lead >= 0xE1 && lead <= 0xEF) return {2, 0x80, 0xBF, char32_t{lead} & 0x0F};
  if (lead == 0xF0) return {3, 0x90, 0xBF, 0};
  if (lead >= 0xF1 && lead <= 0xF3) return {3, 0x80, 0xBF, char32_t{lead} & 0x07};
  if (lead == 0xF4) return {3, 0x80, 0x8F, 4};
  return {0, 0, 0, 0};
}

// Worst-case output sizes of the raw forms.
constexpr std::size_t MaxUtf8BytesFor(std::size_t utf16Units) { return 3 * utf16Units; }
constexpr std::size_t MaxUtf16UnitsFor(std::size_t utf8Bytes) { return utf8Bytes; }

// Raw forms: return the number of bytes or units written; no terminator is written.
std::size_t EncodeUtf8(const char16_t* text, std::size_t length, char* out);
std::size_t DecodeUtf8(const char* bytes, std::size_t length, char16_t* out);
std::size_t DecodeAnsi(const char* bytes, std::size_t length, char16_t* out);  // out: length

// Whether DecodeUtf8 takes bytes as they are, without a single replacement.
bool IsValidUtf8(const char* bytes, std::size_t length);
// The same for exactly one sequence of length bytes that starts with a byte above 0x7F.
// Inline, as a whole read checks every multi-byte sequence of a file with it.
inline bool IsValidUtf8Sequence(const char* bytes, std::size_t length) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  if (length < 2) return false;
  const Utf8LeadRule rule = Utf8RuleFor(s[0]);
  if (length != static_cast<std::size_t>(rule.continuations) + 1) return false;
  if (s[1] < rule.low || s[1] > rule.high) return false;
  for (std::size_t k = 2; k < length; ++k) {
    if (!IsUtf8Continuation(s[k])) return false;
  }
  return true;
}
// bytes with every sequence that DecodeUtf8 replaces written as U+FFFD (EF BF BD), so that
// the result is what encoding the decoded text gives; out holds 3 * length bytes.
std::size_t RepairUtf8(const char* bytes, std::size_t length, char* out);
// Where a slice of bytes that starts at start and takes at most sliceBytes (5 or more) may
// end so that no sequence is cut: before a byte that is no continuation. Slices cut there validate,
// decode and repair exactly as the whole text does.
std::size_t Utf8SliceEnd(const char* bytes, std::size_t start, std::size_t length,
                         std::size_t sliceBytes);

// UTF-8 bytes, zero-terminated, in memory that lives as long as anyone holds the pointer.
struct SharedUtf8 {
  std::shared_ptr<const char> bytes;
  std::int64_t length = 0;  // without the terminator
  bool knownValid = false;  // checked already: IsValidUtf8 holds for the bytes
};
SharedUtf8 ShareUtf8(std::string text);

// Exact sizes, for callers that want to allocate once and exactly.
std::size_t Utf8LengthOf(const char16_t* text, std::size_t length);

// Container forms; the Append forms add to what out already holds.
std::string Utf16ToUtf8(std::u16string_view text);
void AppendUtf8(std::u16string_view text, std::string& out);
std::u16string Utf8ToUtf16(std::string_view bytes);
void AppendUtf16(std::string_view bytes, std::u16string& out);

// Temporary-string forms: the decoded text as the string result at position at (-1: the
// current position) of the calling thread's area; null bytes give the empty string.
char16_t* Utf8ToTempString(const char* bytes, std::int64_t length, std::int64_t at);
char16_t* AnsiToTempString(const char* bytes, std::int64_t length, std::int64_t at);
