// Record descriptors: one byte string per record type that names every field with its
// kind, type code and offset, for generic code (JSON and XML insertion) to walk with a
// FieldCursor. Multi-byte integers are little-endian and need no alignment.
//
//   record name, NUL; second name, NUL (empty here); 8-byte address of the layout map;
//   field entries; 0xFF.
//
// Field entries:
//   simple       type byte, int32 offset, name, NUL
//   fixed array  0xFE, type byte, int32 offset, int32 count, int32 stride, name, NUL
//   list         0x0E, element type byte, int32 offset of the ListSlot, name, NUL
//   dyn. array   0x0F, element type byte, one byte more, int32 offset, name, NUL
//   map          0x16, element type byte, int32 offset, name, NUL
// A type byte holds the TypeCode in bits 0-5 and sets bit 7 for a reference field. After
// the name of an entry of type 7 (Record) follows the 8-byte address of that record's
// descriptor; after the name of a simple or fixed-array FixedString (10) that is not a
// reference follows its int32 length in bytes.
#pragma once

#include <cstdint>
#include <string_view>

using RecordDescriptor = const std::uint8_t*;

namespace descriptor {
inline constexpr std::uint8_t kEnd = 0xFF;
inline constexpr std::uint8_t kFixedArray = 0xFE;
inline constexpr std::uint8_t kList = 0x0E;
inline constexpr std::uint8_t kDynamicArray = 0x0F;
inline constexpr std::uint8_t kMap = 0x16;
inline constexpr std::uint8_t kTypeCodeBits = 0x3F;
inline constexpr std::uint8_t kReferenceBit = 0x80;
}  // namespace descriptor

// A field's name as a key or element name: without the leading "*" of a reference field
// and the trailing "$" of a String field.
inline std::string_view BareFieldName(const char* name) {
  std::string_view bare(name ? name : "");
  if (bare.starts_with('*')) bare.remove_prefix(1);
  if (bare.ends_with('$')) bare.remove_suffix(1);
  return bare;
}

enum class FieldKind : std::int32_t {
  None = 0,
  Simple = 1,
  FixedArray = 2,
  DynamicArray = 3,
  List = 4,
  Map = 5,
};

// One walk over a descriptor and a record: Start reads the header, each Step the next
// field entry. The field values describe the entry that the last Step read.
struct FieldCursor {
  const char* recordName = nullptr;
  const char* secondName = nullptr;
  const std::int64_t* layoutMap = nullptr;
  const std::uint8_t* recordBase = nullptr;
  const std::uint8_t* position = nullptr;  // null: nothing (left) to read

  const char* name = nullptr;
  FieldKind kind = FieldKind::None;
  std::uint8_t typeCode = 0;
  bool isReference = false;
  std::int32_t offset = 0;
  const std::uint8_t* fieldAddress = nullptr;   // recordBase + offset
  std::int32_t count = 0;                       // fixed arrays
  std::int32_t stride = 0;                      // fixed arrays
  std::int32_t fixedStringBytes = 0;            // FixedString fields that hold the text
  RecordDescriptor nestedDescriptor = nullptr;  // type 7 only

  void Start(RecordDescriptor descriptor, const void* record);
  // true when a field was read, false at the end byte (and for a null descriptor).
  bool Step();
};
