// Texts across the layer's boundary: callers pass zero-terminated UTF-16 (null is empty)
// and get results in a per-thread buffer.
#pragma once

#include <QString>

inline QString ToQString(const char16_t* text) {
  return text ? QString::fromUtf16(text) : QString();
}

// Texts that cross between threads travel as std::u16string, never as QString: a QString
// copy shares its buffer through a reference count that no thread checker can see.
inline std::u16string CopyText(const char16_t* text) { return text ? text : u""; }

// Valid until the calling thread's next call that returns text through here.
inline const char16_t* ReturnText(std::u16string text) {
  thread_local std::u16string buffer;
  buffer = std::move(text);
  return buffer.c_str();
}
inline const char16_t* ReturnText(const QString& text) { return ReturnText(text.toStdU16String()); }
