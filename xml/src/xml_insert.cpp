#include <array>
#include <cstring>

#include "records/field_value.h"
#include "records/record_descriptor.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/unaligned.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

// Records nest inside records through descriptors and lists; deeper than this the field
// elements are still made but left empty, so that self-referring data can't exhaust the
// stack.
constexpr int MaximumNesting = 1024;
constexpr std::size_t CachedNames = 16;

// One insertion into one document. Field names are widened once per insertion and kept
// with the document, so the thousands of elements named after one field borrow one text.
class Inserter {
 public:
  explicit Inserter(XmlDocumentRecord& document) : document_(document) {}

  XmlNode* Element(XmlNode* parent, char16_t* name, XmlNode* previous) {
    return CreateElement(document_, parent, name, previous);
  }

  void FillList(XmlNode* node, const RecordList* list, RecordDescriptor descriptor);

 private:
  struct CachedName {
    const char* source;
    char16_t* borrowed;
  };

  char16_t* FieldName(const char* name);
  void FillRecord(XmlNode* node, const void* record, RecordDescriptor descriptor);
  void FillSimple(XmlNode* node, const FieldCursor& field, const std::uint8_t* address);
  void FillField(XmlNode* node, const FieldCursor& field);
  void SetTypedText(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                    const void* address);
  void SetDecimalText(XmlNode* node, std::int64_t value);
  void SetRealText(XmlNode* node, double value);
  void SetStoredText(XmlNode* node, const char16_t* text, std::int64_t length) {
    SetText(node, DocumentText(document_, text, length));
  }

  XmlDocumentRecord& document_;
  std::array<CachedName, CachedNames> names_{};
  std::size_t nameCount_ = 0;
  int nesting_ = 0;
};

// The field's name as the element's name: widened from the system code page, without the
// leading "*" of a reference field and the trailing "$" of a String field.
char16_t* Inserter::FieldName(const char* name) {
  for (std::size_t i = 0; i < nameCount_; ++i) {
    if (names_[i].source == name) return names_[i].borrowed;
  }
  if (!name) return nullptr;
  const char* source = name;
  const std::string_view bare = BareFieldName(name);
  const auto units = static_cast<std::int64_t>(bare.size());
  const std::int64_t at = TempPosition();
  char16_t* wide = ReserveTemp(units + 1, at);
  DecodeAnsi(bare.data(), bare.size(), wide);
  char16_t* kept =
      nameCount_ < CachedNames ? DocumentText(document_, wide, units) : CopyOfText(wide, units);
  SetTempPosition(at);
  // An owned copy (the document's blocks could not grow) belongs to one element alone.
  if (!IsOwned(kept)) names_[nameCount_++] = {source, kept};
  return kept;
}

void Inserter::FillList(XmlNode* node, const RecordList* list, RecordDescriptor descriptor) {
  if (!list) return;
  XmlNode* previous = nullptr;
  for (ListElement* element = list->first; element; element = element->next) {
    XmlNode* child = Element(node, ElementName(), previous);
    if (!child) continue;
    previous = child;
    if (descriptor) {
      FillRecord(child, RecordOf(element), descriptor);
    } else {
      SetTypedText(child, list->typeCode, ListRecordSize(list), RecordOf(element));
    }
  }
}

void Inserter::FillSimple(XmlNode* node, const FieldCursor& field, const std::uint8_t* address) {
  if (field.isReference) {
    SetDecimalText(node, LoadUnaligned<std::int64_t>(address));
  } else if (field.typeCode == static_cast<std::uint8_t>(TypeCode::Record)) {
    FillRecord(node, address, field.nestedDescriptor);
  } else {
    SetTypedText(node, field.typeCode, field.fixedStringBytes, address);
  }
}

// Fields of kinds that no record type of this system has (maps, dynamic arrays) stay
// empty elements.
void Inserter::FillField(XmlNode* node, const FieldCursor& field) {
  if (field.kind == FieldKind::Simple) {
    FillSimple(node, field, field.fieldAddress);
  } else if (field.kind == FieldKind::FixedArray) {
    XmlNode* previous = nullptr;
    for (std::int32_t i = 0; i < field.count; ++i) {
      XmlNode* child = Element(node, ElementName(), previous);
      if (!child) continue;
      previous = child;
      FillSimple(child, field, field.fieldAddress + std::int64_t{i} * field.stride);
    }
  } else if (field.kind == FieldKind::List) {
    FillList(node, LoadUnaligned<ListSlot>(field.fieldAddress).list, field.nestedDescriptor);
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

void Inserter::SetDecimalText(XmlNode* node, std::int64_t value) {
  std::array<char16_t, MostDecimalUnits> text;
  SetStoredText(node, text.data(), static_cast<std::int64_t>(FormatDecimal(value, text)));
}

void Inserter::SetRealText(XmlNode* node, double value) {
  const std::int64_t at = TempPosition();
  const char16_t* text = FormatReal(value, -1, at);
  SetStoredText(node, text, StringLength(text));
  SetTempPosition(at);
}

// Integers in decimal, reals through FormatReal(x, -1), String references, inline
// FixedStrings of at most byteLength / 2 characters; other type codes leave no text.
void Inserter::SetTypedText(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                            const void* address) {
  if (!address) return;
  if (const std::optional<FieldNumber> number = ReadFieldNumber(typeCode, address)) {
    return number->isReal ? SetRealText(node, number->real) : SetDecimalText(node, number->integer);
  }
  switch (static_cast<TypeCode>(typeCode)) {
    case TypeCode::String: {
      const auto* text = LoadUnaligned<const char16_t*>(address);
      if (text) SetStoredText(node, text, StringLength(text));
      return;
    }
    case TypeCode::FixedString: {
      const auto* text = static_cast<const char16_t*>(address);
      return SetStoredText(node, text, FixedStringLength(address, byteLength / 2));
    }
    default:
      return;
  }
}

}  // namespace

XmlNode* XmlInsertList(XmlNode* parent, const RecordList* list, RecordDescriptor descriptor) {
  XmlDocumentRecord* document = DocumentOf(parent);
  if (!document) return nullptr;
  Inserter inserter(*document);
  XmlNode* node = inserter.Element(parent, ListName(), nullptr);
  if (node) inserter.FillList(node, list, descriptor);
  return node;
}
