// Reading text. The raw units of the text are collected in a work area first, then
// converted once into the string result. A line is collected unit by unit through the
// stream's buffer, in steps of a few MiB, each inside its own SharedChangeScope with the
// stream looked up afresh, and a StopPoint between steps: a worker told to stop ends
// there, leaving the stream consistent. The rest of a file is collected as
// file_stream_whole.cpp does it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "file_stream_record.h"
#include "file_stream_whole.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"

using namespace file_stream_detail;

namespace {

constexpr std::size_t LineStepBytes = std::size_t{4} << 20;

struct WorkArea {
  std::vector<char> bytes;
  std::size_t textEnd = 0;  // the collected text is bytes[0, textEnd)
  std::int32_t format = FormatUtf8;
};

int UnitSize(std::int32_t format) { return format == FormatUtf16 ? 2 : 1; }

// ---- One line, unit by unit ----

enum class UnitResult { Stored, LineEnd, TextEnd };

bool ReadRawUnit(FileStream& stream, int unitSize, char16_t& unit) {
  if (unitSize == 1) {
    unsigned char byte = 0;
    if (!ReadByte(stream, byte)) return false;
    unit = byte;
    return true;
  }
  return BufferedRead(stream, &unit, 2) == 2;
}

// After a CR: an LF that follows belongs to the same line end; anything else is put back.
void ConsumeLineFeedAfterReturn(FileStream& stream, int unitSize) {
  char16_t next = 0;
  if (ReadRawUnit(stream, unitSize, next) && next != u'\n') UnreadBytes(stream, unitSize);
}

void Store(WorkArea& work, const void* bytes, std::size_t n) {
  const auto* from = static_cast<const char*>(bytes);
  work.bytes.insert(work.bytes.end(), from, from + n);
}

UnitResult ReadSingleUnit(FileStream& stream, int unitSize, WorkArea& work) {
  char16_t unit = 0;
  if (!ReadRawUnit(stream, unitSize, unit) || unit == 0) return UnitResult::TextEnd;
  if (unit == u'\n') return UnitResult::LineEnd;
  if (unit == u'\r') {
    ConsumeLineFeedAfterReturn(stream, unitSize);
    return UnitResult::LineEnd;
  }
  if (unitSize == 1) {
    work.bytes.push_back(static_cast<char>(unit));
  } else {
    Store(work, &unit, 2);
  }
  return UnitResult::Stored;
}

// One character of UTF-8: a byte that can't start a sequence is taken as "?"; a sequence
// cut short by the end of the file is dropped; a zero byte inside one ends the text after
// the bytes before it (which then decode as one replacement character).
UnitResult ReadUtf8Unit(FileStream& stream, WorkArea& work) {
  unsigned char sequence[4] = {};
  if (!ReadByte(stream, sequence[0]) || sequence[0] == 0) return UnitResult::TextEnd;
  if (sequence[0] == '\n') return UnitResult::LineEnd;
  if (sequence[0] == '\r') {
    ConsumeLineFeedAfterReturn(stream, 1);
    return UnitResult::LineEnd;
  }
  if (sequence[0] < 0x80) {
    work.bytes.push_back(static_cast<char>(sequence[0]));
    return UnitResult::Stored;
  }
  const int length = Utf8LengthAnnounced(sequence[0]);
  if (length == 0) {
    work.bytes.push_back('?');
    return UnitResult::Stored;
  }
  for (int k = 1; k < length; ++k) {
    if (!ReadByte(stream, sequence[k])) return UnitResult::TextEnd;
    if (sequence[k] == 0) {
      Store(work, sequence, static_cast<std::size_t>(k));
      return UnitResult::TextEnd;
    }
  }
  Store(work, sequence, static_cast<std::size_t>(length));
  return UnitResult::Stored;
}

// Collects up to one step of the line; true when the line is complete.
bool CollectLineStep(FileStream& stream, WorkArea& work) {
  const std::size_t stepEnd = work.bytes.size() + LineStepBytes;
  const int unitSize = UnitSize(work.format);
  while (work.bytes.size() < stepEnd) {
    const UnitResult result = work.format == FormatUtf8
                                  ? ReadUtf8Unit(stream, work)
                                  : ReadSingleUnit(stream, unitSize, work);
    if (result != UnitResult::Stored) return true;
  }
  return false;
}

// Runs step(stream) in scopes until it reports completion; false when the stream was not
// open at the start. A stream closed between steps ends the text there.
template <class Step>
bool CollectInSteps(ObjectNumber number, std::int32_t flags, WorkArea& work, Step step) {
  bool started = false;
  for (;;) {
    {
      SharedChangeScope change;
      FileStream* stream = LookupStream(number);
      if (!stream) return started;
      if (!started) work.format = EffectiveFormat(*stream, flags);
      if (step(*stream, !started)) return true;
      started = true;
    }
    StopPoint();
  }
}

bool CollectLine(ObjectNumber number, std::int32_t flags, WorkArea& work) {
  const bool opened = CollectInSteps(number, flags, work, [&](FileStream& stream, bool) {
    return CollectLineStep(stream, work);
  });
  work.textEnd = work.bytes.size();
  return opened;
}

char16_t* ConvertToResult(const char* bytes, std::int64_t length, std::int32_t format,
                          std::int64_t at) {
  if (format == FormatUtf8) return Utf8ToTempString(bytes, length, at);
  if (format != FormatUtf16) return AnsiToTempString(bytes, length, at);
  char16_t* result = ReserveTemp(length / 2, at);
  if (length > 0) std::memcpy(result, bytes, static_cast<std::size_t>(length / 2) * 2);
  result[length / 2] = 0;
  return result;
}

// Whatever ends the read early (a read error, memory running out) ends the text there.
char16_t* ReadRestAsResult(ObjectNumber number, std::int32_t flags, std::int64_t at) {
  RawText raw;
  // The raw units, then up to two bytes of text for each.
  CollectWhole(number, flags, WholeReadLimits{.memoryPerByte = 3}, raw);
  if (raw.result.end == WholeReadEnd::NotOpen) return nullptr;
  return ConvertToResult(raw.bytes.data(), static_cast<std::int64_t>(raw.length), raw.format, at);
}

}  // namespace

char16_t* StreamReadText(ObjectNumber number, std::int32_t flags, std::int64_t at) {
  if (at < 0) at = TempPosition();
  if (flags & ReadToEnd) {
    if (char16_t* text = ReadRestAsResult(number, flags, at)) return text;
  } else {
    WorkArea work;
    if (CollectLine(number, flags, work)) {
      return ConvertToResult(work.bytes.data(), static_cast<std::int64_t>(work.textEnd),
                             work.format, at);
    }
  }
  ReturnEmptyTemp(at);
  return TempAt(at);
}
