// The stream record and its buffered transfers, shared by the file library's sources.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/object_registry.h"

// Laid out as the registry stores it: zero-filled raw memory, the descriptor first (the
// liveness word), so the buffer is a plain pointer owned by the open stream. The buffer
// holds pending writes only: a whole read takes the file from its descriptor.
struct FileStream {
  std::int64_t handle;  // the file descriptor, never 0 while open
  std::byte* buffer;    // null for an unbuffered stream
  std::int32_t bufferSize;
  std::int32_t bufferCount;  // free bytes
  std::int32_t readOnly;
  std::int32_t writeError;  // the system's error number of the first write that fell short
};

namespace file_stream_detail {

ObjectTable* FileTable();
FileStream* LookupStream(ObjectNumber number);

// Bytes written or buffered; 0 on a read-only stream. Fewer than n, or 0 when the
// pending bytes before them could not be written, leave the reason in writeError.
std::int64_t BufferedWrite(FileStream& stream, const void* source, std::int64_t n);

// Writes the pending bytes; false when some did not reach the file (see writeError).
[[nodiscard]] bool FlushStream(FileStream& stream);

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
  [[nodiscard]] int Get() const noexcept { return descriptor_; }
  int Release() noexcept { return std::exchange(descriptor_, -1); }

 private:
  int descriptor_;
};

}  // namespace file_stream_detail
