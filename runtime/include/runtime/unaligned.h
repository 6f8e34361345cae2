// Reading a value from memory of any alignment: fields of packed records, record
// descriptors, and words of text scanned eight bytes at a time.
#pragma once

#include <cstring>
#include <type_traits>

template <class T>
T LoadUnaligned(const void* address) {
  static_assert(std::is_trivially_copyable_v<T>, "only trivially copyable values load from bytes");
  T value;
  // T may itself be a pointer: its bytes are what is copied.
  std::memcpy(&value, address, sizeof value);  // NOLINT(bugprone-sizeof-expression)
  return value;
}
