#include "utf8_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"

namespace {

// UTF-16 units converted between two stop points; small enough that a stop request waits
// well under a millisecond, large enough that the check costs nothing.
constexpr std::size_t SliceUnits = std::size_t{1} << 18;

// The end of the slice that starts at start, never between the units of a pair.
std::size_t SliceEnd(const char16_t* text, std::size_t start, std::size_t units) {
  std::size_t end = std::min(units, start + SliceUnits);
  if (end < units && IsHighSurrogate(text[end - 1])) ++end;
  return end;
}

std::size_t MeasureUtf8(const char16_t* text, std::size_t units) {
  std::size_t bytes = 0;
  for (std::size_t start = 0; start < units;) {
    std::size_t end = SliceEnd(text, start, units);
    bytes += Utf8LengthOf(text + start, end - start);
    start = end;
    StopPoint();
  }
  return bytes;
}

void WriteUtf8(const char16_t* text, std::size_t units, char* out) {
  for (std::size_t start = 0; start < units;) {
    std::size_t end = SliceEnd(text, start, units);
    out += EncodeUtf8(text + start, end - start, out);
    start = end;
    StopPoint();
  }
  *out = 0;
}

// Bytes that the character counter steps over at text[i], given the bytes left in range.
std::int64_t StepLength(const unsigned char* text, std::int64_t i, std::int64_t left,
                        bool* counts) {
  unsigned char lead = text[i];
  const int following = Utf8LengthAnnounced(lead) - 1;  // -1: no lead byte
  if (following < 0 || left < following + 1) {
    *counts = false;
    return 1;
  }
  *counts = true;
  std::int64_t step = 1;
  while (step <= following && IsUtf8Continuation(text[i + step])) ++step;
  return step;
}

// Runs step(start, end) over bytes in slices that cut no sequence, with a stop point after
// each, until step returns false; whether every step returned true.
template <typename Step>
bool InSlices(const char* bytes, std::size_t length, Step step) {
  for (std::size_t start = 0; start < length;) {
    const std::size_t end = Utf8SliceEnd(bytes, start, length, SliceUnits);
    if (!step(start, end)) return false;
    start = end;
    StopPoint();
  }
  return true;
}

bool IsValidInSlices(const char* bytes, std::size_t length) {
  return InSlices(bytes, length, [bytes](std::size_t start, std::size_t end) {
    return IsValidUtf8(bytes + start, end - start);
  });
}

std::size_t RepairInSlices(const char* bytes, std::size_t length, char* out) {
  std::size_t written = 0;
  InSlices(bytes, length, [&](std::size_t start, std::size_t end) {
    written += RepairUtf8(bytes + start, end - start, out + written);
    return true;
  });
  out[written] = 0;
  return written;
}

}  // namespace

void FreeBytes::operator()(char* bytes) const noexcept { std::free(bytes); }

Utf8Text ConvertToUtf8(const char16_t* text) {
  const auto units = static_cast<std::size_t>(StringLength(text));
  std::size_t bytes = MeasureUtf8(text, units);
  Utf8Text result;
  result.bytes.reset(static_cast<char*>(std::malloc(bytes + 1)));
  if (!result.bytes) return result;
  WriteUtf8(text, units, result.bytes.get());
  result.length = static_cast<std::int64_t>(bytes);
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

char16_t* BytesToStringResult(const char* bytes, std::int64_t at) {
  if (!bytes) return ReturnEmptyTemp(at);
  return AnsiToTempString(bytes, static_cast<std::int64_t>(std::strlen(bytes)), at);
}

SharedUtf8 ShareConverted(Utf8Text converted) {
  const std::int64_t length = converted.length;
  std::shared_ptr<const char> bytes(converted.bytes.release(),
                                    [](const char* text) { std::free(const_cast<char*>(text)); });
  return {std::move(bytes), length};
}

SharedUtf8 ValidUtf8(const SharedUtf8& text) {
  if (!text.bytes || text.length <= 0 || text.knownValid) return text;
  const auto length = static_cast<std::size_t>(text.length);
  if (IsValidInSlices(text.bytes.get(), length)) return text;
  Utf8Text repaired;
  repaired.bytes.reset(static_cast<char*>(std::malloc(3 * length + 1)));
  if (!repaired.bytes) return {};
  repaired.length =
      static_cast<std::int64_t>(RepairInSlices(text.bytes.get(), length, repaired.bytes.get()));
  return ShareConverted(std::move(repaired));
}
