// Texts across the layer's boundary: callers pass zero-terminated UTF-16 (null is empty)
// and get results in a per-thread buffer.
#pragma once

#include <QString>

inline QString ToQString(const char16_t* text) {
  return text ? QString::fromUtf16(text) : QString();
}

// Valid until the calling thread's next call that returns text through here.
inline const char16_t* ReturnText(const QString& text) {
  thread_local std::u16string buffer;
  buffer = text.toStdU16String();
  return buffer.c_str();
}
