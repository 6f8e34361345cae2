#include "runtime/text_encoding.h"

#include <algorithm>
#include <cstring>

#include "runtime/strings.h"
#include "runtime/unaligned.h"
#include "strings_area.h"

namespace {

constexpr char16_t Replacement = 0xFFFD;
constexpr std::uint64_t Utf16AsciiMask = 0xFF80FF80FF80FF80ull;
constexpr std::uint64_t Utf8AsciiMask = 0x8080808080808080ull;

// The code point at text[i] (a pair counts as one), and how many units it took.
char32_t CodePointAt(const char16_t* text, std::size_t length, std::size_t i, std::size_t& units) {
  const char16_t unit = text[i];
  units = 1;
  if (!IsSurrogate(unit)) return unit;
  if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
    units = 2;
    return 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00);
  }
  return Replacement;
}

unsigned char* PutUtf8(char32_t code, unsigned char* out) {
  if (code < 0x80) {
    *out++ = static_cast<unsigned char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<unsigned char>(0xC0 | (code >> 6));
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<unsigned char>(0xE0 | (code >> 12));
    *out++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<unsigned char>(0xF0 | (code >> 18));
    *out++ = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
  }
  return out;
}

std::size_t Utf8Size(char32_t code) {
  return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

// Decodes the sequence at s (below 0x80 excluded), at most available bytes; returns the
// bytes consumed and stores the code point (U+FFFD for an invalid or cut-off sequence).
std::size_t DecodeSequence(const unsigned char* s, std::size_t available, char32_t& code) {
  const Utf8LeadRule rule = Utf8RuleFor(s[0]);
  code = Replacement;
  if (rule.continuations == 0) return 1;
  char32_t value = rule.bits;
  std::size_t consumed = 1;
  for (int k = 0; k < rule.continuations; ++k, ++consumed) {
    if (consumed >= available) return consumed;
    const unsigned char next = s[consumed];
    const unsigned char low = k == 0 ? rule.low : 0x80;
    const unsigned char high = k == 0 ? rule.high : 0xBF;
    if (next < low || next > high) return consumed;
    value = (value << 6) | (next & 0x3F);
  }
  code = value;
  return consumed;
}

// Whether the sequence at s, which decoded to code in consumed bytes, was replaced: U+FFFD
// itself is valid, and only the whole three bytes after the lead EF give it.
bool WasReplaced(const unsigned char* s, std::size_t consumed, char32_t code) {
  return code == Replacement && !(s[0] == 0xEF && consumed == 3);
}

char16_t* PutUtf16(char32_t code, char16_t* out) {
  if (code < 0x10000) {
    *out++ = static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (code >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
  return out;
}

template <class Convert>
char16_t* DecodeToTemp(const char* bytes, std::int64_t length, std::int64_t at, Convert convert) {
  if (!bytes || length < 0) length = 0;
  char16_t* result = ReserveTemp(length, at);
  const std::size_t units =
      length > 0 ? convert(bytes, static_cast<std::size_t>(length), result) : 0;
  result[units] = 0;
  GiveBackTemp(length - static_cast<std::int64_t>(units));
  return result;
}

}  // namespace

std::size_t EncodeUtf8(const char16_t* text, std::size_t length, char* out) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  std::size_t i = 0;
  while (i < length) {
    if (i + 4 <= length && (LoadUnaligned<std::uint64_t>(text + i) & Utf16AsciiMask) == 0) {
      for (int k = 0; k < 4; ++k) *o++ = static_cast<unsigned char>(text[i + k]);
      i += 4;
      continue;
    }
    std::size_t units = 0;
    o = PutUtf8(CodePointAt(text, length, i, units), o);
    i += units;
  }
  return static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out));
}

std::size_t DecodeUtf8(const char* bytes, std::size_t length, char16_t* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  char16_t* o = out;
  std::size_t i = 0;
  while (i < length) {
    if (i + 8 <= length && (LoadUnaligned<std::uint64_t>(s + i) & Utf8AsciiMask) == 0) {
      for (int k = 0; k < 8; ++k) *o++ = s[i + k];
      i += 8;
      continue;
    }
    if (s[i] < 0x80) {
      *o++ = s[i++];
      continue;
    }
    char32_t code = 0;
    i += DecodeSequence(s + i, length - i, code);
    o = PutUtf16(code, o);
  }
  return static_cast<std::size_t>(o - out);
}

bool IsValidUtf8(const char* bytes, std::size_t length) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < length) {
    if (i + 8 <= length && (LoadUnaligned<std::uint64_t>(s + i) & Utf8AsciiMask) == 0) {
      i += 8;
    } else if (s[i] < 0x80) {
      ++i;
    } else {
      char32_t code = 0;
      const std::size_t consumed = DecodeSequence(s + i, length - i, code);
      if (WasReplaced(s + i, consumed, code)) return false;
      i += consumed;
    }
  }
  return true;
}

std::size_t RepairUtf8(const char* bytes, std::size_t length, char* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  auto* o = reinterpret_cast<unsigned char*>(out);
  for (std::size_t i = 0; i < length;) {
    if (s[i] < 0x80) {
      *o++ = s[i++];
      continue;
    }
    char32_t code = 0;
    const std::size_t consumed = DecodeSequence(s + i, length - i, code);
    o = PutUtf8(code, o);
    i += consumed;
  }
  return static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out));
}

std::size_t Utf8SliceEnd(const char* bytes, std::size_t start, std::size_t length,
                         std::size_t sliceBytes) {
  const std::size_t end = std::min(length, start + sliceBytes);
  // A byte that four continuations precede can't belong to the sequence before it either.
  for (std::size_t cut = end; cut > start && cut + 4 >= end; --cut) {
    if (cut == length || !IsUtf8Continuation(static_cast<unsigned char>(bytes[cut]))) return cut;
  }
  return end;
}

SharedUtf8 ShareUtf8(std::string text) {
  auto owner = std::make_shared<const std::string>(std::move(text));
  const auto length = static_cast<std::int64_t>(owner->size());
  return {std::shared_ptr<const char>(owner, owner->c_str()), length};
}

std::size_t DecodeAnsi(const char* bytes, std::size_t length, char16_t* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  std::copy(s, s + length, out);
  return length;
}

std::size_t Utf8LengthOf(const char16_t* text, std::size_t length) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < length;) {
    std::size_t units = 0;
    bytes += Utf8Size(CodePointAt(text, length, i, units));
    i += units;
  }
  return bytes;
}

void AppendUtf8(std::u16string_view text, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + MaxUtf8BytesFor(text.size()));
  out.resize(start + EncodeUtf8(text.data(), text.size(), out.data() + start));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf8(text, out);
  return out;
}

void AppendUtf16(std::string_view bytes, std::u16string& out) {
  const std::size_t start = out.size();
  out.resize(start + MaxUtf16UnitsFor(bytes.size()));
  out.resize(start + DecodeUtf8(bytes.data(), bytes.size(), out.data() + start));
}

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  AppendUtf16(bytes, out);
  return out;
}

char16_t* Utf8ToTempString(const char* bytes, std::int64_t length, std::int64_t at) {
  return DecodeToTemp(bytes, length, at, DecodeUtf8);
}

char16_t* AnsiToTempString(const char* bytes, std::int64_t length, std::int64_t at) {
  return DecodeToTemp(bytes, length, at, DecodeAnsi);
}
