#include <array>
#include <cstring>

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

// Records nest inside records through descriptors and lists; deeper than this the field
// elements are still made but left empty, so that self-referring data can't exhaust the
// stack.
constexpr int MaximumNesting = 1024;
constexpr std::size_t CachedNames = 16;
constexpr char16_t KeyName[] = u"key";
// Index attributes are named by single letters, "a" to "z".
constexpr std::int32_t MaximumDimensions = 26;

// One insertion into one document. Field names are widened once per insertion and kept
// with the document, so the thousands of elements named after one field borrow one text.
class Inserter {
 public:
  explicit Inserter(XmlDocumentRecord& document) : document_(document) {}

  XmlNode* Element(XmlNode* parent, char16_t* name, XmlNode* previous) {
    return CreateNode(document_, parent, name, previous, XmlElement);
  }

  char16_t* RecordName(const char* name) { return Widened(name, false); }
  void FillList(XmlNode* node, const RecordList* list, RecordDescriptor descriptor);
  void FillRecord(XmlNode* node, const void* record, RecordDescriptor descriptor);
  void FillArray(XmlNode* node, const ArrayDataView* array, RecordDescriptor descriptor);
  void FillMap(XmlNode* node, MapView* map, RecordDescriptor descriptor);

 private:
  struct CachedName {
    const char* source;
    char16_t* borrowed;
  };

  char16_t* Widened(const char* name, bool asField);
  char16_t* FieldName(const char* name);
  void FillEntry(XmlNode* node, const void* record, RecordDescriptor descriptor,
                 std::int32_t typeCode, std::int64_t size);
  void FillSimple(XmlNode* node, const FieldCursor& field, const std::uint8_t* address);
  void FillField(XmlNode* node, const FieldCursor& field);

  XmlDocumentRecord& document_;
  std::array<CachedName, CachedNames> names_{};
  std::size_t nameCount_ = 0;
  int nesting_ = 0;
};

// The name as the element's name: widened from the system code page and, for a field, without
// the leading "*" of a reference field and the trailing "$" of a String field.
char16_t* Inserter::Widened(const char* name, bool asField) {
  if (!name) return nullptr;
  std::size_t length = std::strlen(name);
  if (asField && length > 0 && name[0] == '*') ++name, --length;
  if (asField && length > 0 && name[length - 1] == '$') --length;
  const auto units = static_cast<std::int64_t>(length);
  const std::int64_t at = TempPosition();
  char16_t* wide = ReserveTemp(units + 1, at);
  DecodeAnsi(name, length, wide);
  wide[length] = 0;
  char16_t* kept = asField && nameCount_ < CachedNames
                       ? DocumentText(document_, wide, units)
                       : nullptr;
  if (!kept) kept = CopyOfText(wide, units);
  SetTempPosition(at);
  return kept;
}

char16_t* Inserter::FieldName(const char* name) {
  for (std::size_t i = 0; i < nameCount_; ++i) {
    if (names_[i].source == name) return names_[i].borrowed;
  }
  char16_t* widened = Widened(name, true);
  if (!IsOwned(widened)) names_[nameCount_++] = {name, widened};
  return widened;
}

void Inserter::FillEntry(XmlNode* node, const void* record, RecordDescriptor descriptor,
                         std::int32_t typeCode, std::int64_t size) {
  if (descriptor) {
    FillRecord(node, record, descriptor);
  } else {
    SetTypedText(node, typeCode, size, record, &document_);
  }
}

void Inserter::FillList(XmlNode* node, const RecordList* list, RecordDescriptor descriptor) {
  if (!list) return;
  XmlNode* previous = nullptr;
  for (ListElement* element = list->first; element; element = element->next) {
    XmlNode* child = Element(node, ElementName(), previous);
    if (!child) continue;
    previous = child;
    FillEntry(child, RecordOf(element), descriptor, list->typeCode, ListRecordSize(list));
  }
}

void Inserter::FillSimple(XmlNode* node, const FieldCursor& field,
                          const std::uint8_t* address) {
  if (field.isReference) {
    SetDecimalText(node, Read<std::int64_t>(address), &document_);
  } else if (field.typeCode == static_cast<std::uint8_t>(TypeCode::Record)) {
    FillRecord(node, address, field.nestedDescriptor);
  } else {
    SetTypedText(node, field.typeCode, field.fixedStringBytes, address, &document_);
  }
}

void Inserter::FillField(XmlNode* node, const FieldCursor& field) {
  switch (field.kind) {
    case FieldKind::Simple:
      FillSimple(node, field, field.fieldAddress);
      break;
    case FieldKind::FixedArray: {
      XmlNode* previous = nullptr;
      for (std::int32_t i = 0; i < field.count; ++i) {
        XmlNode* child = Element(node, ElementName(), previous);
        if (!child) continue;
        previous = child;
        FillSimple(child, field, field.fieldAddress + std::int64_t{i} * field.stride);
      }
      break;
    }
    case FieldKind::List:
      FillList(node, Read<ListSlot>(field.fieldAddress).list, field.nestedDescriptor);
      break;
    case FieldKind::Map:
      FillMap(node, Read<MapView*>(field.fieldAddress), field.nestedDescriptor);
      break;
    case FieldKind::DynamicArray:
      FillArray(node, Read<const ArrayDataView*>(field.fieldAddress), field.nestedDescriptor);
      break;
    case FieldKind::None:
      break;
  }
}

void Inserter::FillRecord(XmlNode* node, const void* record, RecordDescriptor descriptor) {
  if (!record || nesting_ >= MaximumNesting) return;
  ++nesting_;
  FieldCursor field;
  field.Start(descriptor, record);
  XmlNode* previous = nullptr;
  while (field.Step()) {
    XmlNode* child = Element(node, FieldName(field.name), previous);
    if (!child) continue;
    previous = child;
    FillField(child, field);
  }
  --nesting_;
}

// Entries of an array with these upper bounds; 0 when the count is absurd.
std::int64_t EntryCount(const ArrayDataView& array) {
  std::int64_t count = 1;
  for (std::int32_t d = 0; d < array.dimensionCount; ++d) {
    const std::int64_t extent = array.upperBounds[d] + 1;
    if (extent <= 0 || count > INT64_MAX / extent) return 0;
    count *= extent;
  }
  return count;
}

// Steps the per-dimension indices to the next entry in memory order (last index fastest).
void NextIndex(std::int64_t* index, const ArrayDataView& array) {
  for (std::int32_t d = array.dimensionCount; d-- > 0;) {
    if (++index[d] <= array.upperBounds[d]) return;
    index[d] = 0;
  }
}

// One attribute per dimension, "a" for the first, holding the entry's index there.
void SetIndexAttributes(XmlNode* node, const std::int64_t* index, std::int32_t dimensions) {
  for (std::int32_t d = 0; d < dimensions; ++d) {
    const char16_t letter[] = {static_cast<char16_t>(u'a' + d), 0};
    char16_t value[DecimalUnits];
    FormatDecimal(index[d], value);
    SetAttributeValue(node, letter, value);
  }
}

void Inserter::FillArray(XmlNode* node, const ArrayDataView* array,
                         RecordDescriptor descriptor) {
  if (!array || array->dimensionCount < 1 || array->dimensionCount > MaximumDimensions ||
      !array->upperBounds || !array->elements || array->elementSize < 0) {
    return;
  }
  const std::int64_t count = EntryCount(*array);
  std::array<std::int64_t, MaximumDimensions> index{};
  const auto* entries = static_cast<const std::uint8_t*>(array->elements);
  XmlNode* previous = nullptr;
  for (std::int64_t i = 0; i < count; ++i, NextIndex(index.data(), *array)) {
    XmlNode* child = Element(node, ElementName(), previous);
    if (!child) continue;
    previous = child;
    FillEntry(child, entries + i * array->elementSize, descriptor, array->typeCode,
              array->elementSize);
    if (array->dimensionCount > 1) {
      SetIndexAttributes(child, index.data(), array->dimensionCount);
    }
  }
}

void Inserter::FillMap(XmlNode* node, MapView* map, RecordDescriptor descriptor) {
  if (!map) return;
  const std::int64_t saved = map->position;
  MapRewind(map);
  XmlNode* previous = nullptr;
  while (const MapEntryView* entry = MapNextEntry(map)) {
    XmlNode* child = Element(node, ElementName(), previous);
    if (!child) continue;
    previous = child;
    SetAttributeValue(child, KeyName, entry->key);
    FillEntry(child, entry->record, descriptor, map->typeCode, map->elementSize);
  }
  map->position = saved;
}

// Creates one element under parent, named by name(inserter), and fills it by
// fill(inserter, element), all within one insertion into parent's document.
template <class Name, class Fill>
XmlNode* InsertElement(XmlNode* parent, XmlNode* previous, Name&& name, Fill&& fill) {
  XmlDocumentRecord* document = DocumentOf(parent);
  if (!document) return nullptr;
  Inserter inserter(*document);
  XmlNode* node = inserter.Element(parent, name(inserter), previous);
  if (node) fill(inserter, node);
  return node;
}

}  // namespace

XmlNode* XmlInsertList(XmlNode* parent, const RecordList* list, RecordDescriptor descriptor) {
  return InsertElement(
      parent, XmlAfterLastChild, [](Inserter&) { return ListName(); },
      [&](Inserter& inserter, XmlNode* node) { inserter.FillList(node, list, descriptor); });
}

XmlNode* XmlInsertRecord(XmlNode* parent, const void* record, RecordDescriptor descriptor) {
  if (!descriptor) return nullptr;
  return InsertElement(
      parent, XmlAfterLastChild,
      [&](Inserter& inserter) {
        return inserter.RecordName(reinterpret_cast<const char*>(descriptor));
      },
      [&](Inserter& inserter, XmlNode* node) { inserter.FillRecord(node, record, descriptor); });
}

XmlNode* XmlInsertArray(XmlNode* parent, const ArrayDataView* array,
                        RecordDescriptor descriptor, XmlNode* previous) {
  return InsertElement(
      parent, previous, [](Inserter&) { return ArrayName(); },
      [&](Inserter& inserter, XmlNode* node) { inserter.FillArray(node, array, descriptor); });
}

XmlNode* XmlInsertMap(XmlNode* parent, MapView* map, RecordDescriptor descriptor,
                      XmlNode* previous) {
  return InsertElement(
      parent, previous, [](Inserter&) { return MapName(); },
      [&](Inserter& inserter, XmlNode* node) { inserter.FillMap(node, map, descriptor); });
}
