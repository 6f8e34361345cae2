// Reading a value from memory of any alignment: fields of packed records, record
// descriptors, and words of text scanned eight bytes at a time.
#pragma once

#include <cstring>
#include <type_traits>

template <class T>
  requires std::is_trivially_copyable_v<T>
T LoadUnaligned(const void* address) {
  T value;
  std::memcpy(&value, address, sizeof value);
  return value;
}
