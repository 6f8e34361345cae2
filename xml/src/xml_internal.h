// Internals shared by the document, insertion, format and compose sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "xml/xml.h"

namespace xml_detail {

// A heap block freed with its document: either room for texts that nodes of the document
// borrow (filled from the front, capacity bytes after the header), or the anchor of a
// subtree that was created under a parent taking no children and so hangs nowhere in the
// tree (capacity 0).
struct DocumentBlock {
  DocumentBlock* next;
  XmlNode* detachedSubtree;
  std::int64_t capacity;
  std::int64_t used;
};

// The object record of one document in the XML table.
struct XmlDocumentRecord {
  std::int64_t state;  // 1 while the document lives
  XmlNode* root;
  XmlNode* mainElement;
  std::int32_t encoding;
  std::int32_t standalone;   // -1 not stated, 0 "no", 1 "yes"
  std::int32_t newlineKind;  // 1 CR LF, 2 LF, 4 CR
  DocumentBlock* blockChain;
  void* parserState;  // only a parser would fill it; this system has none
};

XmlDocumentRecord* FindDocument(ObjectNumber number);
// The live document the node belongs to, or null (also for a null node).
XmlDocumentRecord* DocumentOf(const XmlNode* node);

// String references: owned blocks of the string heap, or borrowed texts tagged in their
// lowest bit (borrowed texts are 8-aligned, so clearing the three low bits restores them).
inline bool IsOwned(const char16_t* reference) {
  return (reinterpret_cast<std::uintptr_t>(reference) & 7) == 0;
}
inline char16_t* BorrowedReference(const char16_t* aligned) {
  return reinterpret_cast<char16_t*>(reinterpret_cast<std::uintptr_t>(aligned) | 1);
}
void ReleaseString(char16_t*& reference);
std::int64_t TextLength(const char16_t* reference);
// An owned copy of length units of text (null: the empty string).
char16_t* CopyOfText(const char16_t* text, std::int64_t length);

// The ASCII names of the container elements and of the map key attribute, as borrowed
// references.
char16_t* ListName();
char16_t* ArrayName();
char16_t* MapName();
char16_t* ElementName();

// A node of type 1 to 5 under parent in document (see XmlCreateNode); name is a reference
// the node takes over when its type has a name and that is released otherwise. Null when
// refused.
XmlNode* CreateNode(XmlDocumentRecord& document, XmlNode* parent, char16_t* name,
                    XmlNode* previous, std::int32_t type);

// A text that nodes of document may borrow until the document is freed: length units of
// text copied into the document's blocks. Null when memory ran out.
char16_t* DocumentText(XmlDocumentRecord& document, const char16_t* text, std::int64_t length);

// A copy of length units of text for a node of store's document: borrowed from the document
// when store is given (texts made in bulk, never replaced one by one), else owned.
char16_t* StoredText(XmlDocumentRecord* store, const char16_t* text, std::int64_t length);

// Writes value in decimal ("-" for negative values) with a terminator; returns the length.
inline constexpr std::size_t DecimalUnits = 24;
std::int64_t FormatDecimal(std::int64_t value, char16_t (&out)[DecimalUnits]);

void SetOwnedText(XmlNode* node, char16_t* text);  // the node takes text over
void SetTypedText(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                  const void* address, XmlDocumentRecord* store);
void SetDecimalText(XmlNode* node, std::int64_t value, XmlDocumentRecord* store);
void SetAttributeValue(XmlNode* node, const char16_t* name, const char16_t* value);

// A value read from memory that may be unaligned (fields of packed records).
template <class T>
T Read(const void* address) {
  T value;
  std::memcpy(&value, address, sizeof value);
  return value;
}

// Visits root and every node below it in document order, as visit(node, depth) with depth
// 0 for root, without recursion. visit may rewrite texts and offsets but not the links.
template <class Visit>
void ForEachNode(XmlNode* root, Visit&& visit) {
  XmlNode* node = root;
  std::int64_t depth = 0;
  while (node) {
    visit(node, depth);
    if (node->firstChild) {
      node = node->firstChild;
      ++depth;
      continue;
    }
    while (node != root && !node->nextSibling) {
      node = node->parent;
      --depth;
    }
    node = node == root ? nullptr : node->nextSibling;
  }
}

}  // namespace xml_detail
