// Reading text. The raw units of the text are collected in a work area first, then
// converted once into the string result. A line is collected unit by unit through the
// stream's buffer; the rest of a file is collected in large chunks that bypass the buffer
// and are then scanned the way the unit reader would have taken them.
//
// Collection runs in steps of a few MiB, each inside its own SharedChangeScope with the
// stream looked up afresh, and a StopPoint between steps: a worker told to stop ends
// there, leaving the stream consistent.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "file_stream_record.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"
#include "strings_area.h"

using namespace file_stream_detail;

namespace {

constexpr std::int64_t ChunkBytes = std::int64_t{4} << 20;
constexpr std::size_t LineStepBytes = std::size_t{4} << 20;
constexpr std::uint64_t HighBits = 0x8080808080808080ull;
constexpr std::uint64_t LowBits = 0x0101010101010101ull;

struct WorkArea {
  std::vector<char> bytes;
  std::size_t textEnd = 0;  // the collected text is bytes[0, textEnd)
  std::int32_t format = FormatUtf8;
};

// Bytes a UTF-8 lead byte announces, or 0 for a byte that can't start a sequence.
int SequenceLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

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
  const int length = SequenceLength(sequence[0]);
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

// ---- The rest of the file, in chunks ----

struct ChunkScan {
  std::size_t scanned = 0;  // bytes[0, scanned) are whole units of the text
  bool zeroFound = false;
  std::size_t consumedEnd = 0;  // with zeroFound: the bytes the read has consumed
};

bool HasHighOrZeroByte(std::uint64_t word) {
  return ((word & HighBits) | ((word - LowBits) & ~word & HighBits)) != 0;
}

void EndAtZero(WorkArea& work, ChunkScan& scan, std::size_t zeroAt) {
  work.textEnd = zeroAt;
  scan.zeroFound = true;
  scan.consumedEnd = zeroAt + 1;
}

void ScanUtf8(WorkArea& work, ChunkScan& scan) {
  auto* s = reinterpret_cast<unsigned char*>(work.bytes.data());
  const std::size_t n = work.bytes.size();
  std::size_t i = scan.scanned;
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, sizeof word);
      if (!HasHighOrZeroByte(word)) {
        i += 8;
        continue;
      }
    }
    if (s[i] == 0) return EndAtZero(work, scan, i);
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const auto length = static_cast<std::size_t>(SequenceLength(s[i]));
    if (length == 0) {
      s[i++] = '?';
      continue;
    }
    if (i + length > n) break;  // completed by the next chunk, or dropped at the end
    const void* zero = std::memchr(s + i + 1, 0, length - 1);
    if (zero) return EndAtZero(work, scan, static_cast<const unsigned char*>(zero) - s);
    i += length;
  }
  scan.scanned = i;
}

void ScanAnsi(WorkArea& work, ChunkScan& scan) {
  const char* s = work.bytes.data();
  const std::size_t n = work.bytes.size();
  const void* zero = std::memchr(s + scan.scanned, 0, n - scan.scanned);
  if (zero) return EndAtZero(work, scan, static_cast<std::size_t>(static_cast<const char*>(zero) - s));
  scan.scanned = n;
}

void ScanUtf16(WorkArea& work, ChunkScan& scan) {
  const std::size_t whole = work.bytes.size() & ~std::size_t{1};
  for (std::size_t i = scan.scanned; i < whole; i += 2) {
    if (work.bytes[i] == 0 && work.bytes[i + 1] == 0) {
      EndAtZero(work, scan, i);
      scan.consumedEnd = i + 2;
      return;
    }
  }
  scan.scanned = whole;
}

void ScanChunk(WorkArea& work, ChunkScan& scan) {
  if (work.format == FormatUtf8) return ScanUtf8(work, scan);
  if (work.format == FormatUtf16) return ScanUtf16(work, scan);
  ScanAnsi(work, scan);
}

// Room for what is left of the file and the last chunk's request, so the work area is
// allocated once.
void ReserveForRest(FileStream& stream, WorkArea& work) {
  struct stat status {};
  const off_t position = ::lseek(Descriptor(stream), 0, SEEK_CUR);
  if (::fstat(Descriptor(stream), &status) != 0 || position < 0) return;
  const std::int64_t rest = std::max<std::int64_t>(0, status.st_size - position) +
                            std::max<std::int32_t>(0, stream.bufferCount) + ChunkBytes;
  try {
    work.bytes.reserve(static_cast<std::size_t>(rest));
  } catch (const std::exception&) {
    return;  // the chunks then grow the area as they come
  }
  strings_detail::AdviseLargeBlock(work.bytes.data(),
                                   static_cast<std::int64_t>(work.bytes.capacity()));
}

// Reads and scans one chunk; true when the text is complete.
bool CollectChunk(FileStream& stream, WorkArea& work, ChunkScan& scan) {
  const std::size_t before = work.bytes.size();
  work.bytes.resize(before + static_cast<std::size_t>(ChunkBytes));
  const std::int64_t got = BufferedRead(stream, work.bytes.data() + before, ChunkBytes);
  work.bytes.resize(before + static_cast<std::size_t>(got));
  ScanChunk(work, scan);
  if (scan.zeroFound) {
    // The chunk went past the zero unit: the bytes after it stay unread.
    UnreadBytes(stream, static_cast<std::int64_t>(work.bytes.size() - scan.consumedEnd));
    return true;
  }
  if (got == ChunkBytes) return false;
  work.textEnd = scan.scanned;  // a unit cut short by the end is dropped
  return true;
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

bool CollectRest(ObjectNumber number, std::int32_t flags, WorkArea& work) {
  ChunkScan scan;
  return CollectInSteps(number, flags, work, [&](FileStream& stream, bool first) {
    if (first) ReserveForRest(stream, work);
    return CollectChunk(stream, work, scan);
  });
}

char16_t* ConvertToResult(const WorkArea& work, std::int64_t at) {
  const char* bytes = work.bytes.data();
  const auto length = static_cast<std::int64_t>(work.textEnd);
  if (work.format == FormatUtf8) return Utf8ToTempString(bytes, length, at);
  if (work.format != FormatUtf16) return AnsiToTempString(bytes, length, at);
  char16_t* result = ReserveTemp(length / 2, at);
  if (length > 0) std::memcpy(result, bytes, static_cast<std::size_t>(length / 2) * 2);
  result[length / 2] = 0;
  return result;
}

}  // namespace

char16_t* StreamReadText(ObjectNumber number, std::int32_t flags, std::int64_t at) {
  if (at < 0) at = TempPosition();
  WorkArea work;
  const bool opened = (flags & ReadToEnd) ? CollectRest(number, flags, work)
                                          : CollectLine(number, flags, work);
  if (!opened) {
    ReturnEmptyTemp(at);
    return TempAt(at);
  }
  return ConvertToResult(work, at);
}
