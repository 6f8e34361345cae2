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

ObjectTable* xmlTable = nullptr;

alignas(8) constexpr char16_t ListText[] = u"list";
alignas(8) constexpr char16_t ElementText[] = u"element";

// One pool for the nodes of every document, made on first use and kept to the end.
ElementPool& NodePool() {
  static ElementPool pool(ElementSlotSize(sizeof(XmlNode)), MinimumNodeBlock, MaximumNodeBlock);
  return pool;
}

XmlNode* NewNode() {
  auto* node = static_cast<XmlNode*>(NodePool().Take());
  if (node) *node = {};
  return node;
}

char16_t* BorrowedReference(const char16_t* aligned) {
  return reinterpret_cast<char16_t*>(reinterpret_cast<std::uintptr_t>(aligned) | 1);
}

void ReleaseString(char16_t*& reference) {
  if (IsOwned(reference)) FreeString(reference);
  reference = nullptr;
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
    ReleaseString(node->name);
    ReleaseString(node->text);
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
    std::free(block);
    block = next;
  }
  document.blockChain = nullptr;
}

// Room for bytes (a multiple of 8) in the newest text block, or in a new one twice as large
// as the last, up to MaximumTextBlock.
void* TakeDocumentRoom(XmlDocumentRecord& document, std::int64_t bytes) {
  DocumentBlock* block = document.blockChain;
  if (!block || block->capacity - block->used < bytes) {
    const std::int64_t doubled = block ? 2 * block->capacity : 0;
    const std::int64_t capacity =
        std::max(std::clamp(doubled, MinimumTextBlock, MaximumTextBlock), bytes);
    block = static_cast<DocumentBlock*>(
        std::malloc(sizeof(DocumentBlock) + static_cast<std::size_t>(capacity)));
    if (!block) return nullptr;
    *block = {document.blockChain, capacity, 0};
    document.blockChain = block;
  }
  void* room = reinterpret_cast<std::byte*>(block + 1) + block->used;
  block->used += bytes;
  return room;
}

}  // namespace

XmlDocumentRecord* FindDocument(ObjectNumber number) {
  return static_cast<XmlDocumentRecord*>(LookupObject(xmlTable, number));
}

XmlDocumentRecord* DocumentOf(const XmlNode* node) {
  return node ? FindDocument(node->document) : nullptr;
}

char16_t* CopyOfText(const char16_t* text, std::int64_t length) {
  StringVar copy = nullptr;
  AssignStringRange(copy, text ? text : u"", text ? length : 0);
  return copy;
}

char16_t* ListName() { return BorrowedReference(ListText); }
char16_t* ElementName() { return BorrowedReference(ElementText); }

XmlNode* CreateElement(XmlDocumentRecord& document, XmlNode* parent, char16_t* name,
                       XmlNode* previous) {
  const bool refused = parent == document.root && parent->firstChild;
  XmlNode* node = refused ? nullptr : NewNode();
  if (!node) {
    ReleaseString(name);
    return nullptr;
  }
  node->name = name;
  node->document = parent->document;
  node->parent = parent;
  if (!previous && parent->firstChild) {
    previous = parent->firstChild;
    while (previous->nextSibling) previous = previous->nextSibling;
  }
  (previous ? previous->nextSibling : parent->firstChild) = node;
  return node;
}

char16_t* DocumentText(XmlDocumentRecord& document, const char16_t* text, std::int64_t length) {
  const std::int64_t bytes = ((length + 1) * 2 + 7) & ~std::int64_t{7};
  auto* copy = text ? static_cast<char16_t*>(TakeDocumentRoom(document, bytes)) : nullptr;
  if (!copy) return CopyOfText(text, length);
  if (length > 0) std::memcpy(copy, text, static_cast<std::size_t>(length) * 2);
  copy[length] = 0;
  return BorrowedReference(copy);
}

void SetText(XmlNode* node, char16_t* text) {
  ReleaseString(node->text);
  node->text = text;
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
  XmlNode* root = NewNode();
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
  document->indentStep = -1;
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
  // An export of millions of records leaves as many free nodes; kept, they would hold
  // their memory for the rest of the run.
  NodePool().ReleaseBlocksIfUnused();
}

std::int64_t XmlNodesInUse() { return NodePool().SlotsInUse(); }
