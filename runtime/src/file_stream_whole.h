// Reading the rest of a stream as one text, shared by StreamReadText (ReadToEnd) and
// StreamReadWhole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <thread>

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
  char* data() const noexcept { return data_; }

  // Faults in the pages of [from, to) on a thread of its own while the caller fills the
  // bytes before from: where fresh memory is slow to come by, a large read then takes the
  // time of half its pages. Does nothing while a range is being faulted in.
  void FaultInAhead(std::size_t from, std::size_t to);
  // Waits (a few milliseconds at most) until no page is being faulted in.
  void StopFaultingIn();

 private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::thread faulter_;
  std::atomic<bool> stopFaulting_{false};
};

// The raw units of a text, before decoding.
struct RawText {
  WholeText result;  // everything but the text itself
  ByteArea bytes;
  std::size_t length = 0;  // bytes[0, length) are whole units of the text
  std::int32_t format = FormatUtf8;
};

// Collects the rest of stream number outside any SharedChangeScope (see StreamReadWhole).
// With a read error or a limit the units collected so far stay in the result.
void CollectWhole(ObjectNumber number, std::int32_t flags, const WholeReadLimits& limits,
                  RawText& raw);

}  // namespace file_stream_detail
