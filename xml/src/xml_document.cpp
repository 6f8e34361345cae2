#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "records/element_pool.h"
#include "runtime/strings.h"
#include "xml_internal.h"

namespace xml_detail {
namespace {

constexpr std::int32_t XmlTableGrowth = 8;
constexpr std::int64_t MinimumNodeBlock = 32;
constexpr std::int64_t MaximumNodeBlock = 512;
constexpr std::int64_t MinimumTextBlock = 4096;
constexpr std::int64_t MaximumTextBlock = 1 << 20;
constexpr std::int16_t AttributeGrowth = 4;
constexpr std::int16_t MaximumAttributes = INT16_MAX - AttributeGrowth;

ObjectTable* xmlTable = nullptr;

alignas(8) constexpr char16_t ListText[] = u"list";
alignas(8) constexpr char16_t ArrayText[] = u"array";
alignas(8) constexpr char16_t MapText[] = u"map";
alignas(8) constexpr char16_t ElementText[] = u"element";

// One pool for the nodes of every document, made on first use and kept to the end.
ElementPool& NodePool() {
  static ElementPool pool(ElementSlotSize(sizeof(XmlNode)), MinimumNodeBlock,
                          MaximumNodeBlock);
  return pool;
}

XmlNode* NewNode(std::uint16_t type) {
  auto* node = static_cast<XmlNode*>(NodePool().Take());
  if (!node) return nullptr;
  std::memset(node, 0, sizeof(XmlNode));
  node->type = type;
  node->idAttribute = -1;
  return node;
}

void ReleaseNodeStrings(XmlNode* node) {
  ReleaseString(node->name);
  ReleaseString(node->text);
  for (std::int16_t i = 0; i < node->attributeCount; ++i) {
    ReleaseString(node->attributes[i].name);
    ReleaseString(node->attributes[i].value);
  }
  std::free(node->attributes);  // a plain array of pairs, grown with realloc
  node->attributes = nullptr;
}

// Frees top and everything below it, deepest first, without recursion: always the first
// child of the node reached, which then unhooks itself from its parent. The nodes go back
// to the pool as one chain.
void FreeSubtree(XmlNode* top) {
  if (!top) return;
  void* freed = nullptr;
  void* lastFreed = nullptr;
  std::int64_t count = 0;
  XmlNode* node = top;
  for (;;) {
    while (node->firstChild) node = node->firstChild;
    XmlNode* parent = node->parent;
    const bool last = node == top;
    if (!last) parent->firstChild = node->nextSibling;
    ReleaseNodeStrings(node);
    if (!freed) lastFreed = node;
    *static_cast<void**>(static_cast<void*>(node)) = freed;
    freed = node;
    ++count;
    if (last) break;
    node = parent;
  }
  NodePool().GiveChain(freed, lastFreed, count);
}

void FreeBlockChain(XmlDocumentRecord& document) {
  DocumentBlock* block = document.blockChain;
  while (block) {
    DocumentBlock* next = block->next;
    FreeSubtree(block->detachedSubtree);
    std::free(block);
    block = next;
  }
  document.blockChain = nullptr;
}

DocumentBlock* AddBlock(XmlDocumentRecord& document, std::int64_t capacity) {
  const auto bytes = sizeof(DocumentBlock) + static_cast<std::size_t>(capacity);
  auto* block = static_cast<DocumentBlock*>(std::malloc(bytes));
  if (!block) return nullptr;
  *block = {document.blockChain, nullptr, capacity, 0};
  document.blockChain = block;
  return block;
}

// Room for bytes (a multiple of 8) in the newest text block, or in a new one twice as large
// as the last, up to MaximumTextBlock.
void* TakeDocumentRoom(XmlDocumentRecord& document, std::int64_t bytes) {
  DocumentBlock* block = document.blockChain;
  if (!block || block->capacity - block->used < bytes) {
    const std::int64_t doubled = block ? 2 * block->capacity : 0;
    const std::int64_t capacity =
        std::max(std::clamp(doubled, MinimumTextBlock, MaximumTextBlock), bytes);
    block = AddBlock(document, capacity);
    if (!block) return nullptr;
  }
  void* room = reinterpret_cast<std::byte*>(block + 1) + block->used;
  block->used += bytes;
  return room;
}

// Links node under parent after previous (see XmlCreateNode for what previous means).
void LinkChild(XmlNode* parent, XmlNode* node, XmlNode* previous) {
  XmlNode* first = parent->firstChild;
  if (!first) {
    parent->firstChild = node;
  } else if (previous == XmlAfterLastChild || (previous && previous->parent != parent)) {
    XmlNode* last = first;
    while (last->nextSibling) last = last->nextSibling;
    last->nextSibling = node;
    node->previousSibling = last;
  } else if (previous) {
    node->nextSibling = previous->nextSibling;
    if (node->nextSibling) node->nextSibling->previousSibling = node;
    previous->nextSibling = node;
    node->previousSibling = previous;
  } else {
    node->nextSibling = first;
    first->previousSibling = node;
    parent->firstChild = node;
  }
  node->parent = parent;
}

bool HasName(std::int32_t type) { return type == XmlElement || type == XmlInstruction; }

bool IsIdName(const char16_t* name) {
  return name && (name[0] == u'I' || name[0] == u'i') && (name[1] == u'D' || name[1] == u'd') &&
         name[2] == 0;
}

void SetRealText(XmlNode* node, double value, XmlDocumentRecord* store) {
  const std::int64_t at = TempPosition();
  const char16_t* text = FormatReal(value, -1, at);
  SetOwnedText(node, StoredText(store, text, StringLength(text)));
  SetTempPosition(at);
}

}  // namespace

XmlDocumentRecord* FindDocument(ObjectNumber number) {
  return static_cast<XmlDocumentRecord*>(LookupObject(xmlTable, number));
}

XmlDocumentRecord* DocumentOf(const XmlNode* node) {
  return node ? FindDocument(node->document) : nullptr;
}

void ReleaseString(char16_t*& reference) {
  if (IsOwned(reference)) FreeString(reference);
  reference = nullptr;
}

std::int64_t TextLength(const char16_t* reference) { return StringLength(XmlString(reference)); }

char16_t* CopyOfText(const char16_t* text, std::int64_t length) {
  StringVar copy = nullptr;
  AssignStringRange(copy, text ? text : u"", text ? length : 0);
  return copy;
}

char16_t* ListName() { return BorrowedReference(ListText); }
char16_t* ArrayName() { return BorrowedReference(ArrayText); }
char16_t* MapName() { return BorrowedReference(MapText); }
char16_t* ElementName() { return BorrowedReference(ElementText); }

XmlNode* CreateNode(XmlDocumentRecord& document, XmlNode* parent, char16_t* name,
                    XmlNode* previous, std::int32_t type) {
  const bool refused = !parent || type <= XmlRoot || type > XmlInstruction ||
                       (type == XmlElement && parent->type == XmlRoot && document.mainElement);
  XmlNode* node = refused ? nullptr : NewNode(static_cast<std::uint16_t>(type));
  if (!node || !HasName(type)) ReleaseString(name);
  if (!node) return nullptr;
  node->name = name;
  node->document = parent->document;
  if (parent->type > XmlElement) {
    // Outside the tree, but still the document's: it goes when the document goes.
    DocumentBlock* anchor = AddBlock(document, 0);
    if (!anchor) {
      FreeSubtree(node);
      return nullptr;
    }
    anchor->detachedSubtree = node;
    return node;
  }
  LinkChild(parent, node, previous);
  if (!document.mainElement && type == XmlElement && parent->type == XmlRoot) {
    document.mainElement = node;
  }
  return node;
}

char16_t* DocumentText(XmlDocumentRecord& document, const char16_t* text, std::int64_t length) {
  const std::int64_t bytes = ((length + 1) * 2 + 7) & ~std::int64_t{7};
  auto* copy = static_cast<char16_t*>(TakeDocumentRoom(document, bytes));
  if (!copy) return nullptr;
  if (length > 0) std::memcpy(copy, text, static_cast<std::size_t>(length) * 2);
  copy[length] = 0;
  return BorrowedReference(copy);
}

char16_t* StoredText(XmlDocumentRecord* store, const char16_t* text, std::int64_t length) {
  char16_t* kept = store && text ? DocumentText(*store, text, length) : nullptr;
  return kept ? kept : CopyOfText(text, length);
}

void SetOwnedText(XmlNode* node, char16_t* text) {
  ReleaseString(node->text);
  node->text = text;
}

std::int64_t FormatDecimal(std::int64_t value, char16_t (&out)[DecimalUnits]) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char16_t digits[DecimalUnits];
  std::size_t count = 0;
  std::uint64_t rest = magnitude;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + rest % 10);
    rest /= 10;
  } while (rest);
  std::int64_t length = 0;
  if (value < 0) out[length++] = u'-';
  while (count) out[length++] = digits[--count];
  out[length] = 0;
  return length;
}

void SetDecimalText(XmlNode* node, std::int64_t value, XmlDocumentRecord* store) {
  char16_t text[DecimalUnits];
  const std::int64_t length = FormatDecimal(value, text);
  SetOwnedText(node, StoredText(store, text, length));
}

void SetTypedText(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                  const void* address, XmlDocumentRecord* store) {
  if (!address) return;
  switch (static_cast<TypeCode>(typeCode)) {
    case TypeCode::Int8: return SetDecimalText(node, Read<std::int8_t>(address), store);
    case TypeCode::Int16: return SetDecimalText(node, Read<std::int16_t>(address), store);
    case TypeCode::Int32: return SetDecimalText(node, Read<std::int32_t>(address), store);
    case TypeCode::Int64:
    case TypeCode::Int: return SetDecimalText(node, Read<std::int64_t>(address), store);
    case TypeCode::UInt8: return SetDecimalText(node, Read<std::uint8_t>(address), store);
    case TypeCode::Char:
    case TypeCode::UInt16: return SetDecimalText(node, Read<std::uint16_t>(address), store);
    case TypeCode::Float32: return SetRealText(node, Read<float>(address), store);
    case TypeCode::Float64: return SetRealText(node, Read<double>(address), store);
    case TypeCode::String: {
      const auto* text = Read<const char16_t*>(address);
      return SetOwnedText(node, StoredText(store, text, StringLength(text)));
    }
    case TypeCode::FixedString: {
      const auto* text = static_cast<const char16_t*>(address);
      std::int64_t length = 0;
      while (length < byteLength / 2 && Read<char16_t>(text + length) != 0) ++length;
      return SetOwnedText(node, StoredText(store, text, length));
    }
    default: return;
  }
}

void SetAttributeValue(XmlNode* node, const char16_t* name, const char16_t* value) {
  if (node->type != XmlElement) return;
  if (!name) name = u"";
  for (std::int16_t i = 0; i < node->attributeCount; ++i) {
    XmlAttribute& pair = node->attributes[i];
    if (StringEquals(XmlString(pair.name), name)) {
      char16_t* copy = CopyOfText(value, StringLength(value));
      ReleaseString(pair.value);
      pair.value = copy;
      return;
    }
  }
  if (node->spareAttributes <= 0) {
    if (node->attributeCount >= MaximumAttributes) return;
    const std::int16_t slots = static_cast<std::int16_t>(node->attributeCount + AttributeGrowth);
    void* grown = std::realloc(node->attributes, sizeof(XmlAttribute) * slots);
    if (!grown) return;
    node->attributes = static_cast<XmlAttribute*>(grown);
    node->spareAttributes = AttributeGrowth;
  }
  XmlAttribute& pair = node->attributes[node->attributeCount];
  pair.name = CopyOfText(name, StringLength(name));
  pair.value = CopyOfText(value, StringLength(value));
  if (IsIdName(name)) node->idAttribute = node->attributeCount;
  ++node->attributeCount;
  --node->spareAttributes;
}

}  // namespace xml_detail

using namespace xml_detail;

void XmlInit() {
  if (xmlTable) return;
  xmlTable = CreateObjectTable(sizeof(XmlDocumentRecord), XmlTableGrowth, XmlFree);
  NodePool();
}

void XmlEnd() { XmlFree(AnyHandle); }

ObjectNumber XmlCreate(ObjectNumber number, std::int32_t encoding) {
  XmlNode* root = NewNode(XmlRoot);
  if (!root) return 0;
  void* record = AllocateObject(xmlTable, number);
  if (!record) {
    FreeSubtree(root);
    return 0;
  }
  auto* document = static_cast<XmlDocumentRecord*>(record);
  root->document = number == AnyHandle ? HandleOf(record) : number;
  document->root = root;
  document->encoding = encoding;
  document->standalone = -1;
  document->newlineKind = 1;
  document->state = 1;
  return HandleOf(record);
}

XmlNode* XmlRootNode(ObjectNumber number) {
  XmlDocumentRecord* document = FindDocument(number);
  return document ? document->root : nullptr;
}

void XmlFree(ObjectNumber number) {
  if (number == AnyHandle) {
    FreeAllObjects(xmlTable);
    return;
  }
  XmlDocumentRecord* document = FindDocument(number);
  if (!document) return;
  FreeSubtree(document->root);
  FreeBlockChain(*document);
  ReleaseObject(xmlTable, number);
}

std::int64_t XmlNodesInUse() { return NodePool().SlotsInUse(); }

XmlNode* XmlCreateNode(XmlNode* parent, const char16_t* name, XmlNode* previous,
                       std::int32_t type) {
  XmlDocumentRecord* document = DocumentOf(parent);
  if (!document) return nullptr;
  XmlNode* node = CreateNode(*document, parent, nullptr, previous, type);
  if (node && HasName(type)) node->name = CopyOfText(name, StringLength(name));
  return node;
}

void XmlSetName(XmlNode* node, const char16_t* name) {
  if (!DocumentOf(node) || !HasName(node->type)) return;
  char16_t* copy = CopyOfText(name, StringLength(name));
  ReleaseString(node->name);
  node->name = copy;
}

void XmlSetText(XmlNode* node, const char16_t* text) {
  if (!DocumentOf(node)) return;
  SetOwnedText(node, CopyOfText(text, StringLength(text)));
}

void XmlSetAttribute(XmlNode* node, const char16_t* name, const char16_t* value) {
  if (DocumentOf(node)) SetAttributeValue(node, name, value);
}

void XmlSetTyped(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                 const void* address) {
  if (DocumentOf(node)) SetTypedText(node, typeCode, byteLength, address, nullptr);
}
