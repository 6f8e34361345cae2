#include "json/json.h"

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "json_tree.h"
#include "records/field_value.h"
#include "records/record_descriptor.h"
#include "runtime/text_encoding.h"
#include "runtime/unaligned.h"

namespace {

// Field names up to this length become keys without a heap block.
constexpr std::size_t kShortName = 64;

bool IsIntCode(std::int32_t typeCode) {
  return typeCode == static_cast<std::int32_t>(TypeCode::Int);
}

// Records by descriptor, unless there is none or the elements are Int.
void InsertElement(JsonValue* element, std::int32_t typeCode, std::int64_t size, const void* record,
                   RecordDescriptor descriptor) {
  if (descriptor && !IsIntCode(typeCode)) {
    JsonInsertRecord(element, record, descriptor);
  } else {
    JsonSetTyped(element, typeCode, size, record);
  }
}

// Units up to the first NUL, at most limit, in memory of any alignment.
// A field name as a key: widened from the code page (ISO-8859-1, one unit per byte),
// without a leading "*" and a trailing "$". Null when a long name finds no memory.
class FieldKey {
 public:
  explicit FieldKey(const char* field) {
    const std::string_view name = BareFieldName(field);
    const std::size_t length = name.size();
    if (length > kShortName) {
      heap_.reset(new (std::nothrow) char16_t[length]);
      units_ = heap_.get();
      if (!units_) return;
    }
    DecodeAnsi(name.data(), length, units_);
    length_ = static_cast<std::int64_t>(length);
  }
  [[nodiscard]] const char16_t* units() const { return units_; }
  [[nodiscard]] std::int64_t length() const { return length_; }

 private:
  char16_t inline_[kShortName];
  std::unique_ptr<char16_t[]> heap_;
  char16_t* units_ = inline_;
  std::int64_t length_ = 0;
};

// One simple field or fixed-array element at address.
void InsertSimple(JsonValue* value, const FieldCursor& field, const void* address) {
  if (field.isReference) {
    JsonSetInteger(value, LoadUnaligned<std::int64_t>(address));
  } else if (field.typeCode == static_cast<std::uint8_t>(TypeCode::Record)) {
    JsonInsertRecord(value, address, field.nestedDescriptor);
  } else {
    JsonSetTyped(value, field.typeCode, field.fixedStringBytes, address);
  }
}

void InsertField(JsonValue* member, const FieldCursor& field) {
  const void* address = field.fieldAddress;
  switch (field.kind) {
    case FieldKind::Simple:
      InsertSimple(member, field, address);
      break;
    case FieldKind::FixedArray:
      JsonSetArray(member);
      for (std::int32_t i = 0; i < field.count; ++i) {
        if (JsonValue* element = JsonAppendElement(member)) {
          InsertSimple(element, field, field.fieldAddress + std::int64_t{i} * field.stride);
        }
      }
      break;
    case FieldKind::List:
      JsonInsertList(member, LoadUnaligned<const RecordList*>(address), field.nestedDescriptor);
      break;
    case FieldKind::DynamicArray:  // no record of this system has one: the member stays null
    case FieldKind::Map:
    case FieldKind::None:
      break;
  }
}

}  // namespace

void JsonSetTyped(JsonValue* value, std::int32_t typeCode, std::int64_t byteLength,
                  const void* address) {
  if (!value || !address) return;
  if (const std::optional<FieldNumber> number = ReadFieldNumber(typeCode, address)) {
    return number->isReal ? JsonSetDouble(value, number->real)
                          : JsonSetInteger(value, number->integer);
  }
  switch (static_cast<TypeCode>(typeCode)) {
    case TypeCode::String:
      return JsonSetString(value, LoadUnaligned<const char16_t*>(address));
    case TypeCode::FixedString:
      return SetStringUnits(value, address, FixedStringLength(address, byteLength / 2));
    default:
      return;
  }
}

void JsonInsertRecord(JsonValue* value, const void* address, RecordDescriptor descriptor) {
  if (!value) return;
  JsonSetObject(value);
  if (!address) return;
  FieldCursor field;
  field.Start(descriptor, address);
  while (field.Step()) {
    const FieldKey key(field.name);
    if (!key.units()) continue;
    if (JsonValue* member = AddMemberWithKey(value, key.units(), key.length())) {
      InsertField(member, field);
    }
  }
}

void JsonInsertList(JsonValue* value, const RecordList* list, RecordDescriptor descriptor) {
  if (!value) return;
  JsonSetArray(value);
  if (!list) return;
  const std::int64_t recordSize = ListRecordSize(list);
  for (ListElement* element = list->first; element; element = element->next) {
    if (JsonValue* entry = JsonAppendElement(value)) {
      InsertElement(entry, list->typeCode, recordSize, RecordOf(element), descriptor);
    }
  }
}
