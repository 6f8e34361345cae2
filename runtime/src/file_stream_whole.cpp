// Reading the rest of a stream as one text.
//
// Nothing here waits inside a SharedChangeScope. One short change takes what the read needs
// of the stream (its pending writes flushed, and a descriptor of its own, so that the
// stream may be closed meanwhile by whoever stopped this thread); then the read waits for
// data with poll() in short steps, with a stop point at every step, and reads into memory
// that belongs to this thread alone. A thread told to stop thus ends within a step however
// long the file keeps it waiting, and one stuck in a read of a hung file system holds up
// nobody: its descriptor and memory are its own and go when it ends.
#include "file_stream_whole.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "file_stream_record.h"
#include "runtime/page_warmer.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"
#include "runtime/unaligned.h"
#include "strings_area.h"

namespace file_stream_detail {

namespace {

constexpr std::size_t ChunkBytes = std::size_t{4} << 20;
constexpr std::size_t FirstAreaBytes = std::size_t{64} << 20;  // address space only
// Below this a read is over before another thread would help it.
constexpr std::int64_t WarmAheadFrom = std::int64_t{16} << 20;
// From this size an area is unmapped on the warmer's thread (see ~ByteArea).
constexpr std::size_t LargeAreaBytes = std::size_t{64} << 20;
constexpr int WaitStepMilliseconds = 20;
constexpr std::uint64_t HighBits = 0x8080808080808080ull;
constexpr std::uint64_t LowBits = 0x0101010101010101ull;

std::size_t PageRounded(std::size_t bytes) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

// ---- Finding where the text ends, chunk by chunk ----

struct ChunkScan {
  std::size_t scanned = 0;  // bytes[0, scanned) are whole units of the text
  bool zeroFound = false;
  std::size_t textEnd = 0;      // with zeroFound: where the text ends
  std::size_t consumedEnd = 0;  // with zeroFound: the bytes the read has consumed
  bool invalidUtf8 = false;     // a UTF-8 sequence that decoding would replace was seen
  bool zeroIsText = false;      // a zero unit is a character, not the text's end
  std::int64_t unreadablePlaces = 0;
  std::int64_t firstUnreadableAt = -1;
  std::int64_t zeroBytes = 0;
  std::int64_t firstZeroAt = -1;
};

void NoteUnreadable(ChunkScan& scan, std::size_t at) {
  if (scan.unreadablePlaces++ == 0) scan.firstUnreadableAt = static_cast<std::int64_t>(at);
}

bool HasHighOrZeroByte(std::uint64_t word) {
  return ((word & HighBits) | ((word - LowBits) & ~word & HighBits)) != 0;
}

void EndAtZero(ChunkScan& scan, std::size_t zeroAt) {
  scan.zeroFound = true;
  scan.textEnd = zeroAt;
  scan.consumedEnd = zeroAt + 1;
}

// The unit reader's view of UTF-8: a byte that can't start a sequence is taken as "?", a
// zero byte ends the text, also inside a sequence; a sequence cut short by the end of the
// bytes so far waits for the next chunk.
void ScanUtf8(char* bytes, std::size_t n, ChunkScan& scan) {
  auto* s = reinterpret_cast<unsigned char*>(bytes);
  std::size_t i = scan.scanned;
  while (i < n) {
    if (i + 8 <= n) {
      if (!HasHighOrZeroByte(LoadUnaligned<std::uint64_t>(s + i))) {
        i += 8;
        continue;
      }
    }
    if (s[i] == 0) {
      if (!scan.zeroIsText) return EndAtZero(scan, i);
      if (scan.zeroBytes++ == 0) scan.firstZeroAt = static_cast<std::int64_t>(i);
    }
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const auto length = static_cast<std::size_t>(Utf8LengthAnnounced(s[i]));
    if (length == 0) {
      NoteUnreadable(scan, i);
      s[i++] = '?';
      continue;
    }
    if (i + length > n) break;
    // The same pass tells whether the bytes are valid UTF-8, which spares the pattern engine
    // another pass over them; only an invalid sequence can hold a zero byte.
    if (!IsValidUtf8Sequence(bytes + i, length)) {
      scan.invalidUtf8 = true;
      const void* zero = scan.zeroIsText ? nullptr : std::memchr(s + i + 1, 0, length - 1);
      if (zero) return EndAtZero(scan, static_cast<const unsigned char*>(zero) - s);
      NoteUnreadable(scan, i);
    }
    i += length;
  }
  scan.scanned = i;
}

// ---- The stream and its descriptor ----

struct Source {
  int duplicate = -1;
  int duplicateError = 0;
};

// Pending writes go to the file first, so that the read finds them there. A flush that
// fails has left its reason in the stream, for whoever checks the writes.
bool TakeSource(ObjectNumber number, Source& source) {
  SharedChangeScope change;
  FileStream* stream = LookupStream(number);
  if (!stream) return false;
  static_cast<void>(FlushStream(*stream));
  source.duplicate = ::fcntl(Descriptor(*stream), F_DUPFD_CLOEXEC, 3);
  source.duplicateError = errno;
  return true;
}

// The bytes left to read when the file tells its size, else -1. Files that report no size
// (a FIFO, a device, most of /proc) are read until they end.
std::int64_t BytesLeft(int descriptor, WholeText& result) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    return -1;
  }
  const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
  if (position < 0) return -1;
  result.fileSize = status.st_size;
  return std::max<std::int64_t>(0, status.st_size - position);
}

// Up to n bytes, waiting for them in steps with a stop point each: > 0 bytes read, 0 at
// the end of the file, -1 with errno for an error.
ssize_t ReadWhenReady(int descriptor, char* destination, std::size_t n) {
  for (;;) {
    pollfd ready{descriptor, POLLIN, 0};
    const int polled = ::poll(&ready, 1, WaitStepMilliseconds);
    StopPoint();
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    // poll() refusing the descriptor leaves read() to tell what is wrong with it.
    const ssize_t got = ::read(descriptor, destination, n);
    if (got >= 0) return got;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

// ---- Memory ----

std::int64_t SaturatingProduct(std::int64_t a, std::int64_t b) {
  if (a > 0 && b > 0 && a > std::numeric_limits<std::int64_t>::max() / b) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return a * b;
}

// Whether a text of total bytes fits; the figures of a refusal go into result.
bool FitsInMemory(std::int64_t total, std::int64_t held, const WholeReadLimits& limits,
                  WholeText& result) {
  std::int64_t available = limits.memoryBudget;
  if (available < 0) {
    const std::int64_t system = AvailableSystemMemory();
    if (system < 0) return true;  // nothing to go by
    available = system + held;
  }
  const std::int64_t needed =
      SaturatingProduct(total, std::max<std::int64_t>(1, limits.memoryPerByte));
  if (needed <= available) return true;
  result.memoryNeeded = needed;
  result.memoryAvailable = available;
  return false;
}

// The text's size as far as it can be told now: the file's size when it has one (a text
// can't grow past the longest one allowed before the read stops it), else what has been
// read and the next chunk.
std::int64_t ExpectedTotal(std::int64_t bytesLeft, std::size_t length,
                           const WholeReadLimits& limits) {
  const auto read = static_cast<std::int64_t>(length);
  if (bytesLeft < 0) return read + static_cast<std::int64_t>(ChunkBytes);
  const std::int64_t longest = limits.longestText == std::numeric_limits<std::int64_t>::max()
                                   ? limits.longestText
                                   : limits.longestText + 1;
  return std::max(std::min(bytesLeft, longest), read);
}

void TellWhatWasNoText(const ChunkScan& scan, WholeText& result) {
  result.unreadablePlaces = scan.unreadablePlaces;
  result.firstUnreadableAt = scan.firstUnreadableAt;
  result.zeroBytes = scan.zeroBytes;
  result.firstZeroAt = scan.firstZeroAt;
}

void Finish(RawText& raw, WholeReadEnd end, std::int64_t consumed) {
  raw.result.end = end;
  raw.result.bytesRead = consumed;
}

// The read went past the zero unit: the bytes after it are put back where that can be.
void EndAtZeroUnit(RawText& raw, const ChunkScan& scan, int descriptor) {
  const auto after = static_cast<off_t>(raw.length - scan.consumedEnd);
  if (after > 0) ::lseek(descriptor, -after, SEEK_CUR);
  raw.length = scan.textEnd;
  TellWhatWasNoText(scan, raw.result);
  Finish(raw, WholeReadEnd::Complete, static_cast<std::int64_t>(scan.consumedEnd));
}

void ReadUntilEnd(int descriptor, std::int64_t bytesLeft, const WholeReadLimits& limits,
                  RawText& raw) {
  ChunkScan scan;
  scan.zeroIsText = !limits.zeroEndsText;
  bool warmed = false;
  for (;;) {
    ScanUtf8(raw.bytes.data(), raw.length, scan);
    raw.knownValidUtf8 = !scan.invalidUtf8;
    const auto length = static_cast<std::int64_t>(raw.length);
    if (scan.zeroFound) return EndAtZeroUnit(raw, scan, descriptor);
    if (static_cast<std::int64_t>(scan.scanned) > limits.longestText) {
      return Finish(raw, WholeReadEnd::TooLong, length);
    }
    const std::int64_t total = ExpectedTotal(bytesLeft, raw.length, limits);
    if (!FitsInMemory(total, length, limits, raw.result) ||
        !raw.bytes.Reserve(static_cast<std::size_t>(total) + ChunkBytes)) {
      return Finish(raw, WholeReadEnd::OutOfMemory, length);
    }
    if (!warmed && bytesLeft >= WarmAheadFrom) {
      // All but the chunk read next, which that read faults in itself at once.
      const std::size_t from = raw.length + ChunkBytes;
      const std::size_t end = std::min(static_cast<std::size_t>(total), raw.bytes.capacity());
      if (end > from) WarmPagesAhead(raw.bytes.data() + from, end - from);
      warmed = true;
    }
    const ssize_t got = ReadWhenReady(descriptor, raw.bytes.data() + raw.length, ChunkBytes);
    if (got < 0) {
      raw.result.error = errno;
      return Finish(raw, WholeReadEnd::ReadError, length);
    }
    if (got == 0) {
      // A unit cut short by the end is dropped.
      if (raw.length > scan.scanned) NoteUnreadable(scan, scan.scanned);
      raw.length = scan.scanned;
      TellWhatWasNoText(scan, raw.result);
      return Finish(raw, WholeReadEnd::Complete, length);
    }
    raw.length += static_cast<std::size_t>(got);
    if (limits.progress) {
      limits.progress->bytesRead.store(static_cast<std::int64_t>(raw.length),
                                       std::memory_order_relaxed);
    }
  }
}

}  // namespace

ByteArea::~ByteArea() {
  if (!data_) return;
  // A large input's area goes back on the warmer's thread: a worker stopped while reading
  // ends at once. Only the pages used cost time to unmap; the rest is address space.
  if (reserved_ >= LargeAreaBytes) {
    GiveBackMappingSoon(data_, capacity_);
  } else {
    ::munmap(data_, capacity_);
  }
}

bool ByteArea::Reserve(std::size_t bytes) {
  reserved_ = std::max(reserved_, bytes);
  if (bytes <= capacity_) return true;
  // Doubling the address range costs nothing: pages are used only once written.
  const std::size_t size = PageRounded(std::max({bytes, 2 * capacity_, FirstAreaBytes}));
  void* block = data_ ? ::mremap(data_, capacity_, size, MREMAP_MAYMOVE)
                      : ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) return false;
  data_ = static_cast<char*>(block);
  capacity_ = size;
  return true;
}

void CollectWhole(ObjectNumber number, const WholeReadLimits& limits, RawText& raw) {
  Source source;
  if (!TakeSource(number, source)) return;
  const UniqueDescriptor descriptor(source.duplicate);
  if (!descriptor) {
    raw.result.error = source.duplicateError;
    return Finish(raw, WholeReadEnd::ReadError, 0);
  }
  const std::int64_t bytesLeft = BytesLeft(descriptor.Get(), raw.result);
  if (limits.progress) limits.progress->bytesTotal.store(bytesLeft, std::memory_order_relaxed);
  if (!raw.bytes.Reserve(StreamBufferSize)) return Finish(raw, WholeReadEnd::OutOfMemory, 0);
  ReadUntilEnd(descriptor.Get(), bytesLeft, limits, raw);
}

}  // namespace file_stream_detail

using namespace file_stream_detail;

WholeText StreamReadWholeUtf8(ObjectNumber number, std::int32_t /*flags*/,
                              const WholeReadLimits& limits) {
  auto raw = std::make_shared<RawText>();
  CollectWhole(number, limits, *raw);
  WholeText result = std::move(raw->result);
  if (result.end != WholeReadEnd::Complete) return result;
  if (!raw->bytes.Reserve(raw->length + 1)) {
    result.end = WholeReadEnd::OutOfMemory;
    return result;
  }
  raw->bytes.data()[raw->length] = 0;
  // The text's bytes stay where the read put them, held by whoever holds the pointer.
  result.utf8 = {std::shared_ptr<const char>(raw, raw->bytes.data()),
                 static_cast<std::int64_t>(raw->length), raw->knownValidUtf8};
  return result;
}

namespace {

// Where the memory figures are read; tests put folders of their own in place of both.
struct MemoryInfoRoots {
  std::string proc = "/proc";
  std::string cgroup = "/sys/fs/cgroup";
};

std::mutex memoryRootsLock;
MemoryInfoRoots memoryRoots;

// Limits at or above this are "no limit": cgroup v1 writes its unlimited value as the
// largest page-aligned number.
constexpr std::int64_t NoLimitFrom = std::int64_t{1} << 62;

// A small file of the kernel's (the figures are a few KiB at most); empty when it can't
// be read.
std::string SmallFile(const std::string& path) {
  const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return {};
  std::string text(16384, '\0');
  std::size_t length = 0;
  while (length < text.size()) {
    const ssize_t got = ::read(file.Get(), text.data() + length, text.size() - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
  }
  text.resize(length);
  return text;
}

// The number after name at the start of a line ("name value" or "name: value"), -1 when
// no line has it.
std::int64_t FieldOf(std::string_view text, std::string_view name) {
  for (std::size_t line = 0; line < text.size();) {
    const std::size_t end = std::min(text.find('\n', line), text.size());
    const std::string_view row = text.substr(line, end - line);
    if (row.size() > name.size() && row.substr(0, name.size()) == name &&
        (row[name.size()] == ' ' || row[name.size()] == ':')) {
      return std::strtoll(std::string(row.substr(name.size() + 1)).c_str(), nullptr, 10);
    }
    line = end + 1;
  }
  return -1;
}

// A file that holds one number of bytes; -1 for "max", a number past NoLimitFrom or a file
// that can't be read.
std::int64_t BytesIn(const std::string& path) {
  const std::string text = SmallFile(path);
  if (text.empty() || text[0] < '0' || text[0] > '9') return -1;
  const long long bytes = std::strtoll(text.c_str(), nullptr, 10);
  return bytes >= NoLimitFrom ? -1 : static_cast<std::int64_t>(bytes);
}

// The names of one version of the memory controller's files.
struct ControllerFiles {
  const char* limit;
  const char* usage;
  // The fields of memory.stat that count the group's page cache of files.
  const char* activeFile;
  const char* inactiveFile;
};

constexpr ControllerFiles Version2{"memory.max", "memory.current", "active_file", "inactive_file"};
constexpr ControllerFiles Version1{"memory.limit_in_bytes", "memory.usage_in_bytes",
                                   "total_active_file", "total_inactive_file"};

// The room left under one group's limit, -1 for a group without one. Its usage counts the
// page cache of the files its processes read, the input file's included, which the kernel
// drops to make room before it ends a process: that is room too.
std::int64_t RoomInGroup(const std::string& folder, const ControllerFiles& files) {
  const std::int64_t limit = BytesIn(folder + "/" + files.limit);
  if (limit < 0) return -1;
  const std::int64_t usage = BytesIn(folder + "/" + files.usage);
  if (usage < 0) return -1;
  const std::string stat = SmallFile(folder + "/memory.stat");
  const std::int64_t cache = std::max<std::int64_t>(0, FieldOf(stat, files.activeFile)) +
                             std::max<std::int64_t>(0, FieldOf(stat, files.inactiveFile));
  return std::max<std::int64_t>(0, limit - usage + std::min(cache, usage));
}

// The smaller of two rooms, where -1 is no limit.
std::int64_t Tighter(std::int64_t a, std::int64_t b) {
  if (a < 0 || b < 0) return std::max(a, b);
  return std::min(a, b);
}

// The tightest room in the group at path (inside the controller's folder, mount) and in
// every group above it; -1 when none has a limit. Folders that are not there (a group
// path from outside a container's view) are passed over.
std::int64_t RoomUpFrom(const std::string& mount, std::string path, const ControllerFiles& files) {
  if (path.empty() || path[0] != '/') path.insert(0, "/");
  std::int64_t tightest = -1;
  for (;;) {
    tightest = Tighter(tightest, RoomInGroup(mount + (path == "/" ? "" : path), files));
    if (path == "/") return tightest;
    const std::size_t slash = path.find_last_of('/');
    path.erase(slash == 0 ? 1 : slash);
  }
}

// The room the process's control groups leave, from the lines of /proc/self/cgroup:
// "0::PATH" for cgroup v2 (mounted at the root, or at root/unified beside v1 controllers),
// "N:...memory...:PATH" for the v1 memory controller at root/memory. -1 for no limit.
std::int64_t RoomInControlGroups(const MemoryInfoRoots& roots) {
  const std::string lines = SmallFile(roots.proc + "/self/cgroup");
  std::int64_t tightest = -1;
  for (std::size_t line = 0; line < lines.size();) {
    const std::size_t end = std::min(lines.find('\n', line), lines.size());
    const std::string row = lines.substr(line, end - line);
    line = end + 1;
    const std::size_t first = row.find(':');
    const std::size_t second = first == std::string::npos ? first : row.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = "," + row.substr(first + 1, second - first - 1) + ",";
    const std::string path = row.substr(second + 1);
    std::int64_t room = -1;
    if (row.compare(0, first, "0") == 0 && controllers == ",,") {
      const bool unified = ::access((roots.cgroup + "/cgroup.controllers").c_str(), F_OK) == 0;
      room = RoomUpFrom(unified ? roots.cgroup : roots.cgroup + "/unified", path, Version2);
    } else if (controllers.find(",memory,") != std::string::npos) {
      room = RoomUpFrom(roots.cgroup + "/memory", path, Version1);
    }
    tightest = Tighter(tightest, room);
  }
  return tightest;
}

std::int64_t MachineAvailable(const MemoryInfoRoots& roots) {
  const std::int64_t kibibytes = FieldOf(SmallFile(roots.proc + "/meminfo"), "MemAvailable");
  return kibibytes < 0 ? -1 : kibibytes * 1024;
}

}  // namespace

std::int64_t AvailableSystemMemory() {
  // Asked just when memory runs short: the few small strings it takes may be refused too.
  try {
    MemoryInfoRoots roots;
    {
      std::lock_guard guard(memoryRootsLock);
      roots = memoryRoots;
    }
    return Tighter(MachineAvailable(roots), RoomInControlGroups(roots));
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

void SetMemoryInfoRoots(const char* proc, const char* cgroup) {
  try {
    MemoryInfoRoots roots;
    if (proc && *proc) roots.proc = proc;
    if (cgroup && *cgroup) roots.cgroup = cgroup;
    std::lock_guard guard(memoryRootsLock);
    memoryRoots = std::move(roots);
  } catch (const std::bad_alloc&) {
  }
}
