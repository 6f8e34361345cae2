// Texts across the layer's boundary: callers pass zero-terminated UTF-16 (null is empty)
// and get results in a per-thread buffer.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "runtime/strings.h"

inline QString ToQString(const char16_t* text) {
  return text ? QString::fromUtf16(text) : QString();
}

// The calling thread's buffer for returned texts; it keeps its capacity between calls.
inline std::u16string& ReturnBuffer() {
  thread_local std::u16string buffer;
  return buffer;
}

// Texts that cross between threads travel as std::u16string, never as QString: a QString
// copy shares its buffer through a reference count that no thread checker can see.
inline std::u16string OwnedText(const char16_t* text) { return text ? text : u""; }

// Valid until the calling thread's next call that returns text through here.
inline const char16_t* ReturnText(std::u16string text) {
  std::u16string& buffer = ReturnBuffer();
  buffer = std::move(text);
  return buffer.c_str();
}
inline const char16_t* ReturnText(const QString& text) { return ReturnText(text.toStdU16String()); }
