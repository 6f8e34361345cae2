#include "runtime/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "file_stream_record.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"

namespace file_stream_detail {

namespace {

constexpr std::int32_t FileTableGrowth = 16;

std::once_flag tableCreated;
ObjectTable* fileTable = nullptr;

void CreateFileTable() {
  fileTable = CreateObjectTable(sizeof(FileStream), FileTableGrowth, CloseFileStream);
}

// The loop goes on after a short transfer, which a signal or a pipe may cause. A write that falls
// short (a full disk, a file-size limit) leaves the file with a hole in what the caller meant to
// write: the first reason is kept for whoever checks the file.
std::int64_t WriteFully(FileStream& stream, const void* source, std::int64_t n) {
  const auto* in = static_cast<const std::byte*>(source);
  std::int64_t total = 0;
  while (total < n) {
    const ssize_t put =
        ::write(Descriptor(stream), in + total, static_cast<std::size_t>(n - total));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (stream.writeError == 0) stream.writeError = put < 0 ? errno : EIO;
      break;
    }
    total += put;
  }
  return total;
}

}  // namespace

ObjectTable* FileTable() {
  std::call_once(tableCreated, CreateFileTable);
  return fileTable;
}

FileStream* LookupStream(ObjectNumber number) {
  return static_cast<FileStream*>(LookupObject(FileTable(), number));
}

std::int64_t BufferedWrite(FileStream& stream, const void* source, std::int64_t n) {
  if (stream.readOnly || n <= 0) return 0;
  if (!stream.buffer) return WriteFully(stream, source, n);
  if (stream.bufferCount > n) {
    std::memcpy(stream.buffer + (stream.bufferSize - stream.bufferCount), source,
                static_cast<std::size_t>(n));
    stream.bufferCount -= static_cast<std::int32_t>(n);
    return n;
  }
  // Bytes accepted earlier are lost when the flush fails: these are not taken either, so
  // that the count tells the caller something went wrong.
  if (!FlushStream(stream)) return 0;
  if (n >= stream.bufferSize) return WriteFully(stream, source, n);
  std::memcpy(stream.buffer, source, static_cast<std::size_t>(n));
  stream.bufferCount -= static_cast<std::int32_t>(n);
  return n;
}

bool FlushStream(FileStream& stream) {
  if (!stream.buffer) return true;
  const std::int64_t pending = stream.bufferSize - stream.bufferCount;
  stream.bufferCount = stream.bufferSize;
  return pending <= 0 || WriteFully(stream, stream.buffer, pending) == pending;
}

}  // namespace file_stream_detail

using namespace file_stream_detail;

namespace {

enum class OpenMode { Read, Create };

// Keeps the descriptor away from 0, the value that means "no stream" in the record, and
// from the standard streams.
int AwayFromStandardStreams(int descriptor) {
  if (descriptor < 0 || descriptor > 2) return descriptor;
  const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  ::close(descriptor);
  return moved;
}

int OpenDescriptor(const std::string& path, OpenMode mode) {
  constexpr mode_t NewFilePermissions = 0666;
  // Without O_NONBLOCK, opening a FIFO waits for its other end for as long as that takes.
  constexpr int Common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (mode) {
    case OpenMode::Read:
      return ::open(path.c_str(), O_RDONLY | Common);
    case OpenMode::Create: {
      const int descriptor =
          ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | Common, NewFilePermissions);
      if (descriptor >= 0) return descriptor;
      // A file we may write but not read is still replaced.
      return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | Common, NewFilePermissions);
    }
  }
  return -1;
}

// Transfers block as usual once the file is open; the whole-text read waits with poll()
// before each read, so that a silent FIFO can't hold it.
int Blocking(int descriptor) {
  if (descriptor < 0) return descriptor;
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags >= 0) ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
  return descriptor;
}

// Opening a directory succeeds here but is no file to stream; it fails as it would
// anywhere else.
bool IsDirectory(int descriptor) {
  struct stat status {};
  return ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
}

int OpenFile(const char16_t* path, OpenMode mode) {
  if (!path || !*path) return -1;
  const int descriptor = Blocking(
      AwayFromStandardStreams(OpenDescriptor(Utf16ToUtf8(std::u16string_view(path)), mode)));
  if (descriptor >= 0 && IsDirectory(descriptor)) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

void FillRecord(FileStream& stream, int descriptor, std::int32_t flags, OpenMode mode) {
  stream.handle = descriptor;
  if (!(flags & NoBuffer)) {
    // The record is raw zero-filled memory, so the buffer is a plain C allocation; a
    // failed one leaves the stream unbuffered.
    stream.buffer = static_cast<std::byte*>(std::malloc(StreamBufferSize));
  }
  stream.bufferSize = StreamBufferSize;
  stream.bufferCount = StreamBufferSize;
  stream.readOnly = mode == OpenMode::Read ? 1 : 0;
  stream.writeError = 0;
}

// The open itself runs outside any SharedChangeScope: on a slow or hung file system it can
// take any time, and a stop request must not wait for it. A stream already open under the
// number is closed first, as before any other opening.
ObjectNumber OpenStream(ObjectNumber number, const char16_t* path, std::int32_t flags,
                        OpenMode mode) {
  if (number != AnyHandle) CloseFileStream(number);
  UniqueDescriptor descriptor(OpenFile(path, mode));
  if (!descriptor) return 0;
  SharedChangeScope change;
  void* record = AllocateObject(FileTable(), number);
  if (!record) return 0;
  auto& stream = *static_cast<FileStream*>(record);
  FillRecord(stream, descriptor.Release(), flags, mode);
  return number == AnyHandle ? HandleOf(record) : Descriptor(stream);
}

std::int32_t ClampedCount(std::int64_t bytes) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(bytes, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t WriteBytes(FileStream& stream, const void* bytes, std::int64_t n) {
  if (stream.readOnly) return 0;
  return BufferedWrite(stream, bytes, n);
}

std::int64_t WriteEncoded(FileStream& stream, std::u16string_view text) {
  const std::string bytes = Utf16ToUtf8(text);
  return WriteBytes(stream, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

}  // namespace

void FileStreamInit() { FileTable(); }

void FileStreamEnd() { CloseFileStream(AnyHandle); }

ObjectNumber OpenFileRead(ObjectNumber number, const char16_t* path, std::int32_t flags) {
  return OpenStream(number, path, flags, OpenMode::Read);
}

ObjectNumber CreateFileStream(ObjectNumber number, const char16_t* path, std::int32_t flags) {
  return OpenStream(number, path, flags, OpenMode::Create);
}

std::int32_t StreamWriteText(ObjectNumber number, const char16_t* text) {
  SharedChangeScope change;
  FileStream* stream = LookupStream(number);
  if (!stream || !text || !*text) return 0;
  return ClampedCount(WriteEncoded(*stream, std::u16string_view(text)));
}

std::int64_t StreamLength(ObjectNumber number) {
  SharedChangeScope change;
  FileStream* stream = LookupStream(number);
  if (!stream) return -1;
  // A flush that falls short leaves its reason for StreamWriteError; the length tells what
  // did reach the file.
  static_cast<void>(FlushStream(*stream));
  struct stat status {};
  if (::fstat(Descriptor(*stream), &status) != 0) return -1;
  return status.st_size;
}

int StreamWriteError(ObjectNumber number) {
  SharedChangeScope change;
  FileStream* stream = LookupStream(number);
  return stream ? stream->writeError : -1;
}

// Also the file table's free operation, which the registry calls under its table lock
// from inside an opening's scope: the inner scope here never ends the thread.
void CloseFileStream(ObjectNumber number) {
  SharedChangeScope change;
  if (number == AnyHandle) {
    FreeAllObjects(FileTable());
    return;
  }
  FileStream* stream = LookupStream(number);
  if (!stream) return;
  if (stream->buffer) {
    static_cast<void>(FlushStream(*stream));  // closing goes on: nobody is left to tell
    std::free(stream->buffer);
    stream->buffer = nullptr;
  }
  ::close(Descriptor(*stream));
  ReleaseObject(FileTable(), number);
}
