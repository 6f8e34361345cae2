// Reading the rest of a stream as one text (StreamReadWholeUtf8).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/file_stream.h"

namespace file_stream_detail {

// Anonymous memory that grows in place (mremap), so that growing never holds an old and a
// new copy at once; only the pages written are ever used.
class ByteArea {
 public:
  ByteArea() = default;
  ~ByteArea();
  ByteArea(const ByteArea&) = delete;
  ByteArea& operator=(const ByteArea&) = delete;

  // Room for at least bytes in all; false when the address space ran out.
  bool Reserve(std::size_t bytes);
  [[nodiscard]] char* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }

 private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t reserved_ = 0;  // the most asked for: no byte past it was ever touched
};

// The bytes of a text as the read leaves them.
struct RawText {
  WholeText result;  // everything but the text itself
  ByteArea bytes;
  std::size_t length = 0;  // bytes[0, length) are whole sequences of the text
  // UTF-8 whose every sequence the scan found valid (bytes that can't start one are '?').
  bool knownValidUtf8 = false;
};

// Collects the rest of stream number outside any SharedChangeScope (see
// StreamReadWholeUtf8). With a read error or a limit the bytes collected so far stay in the
// result.
void CollectWhole(ObjectNumber number, const WholeReadLimits& limits, RawText& raw);

}  // namespace file_stream_detail
