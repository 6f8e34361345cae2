// Reading a value from memory of any alignment: fields of packed records, record
// descriptors, and words of text scanned eight bytes at a time.
#pragma once

#include <cstring>
#include <type_traits>

template <class T>
  requires std::is_trivially_copyable_v<T>
T LoadUnaligned(const void* address) {
  T value;
  // T may itself be a pointer: its bytes are what is copied.
  std::memcpy(&value, address, sizeof value);  // NOLINT(bugprone-sizeof-expression)
  return value;
}
