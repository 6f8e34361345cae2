#include "utf8_text.h"

#include <new>

#include "runtime/strings.h"
#include "runtime/thread_stop.h"

namespace {

constexpr char16_t ReplacementCharacter = 0xFFFD;
// UTF-16 units converted between two stop points; small enough that a stop request waits
// well under a millisecond, large enough that the check costs nothing.
constexpr std::int64_t SliceUnits = std::int64_t{1} << 18;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

struct Utf8Size {
  std::int64_t units = 0;
  std::int64_t bytes = 0;
};

// One pass for the text's length in units and its UTF-8 length in bytes.
Utf8Size MeasureUtf8(const char16_t* text) {
  Utf8Size size;
  std::int64_t sliceEnd = SliceUnits;
  const char16_t* unit = text;
  for (; *unit; ++unit) {
    if (unit - text >= sliceEnd) {
      StopPoint();
      sliceEnd += SliceUnits;
    }
    if (*unit < 0x80) {
      size.bytes += 1;
    } else if (*unit < 0x800) {
      size.bytes += 2;
    } else if (IsHighSurrogate(*unit) && IsLowSurrogate(unit[1])) {
      size.bytes += 4;
      ++unit;
    } else {
      size.bytes += 3;  // a BMP character, or an unpaired surrogate as U+FFFD
    }
  }
  size.units = unit - text;
  return size;
}

char* PutThreeBytes(char* out, char32_t code) {
  out[0] = static_cast<char>(0xE0 | (code >> 12));
  out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (code & 0x3F));
  return out + 3;
}

// Encodes the unit at text[i] (and its pair), returning the index after what it used.
std::int64_t EncodeOne(const char16_t* text, std::int64_t i, char*& out) {
  char16_t unit = text[i];
  if (unit < 0x800) {
    *out++ = static_cast<char>(0xC0 | (unit >> 6));
    *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    return i + 1;
  }
  if (IsHighSurrogate(unit) && IsLowSurrogate(text[i + 1])) {
    char32_t code = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
    return i + 2;
  }
  bool unpaired = IsHighSurrogate(unit) || IsLowSurrogate(unit);
  out = PutThreeBytes(out, unpaired ? ReplacementCharacter : unit);
  return i + 1;
}

void EncodeUtf8(const char16_t* text, std::int64_t units, char* out) {
  std::int64_t i = 0;
  while (i < units) {
    std::int64_t sliceEnd = i + SliceUnits < units ? i + SliceUnits : units;
    while (i < sliceEnd) {
      if (text[i] < 0x80) *out++ = static_cast<char>(text[i++]);
      else i = EncodeOne(text, i, out);
    }
    StopPoint();
  }
  *out = 0;
}

// Bytes that the character counter steps over at text[i], given the bytes left in range.
std::int64_t StepLength(const unsigned char* text, std::int64_t i, std::int64_t left,
                        bool* counts) {
  unsigned char lead = text[i];
  int following = lead >= 0xC0 && lead <= 0xDF   ? 1
                  : lead >= 0xE0 && lead <= 0xEF ? 2
                  : lead >= 0xF0 && lead <= 0xF7 ? 3
                                                 : -1;
  if (following < 0 || left < following + 1) {
    *counts = false;
    return 1;
  }
  *counts = true;
  std::int64_t step = 1;
  while (step <= following && IsContinuation(text[i + step])) ++step;
  return step;
}

char16_t* ResultPointer(std::int64_t at) {
  return reinterpret_cast<char16_t*>(reinterpret_cast<char*>(TempAreaBase()) + at);
}

std::int64_t ResolvePosition(std::int64_t at) { return at < 0 ? TempPosition() : at; }

// Decodes one step of the character walk at text[i] into out; returns the bytes used.
std::int64_t DecodeOne(const unsigned char* text, std::int64_t i, std::int64_t left,
                       char16_t*& out) {
  bool counts = false;
  std::int64_t step = StepLength(text, i, left, &counts);
  if (!counts) {
    // A lead byte cut off by the range end takes its continuation bytes with it.
    while (step < left && step < 4 && IsContinuation(text[i + step])) ++step;
    *out++ = ReplacementCharacter;
    return step;
  }
  static constexpr unsigned char LeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
  static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t code = text[i] & LeadMask[step];
  for (std::int64_t k = 1; k < step; ++k) code = (code << 6) | (text[i + k] & 0x3F);
  bool complete = (step == 2 && text[i] <= 0xDF) || (step == 3 && text[i] <= 0xEF) ||
                  (step == 4 && text[i] <= 0xF7);
  bool valid = complete && code >= Smallest[step] && code <= 0x10FFFF &&
               !(code >= 0xD800 && code <= 0xDFFF);
  if (!valid) {
    *out++ = ReplacementCharacter;
  } else if (code >= 0x10000) {
    *out++ = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
  } else {
    *out++ = static_cast<char16_t>(code);
  }
  return step;
}

}  // namespace

Utf8Text ConvertToUtf8(const char16_t* text) {
  static constexpr char16_t Empty[] = u"";
  if (!text) text = Empty;
  Utf8Size size = MeasureUtf8(text);
  Utf8Text result;
  result.bytes.reset(new (std::nothrow) char[static_cast<std::size_t>(size.bytes) + 1]);
  if (!result.bytes) return result;
  EncodeUtf8(text, size.units, result.bytes.get());
  result.length = size.bytes;
  return result;
}

std::int64_t Utf8CharCount(const char* text, std::int64_t start, std::int64_t end) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::int64_t count = 0;
  std::int64_t i = start;
  while (i < end) {
    if (bytes[i] < 0x80) {
      ++count;
      ++i;
      continue;
    }
    bool counts = false;
    i += StepLength(bytes, i, end - i, &counts);
    count += counts;
  }
  return count;
}

char16_t* Utf8RangeToString(const char* text, std::int64_t start, std::int64_t end,
                            std::int64_t at) {
  if (!text || end <= start || start < 0) return EmptyStringResult(at);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::int64_t reserved = end - start;  // never more units than bytes
  char16_t* result = ReserveTemp(reserved, ResolvePosition(at));
  char16_t* out = result;
  std::int64_t i = start;
  while (i < end) {
    if (bytes[i] < 0x80) *out++ = bytes[i++];
    else i += DecodeOne(bytes, i, end - i, out);
  }
  *out = 0;
  GiveBackTemp(reserved - (out - result));
  return result;
}

char16_t* EmptyStringResult(std::int64_t at) {
  at = ResolvePosition(at);
  ReturnEmptyTemp(at);
  return ResultPointer(at);
}

char16_t* BytesToStringResult(const char* bytes, std::int64_t at) {
  if (!bytes || !*bytes) return EmptyStringResult(at);
  std::int64_t length = 0;
  while (bytes[length]) ++length;
  char16_t* result = ReserveTemp(length, ResolvePosition(at));
  for (std::int64_t i = 0; i < length; ++i) result[i] = static_cast<unsigned char>(bytes[i]);
  result[length] = 0;
  return result;
}
