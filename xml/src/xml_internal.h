// Internals shared by the document, insertion and compose sources.
#pragma once

#include <cstdint>

#include "xml/xml.h"

namespace xml_detail {

// A heap block of texts that nodes of one document borrow, freed with the document:
// filled from the front, capacity bytes after the header.
struct DocumentBlock {
  DocumentBlock* next;
  std::int64_t capacity;
  std::int64_t used;
};

// The object record of one document in the XML table.
struct XmlDocumentRecord {
  std::int64_t state;  // 1 while the document lives
  XmlNode* root;
  std::int32_t encoding;    // the one the declaration names
  std::int32_t indentStep;  // -1: composed on one line (see XmlFormat)
  DocumentBlock* blockChain;
};

XmlDocumentRecord* FindDocument(ObjectNumber number);
// The live document the node belongs to, or null (also for a null node).
XmlDocumentRecord* DocumentOf(const XmlNode* node);

// The text behind a node's string reference; null stays null (the empty string).
inline const char16_t* XmlString(const char16_t* reference) {
  return reinterpret_cast<const char16_t*>(reinterpret_cast<std::uintptr_t>(reference) &
                                           ~std::uintptr_t{7});
}

// Whether a node's string reference is a block it owns rather than a borrowed text.
inline bool IsOwned(const char16_t* reference) {
  return (reinterpret_cast<std::uintptr_t>(reference) & 7) == 0;
}

// An owned copy of length units of text (null: the empty string).
char16_t* CopyOfText(const char16_t* text, std::int64_t length);

// The name of the container elements, as a borrowed reference.
char16_t* ListName();
char16_t* ElementName();

// A new element named name (a reference it takes over) under parent, after previous, or
// after the parent's last child when previous is null. Null when refused: a second element
// under the root, or no memory.
XmlNode* CreateElement(XmlDocumentRecord& document, XmlNode* parent, char16_t* name,
                       XmlNode* previous);

// A text that nodes of document may borrow until the document is freed: length units of
// text copied into the document's blocks, or an owned copy when the blocks can't grow.
char16_t* DocumentText(XmlDocumentRecord& document, const char16_t* text, std::int64_t length);

// Replaces the node's text by text, which it takes over.
void SetText(XmlNode* node, char16_t* text);

}  // namespace xml_detail
