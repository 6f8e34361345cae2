// A simple field's value read from its bytes by its type code, for the code that turns
// records into documents (JSON and XML insertion): one place says how wide each type is.
// Fields of packed records need no alignment.
#pragma once

#include <cstdint>
#include <optional>

#include "records/record_list.h"
#include "runtime/unaligned.h"

// A number field's value: an integer, or a real for Float32 and Float64.
struct FieldNumber {
  bool isReal = false;
  std::int64_t integer = 0;
  double real = 0;
};

// The value of a number field (Int8, Int16, Int32, Int64, Int, UInt8, UInt16, Char,
// Float32, Float64); nothing for any other type code.
inline std::optional<FieldNumber> ReadFieldNumber(std::int32_t typeCode, const void* address) {
  const auto integer = [](std::int64_t value) { return FieldNumber{false, value, 0}; };
  switch (static_cast<TypeCode>(typeCode)) {
    case TypeCode::Int8:
      return integer(LoadUnaligned<std::int8_t>(address));
    case TypeCode::Int16:
      return integer(LoadUnaligned<std::int16_t>(address));
    case TypeCode::Int32:
      return integer(LoadUnaligned<std::int32_t>(address));
    case TypeCode::Int64:
    case TypeCode::Int:
      return integer(LoadUnaligned<std::int64_t>(address));
    case TypeCode::UInt8:
      return integer(LoadUnaligned<std::uint8_t>(address));
    case TypeCode::Char:
    case TypeCode::UInt16:
      return integer(LoadUnaligned<std::uint16_t>(address));
    case TypeCode::Float32:
      return FieldNumber{true, 0, LoadUnaligned<float>(address)};
    case TypeCode::Float64:
      return FieldNumber{true, 0, LoadUnaligned<double>(address)};
    default:
      return std::nullopt;
  }
}

// The characters of a FixedString field of at most limit UTF-16 units, up to its first
// zero unit.
inline std::int64_t FixedStringLength(const void* address, std::int64_t limit) {
  const auto* bytes = static_cast<const std::byte*>(address);
  std::int64_t length = 0;
  while (length < limit && LoadUnaligned<char16_t>(bytes + length * 2) != 0) ++length;
  return length;
}
