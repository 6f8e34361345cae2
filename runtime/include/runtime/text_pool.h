// Pooled texts: string variables whose texts lie side by side in shared 1 MiB blocks
// instead of one heap block each. For millions of short texts that live and die together
// (the texts of a result list) a pooled text costs its characters and terminator, where a
// heap block costs 32 bytes or more.
//
// To everything else a pooled text is an ordinary string variable: it reads the same,
// FreeString gives it back (from any thread), and assigning to the variable moves it to the
// string heap. Pooled texts never change, so a reader may keep pointing into one for as
// long as it pins the block (PinTextBlock). A block goes back to the system once its pool
// has moved on and its last text and pin are gone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/strings.h"

// Fills blocks one after the other from one thread; each pool has a block of its own.
class TextPool {
 public:
  TextPool() = default;
  ~TextPool();
  TextPool(const TextPool&) = delete;
  TextPool& operator=(const TextPool&) = delete;

  // As AssignStringRange, for length bytes of UTF-8: variable gets the text decoded as
  // Utf8ToUtf16 does, straight into the pool. A text too long for a block, or any text when
  // no block can be had, goes to the string heap. The text's length in units.
  std::int64_t AssignUtf8(StringVar& variable, const char* bytes, std::int64_t length);

 private:
  // Room for a text of at most units units and its terminator, from a new block when the
  // current one is full; null when the text is too long for a block or no block can be had.
  char16_t* Room(std::int64_t units);
  // Hands out the length units at text, which lie in the room just given, to variable.
  void HandOut(StringVar& variable, char16_t* text, std::int64_t length);
  bool StartBlock();
  void LetGoOfBlock();

  std::byte* block_ = nullptr;
  std::int64_t used_ = 0;       // bytes of block_ taken, its header included
  std::int64_t handedOut_ = 0;  // texts of block_ handed out
};

// True when text points into a pooled block (and so must not be given to free or realloc).
bool IsPooledText(const void* text);
// Gives back one pooled text (or a pin); false, doing nothing, for anything not pooled.
bool ReleasePooledText(const void* text);

// Pins the block that the pooled text lies in and returns the block's start, from which
// the text's offset in units is below PooledBlockUnits; null, pinning nothing, when text
// is not pooled. Each pin is given back with ReleasePooledText(block).
const char16_t* PinTextBlock(const char16_t* text);
inline constexpr std::int64_t PooledBlockUnits = std::int64_t{1} << 19;
