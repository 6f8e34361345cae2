#include "json/json.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "json_tree.h"
#include "runtime/strings.h"
#include "string_map.h"

namespace {

constexpr std::int32_t kDocumentTableGrowth = 8;
constexpr std::int64_t kElementRecordSize = sizeof(JsonValue);

// A document's record in the object table: its first word is the root, non-zero while the
// document lives.
struct JsonDocument {
  JsonValue* root;
};

ObjectTable* documentTable = nullptr;

JsonDocument* FindDocument(ObjectNumber number) {
  return static_cast<JsonDocument*>(LookupObject(documentTable, number));
}

// While the release walk empties a container, the container's first word (kind, form,
// flags) holds the way back up: the parent's address, tagged in its low bit when the
// parent is an Array. The payload stays, so the container can still be destroyed.
static_assert(alignof(JsonValue) >= 2);

void LinkToParent(JsonValue* child, JsonValue* parent, bool parentIsArray) {
  const auto word = reinterpret_cast<std::uintptr_t>(parent) | (parentIsArray ? 1u : 0u);
  std::memcpy(child, &word, sizeof word);
}

JsonValue* ParentOf(const JsonValue* child, bool* parentIsArray) {
  std::uintptr_t word = 0;
  std::memcpy(&word, child, sizeof word);
  *parentIsArray = (word & 1u) != 0;
  return reinterpret_cast<JsonValue*>(word & ~std::uintptr_t{1});
}

void DestroyContainer(JsonValue& container, bool isArray) {
  if (isArray) {
    ListDestroy(container.elements);
  } else {
    DeleteStringMap(container.members);
  }
}

// Frees what a value without children owns; false for a container that has children.
bool ReleaseLeaf(JsonValue& value) {
  if (value.kind == JsonKindString) {
    std::free(value.text);
    return true;
  }
  if (!IsContainer(value)) return true;
  if (FirstChild(value)) return false;
  DestroyContainer(value, value.kind == JsonKindArray);
  return true;
}

// Frees everything root owns, depth first without recursion: documents of any depth
// release in constant stack and without allocating. Root's own 16 bytes are left as they
// were; everything below is gone.
void ReleaseTree(JsonValue& root) {
  if (ReleaseLeaf(root)) return;
  JsonValue* here = &root;
  bool hereIsArray = root.kind == JsonKindArray;
  JsonValue* child = FirstChild(root);
  for (;;) {
    while (child && ReleaseLeaf(*child)) child = NextSibling(child, hereIsArray);
    if (child) {
      JsonValue* grandchild = FirstChild(*child);
      const bool childIsArray = child->kind == JsonKindArray;
      LinkToParent(child, here, hereIsArray);
      here = child;
      hereIsArray = childIsArray;
      child = grandchild;
      continue;
    }
    JsonValue* finished = here;
    const bool finishedIsArray = hereIsArray;
    if (finished != &root) {
      here = ParentOf(finished, &hereIsArray);
      child = NextSibling(finished, hereIsArray);
    }
    DestroyContainer(*finished, finishedIsArray);
    if (finished == &root) return;
  }
}

// Clears the value and gives it the kind; the flags stay.
void Reset(JsonValue* value, std::int32_t kind) {
  JsonClearValue(value);
  value->kind = kind;
}

// Copies before clearing: the text may be the value's own.
void SetStringRange(JsonValue* value, const void* units, std::int64_t length) {
  char16_t* copy = nullptr;
  if (length > 0) {
    const auto bytes = static_cast<std::size_t>(length) * sizeof(char16_t);
    copy = static_cast<char16_t*>(std::malloc(bytes + sizeof(char16_t)));
    if (copy) {
      std::memcpy(copy, units, bytes);
      copy[length] = 0;
    }
  }
  Reset(value, JsonKindString);
  value->text = copy;
}

}  // namespace

bool IsContainer(const JsonValue& value) {
  return value.kind == JsonKindArray || value.kind == JsonKindObject;
}

JsonValue* FirstChild(const JsonValue& container) {
  if (container.kind == JsonKindArray) {
    return container.elements ? static_cast<JsonValue*>(RecordOf(container.elements->first))
                              : nullptr;
  }
  if (container.kind == JsonKindObject && container.members && container.members->first) {
    return &container.members->first->value;
  }
  return nullptr;
}

JsonValue* NextSibling(JsonValue* child, bool parentIsArray) {
  if (parentIsArray) {
    auto* element =
        reinterpret_cast<ListElement*>(reinterpret_cast<std::byte*>(child) - sizeof(ListElement));
    return static_cast<JsonValue*>(RecordOf(element->next));
  }
  MapMember* next = MemberOf(child)->next;
  return next ? &next->value : nullptr;
}

void SetStringUnits(JsonValue* value, const void* units, std::int64_t length) {
  if (value) SetStringRange(value, units, length);
}

JsonValue* AddMemberWithKey(JsonValue* object, const char16_t* key, std::int64_t length) {
  if (!object || object->kind != JsonKindObject || !object->members) return nullptr;
  bool existed = false;
  MapMember* member = FindOrAddMember(*object->members, key, length, &existed);
  if (!member) return nullptr;
  if (existed) JsonClearValue(&member->value);
  member->value.flags = object->flags;
  return &member->value;
}

void JsonInit() {
  if (documentTable) return;
  documentTable = CreateObjectTable(sizeof(JsonDocument), kDocumentTableGrowth, JsonFree);
}

void JsonEnd() { JsonFree(AnyHandle); }

ObjectNumber JsonCreate(ObjectNumber number, std::int32_t flags) {
  auto* document = static_cast<JsonDocument*>(AllocateObject(documentTable, number));
  if (!document) return 0;
  auto* root = new (std::nothrow) JsonValue{};
  if (!root) {
    ReleaseObject(documentTable, number == AnyHandle ? HandleOf(document) : number);
    return 0;
  }
  root->flags = static_cast<std::uint16_t>(flags & JsonNoCase);
  document->root = root;
  return HandleOf(document);
}

JsonValue* JsonRoot(ObjectNumber number) {
  JsonDocument* document = FindDocument(number);
  return document ? document->root : nullptr;
}

void JsonFree(ObjectNumber number) {
  if (number == AnyHandle) {
    FreeAllObjects(documentTable);
    return;
  }
  JsonDocument* document = FindDocument(number);
  if (!document) return;
  ReleaseTree(*document->root);
  delete document->root;
  ReleaseObject(documentTable, number);
}

void JsonClearValue(JsonValue* value) {
  if (!value) return;
  const std::uint16_t flags = value->flags;
  ReleaseTree(*value);
  *value = JsonValue{};
  value->flags = flags;
}

void JsonSetString(JsonValue* value, const char16_t* text) {
  SetStringUnits(value, text, StringLength(text));
}

void JsonSetInteger(JsonValue* value, std::int64_t n) {
  if (!value) return;
  Reset(value, JsonKindNumber);
  value->numberForm = JsonInteger;
  value->integer = n;
}

void JsonSetDouble(JsonValue* value, double x) {
  if (!value) return;
  Reset(value, JsonKindNumber);
  value->numberForm = JsonFloating;
  value->real = x;
}

void JsonSetArray(JsonValue* value) {
  if (!value) return;
  Reset(value, JsonKindArray);
  value->elements = ListCreate(kElementRecordSize, nullptr, nullptr,
                               static_cast<std::int32_t>(TypeCode::Untyped));
}

void JsonSetObject(JsonValue* value) {
  if (!value) return;
  Reset(value, JsonKindObject);
  value->members = NewStringMap(value->flags != 0);
}

JsonValue* JsonAppendElement(JsonValue* array) {
  if (!array || array->kind != JsonKindArray || !array->elements) return nullptr;
  RecordList* list = array->elements;
  // An append leaves the cursor on the last element, so only a cursor moved since needs
  // moving back there.
  if (list->current != list->last) ListLast(list);
  auto* element = static_cast<JsonValue*>(ListInsert(list));
  if (element) element->flags = array->flags;
  return element;
}

JsonValue* JsonAddMember(JsonValue* object, const char16_t* key) {
  return AddMemberWithKey(object, key, StringLength(key));
}
