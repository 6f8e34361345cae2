// The stream record and its buffered transfers, shared by the file library's sources.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/object_registry.h"

// Laid out as the registry stores it: zero-filled raw memory, the descriptor first (the
// liveness word), so the buffer is a plain pointer owned by the open stream.
struct FileStream {
  std::int64_t handle;  // the file descriptor, never 0 while open
  std::byte* buffer;    // null for an unbuffered stream
  std::int32_t bufferSize;
  std::int32_t bufferCount;  // read mode: unconsumed bytes; write mode: free bytes
  std::int32_t bufferFill;   // read mode: bytes the last refill brought
  std::int32_t bufferMode;   // 1: read-ahead (or nothing); 0: pending writes
  std::int32_t textFormat;
  std::int32_t readOnly;
  std::int32_t writeError;  // the system's error number of the first write that fell short
};

namespace file_stream_detail {

ObjectTable* FileTable();
FileStream* LookupStream(ObjectNumber number);

// Up to n bytes into destination; fewer mean the end of the file (or a read error).
std::int64_t BufferedRead(FileStream& stream, void* destination, std::int64_t n);

// Puts the last bytes read back, so that the next read delivers them again.
void UnreadBytes(FileStream& stream, std::int64_t n);

// Bytes written or buffered; 0 on a read-only stream. Fewer than n, or 0 when the
// pending bytes before them could not be written, leave the reason in writeError.
std::int64_t BufferedWrite(FileStream& stream, const void* source, std::int64_t n);

// Writes the pending bytes; false when some did not reach the file (see writeError).
bool FlushStream(FileStream& stream);

// Moves the read-ahead bytes not yet consumed to destination (room for the buffer size),
// flushing pending writes first; returns how many there were.
std::int64_t TakeReadAhead(FileStream& stream, char* destination);

// The format a flags or format argument names, with 0 meaning the stream's own.
std::int32_t EffectiveFormat(const FileStream& stream, std::int32_t flags);

inline int Descriptor(const FileStream& stream) { return static_cast<int>(stream.handle); }

// A descriptor closed when it goes out of scope, also when a stopped thread unwinds.
class UniqueDescriptor {
 public:
  explicit UniqueDescriptor(int descriptor) noexcept : descriptor_(descriptor) {}
  ~UniqueDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  UniqueDescriptor(const UniqueDescriptor&) = delete;
  UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;

  explicit operator bool() const noexcept { return descriptor_ >= 0; }
  int Get() const noexcept { return descriptor_; }
  int Release() noexcept { return std::exchange(descriptor_, -1); }

 private:
  int descriptor_;
};

// One byte, on the buffer's fast path when it can be.
inline bool ReadByte(FileStream& stream, unsigned char& byte) {
  if (stream.buffer && stream.bufferMode == 1 && stream.bufferCount > 0) {
    byte = static_cast<unsigned char>(stream.buffer[stream.bufferFill - stream.bufferCount]);
    --stream.bufferCount;
    return true;
  }
  return BufferedRead(stream, &byte, 1) == 1;
}

}  // namespace file_stream_detail
