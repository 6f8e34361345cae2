// Text between the system's UTF-16 strings and the UTF-8 that PCRE works on.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/text_encoding.h"

// Text bytes come from the C heap (see ConvertToUtf8) and go back there.
struct FreeBytes {
  void operator()(char* bytes) const noexcept;
};
using OwnedBytes = std::unique_ptr<char[], FreeBytes>;

// A zero-terminated UTF-8 text; bytes is null when memory ran out.
struct Utf8Text {
  OwnedBytes bytes;
  std::int64_t length = 0;  // without the terminator
};

// The whole of text (null: the empty text) as UTF-8, an unpaired surrogate as U+FFFD, so
// the result is always valid UTF-8. Long texts are converted in slices with a stop point
// between them: call it outside any SharedChangeScope.
Utf8Text ConvertToUtf8(const char16_t* text);

// Characters (code points) in the bytes [start, end) of text; 0 when end <= start. A
// stray continuation byte, a byte F8-FF and a lead byte whose sequence would run past end
// count nothing.
std::int64_t Utf8CharCount(const char* text, std::int64_t start, std::int64_t end);

// Zero-terminated 8-bit text at position at, each byte one UTF-16 unit.
char16_t* BytesToStringResult(const char* bytes, std::int64_t at);

// The text of converted, shared.
SharedUtf8 ShareConverted(Utf8Text converted);

// text itself when it is valid UTF-8, else a repaired copy (see RegexExamineUtf8); the bytes
// are null when memory ran out.
SharedUtf8 ValidUtf8(const SharedUtf8& text);
