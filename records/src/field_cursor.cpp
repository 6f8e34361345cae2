#include "records/record_descriptor.h"

#include <cstring>

#include "records/record_list.h"

namespace {

std::int32_t ReadInt32(const std::uint8_t* bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
  return static_cast<std::int32_t>(value);
}

const void* ReadAddress(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(value));
}

const char* NameAt(const std::uint8_t* bytes) { return reinterpret_cast<const char*>(bytes); }

const std::uint8_t* PastText(const std::uint8_t* bytes) {
  return bytes + std::strlen(NameAt(bytes)) + 1;
}

}  // namespace

void FieldCursor::Start(RecordDescriptor descriptor, const void* record) {
  *this = FieldCursor{};
  recordBase = static_cast<const std::uint8_t*>(record);
  if (!descriptor) return;
  recordName = NameAt(descriptor);
  const std::uint8_t* second = PastText(descriptor);
  secondName = NameAt(second);
  const std::uint8_t* mapAddress = PastText(second);
  layoutMap = static_cast<const std::int64_t*>(ReadAddress(mapAddress));
  position = mapAddress + 8;
}

bool FieldCursor::Step() {
  nestedDescriptor = nullptr;
  count = stride = fixedStringBytes = 0;
  if (!position || *position == descriptor::kEnd) return false;
  const std::uint8_t* entry = position;
  std::uint8_t typeByte = entry[1];
  const std::uint8_t* nameBytes = nullptr;
  switch (entry[0]) {
    case descriptor::kFixedArray:
      kind = FieldKind::FixedArray;
      offset = ReadInt32(entry + 2);
      count = ReadInt32(entry + 6);
      stride = ReadInt32(entry + 10);
      nameBytes = entry + 14;
      break;
    case descriptor::kList:
      kind = FieldKind::List;
      offset = ReadInt32(entry + 2);
      nameBytes = entry + 6;
      break;
    case descriptor::kDynamicArray:
      kind = FieldKind::DynamicArray;
      offset = ReadInt32(entry + 3);
      nameBytes = entry + 7;
      break;
    case descriptor::kMap:
      kind = FieldKind::Map;
      offset = ReadInt32(entry + 2);
      nameBytes = entry + 6;
      break;
    default:
      kind = FieldKind::Simple;
      typeByte = entry[0];
      offset = ReadInt32(entry + 1);
      nameBytes = entry + 5;
      break;
  }
  typeCode = typeByte & descriptor::kTypeCodeBits;
  isReference = (typeByte & descriptor::kReferenceBit) != 0;
  name = NameAt(nameBytes);
  position = PastText(nameBytes);
  if (typeCode == static_cast<std::uint8_t>(TypeCode::Record)) {
    nestedDescriptor = static_cast<RecordDescriptor>(ReadAddress(position));
    position += 8;
  } else if (typeCode == static_cast<std::uint8_t>(TypeCode::FixedString) && !isReference &&
             (kind == FieldKind::Simple || kind == FieldKind::FixedArray)) {
    fixedStringBytes = ReadInt32(position);
    position += 4;
  }
  fieldAddress = recordBase ? recordBase + offset : nullptr;
  return true;
}
