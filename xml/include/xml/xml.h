// XML documents: numbered document objects holding a tree of XmlNode records, the
// descriptor-driven insertion of lists, records, dynamic arrays and maps, a formatter that
// reworks the whitespace inside the texts, and a composer that writes the whole document as
// one UTF-16 string.
//
// Texts live in the nodes: an element's text holds all of its character data, and each
// child's text offset says how many characters of it stand between the previous sibling
// (or the start tag) and the child. Nodes made here have offset 0, so a parent's text is
// written after all of its children until XmlFormat places line breaks between them.
//
// A document is used by one thread at a time. Nodes come from one pool shared by all
// documents, with its own lock; the document table's lock guards creation and freeing.
// Nothing here recurses along the depth of a document: trees of any depth are freed,
// formatted and composed with their own stacks on the heap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/container_views.h"
#include "records/record_descriptor.h"
#include "records/record_list.h"
#include "runtime/object_registry.h"

// One (name, value) pair of an element's attribute array.
struct XmlAttribute {
  char16_t* name;
  char16_t* value;
};

enum XmlNodeType : std::uint16_t {
  XmlRoot = 0,
  XmlElement = 1,
  XmlComment = 2,
  XmlCData = 3,
  XmlRawMarkup = 4,
  XmlInstruction = 5,
};

// Every string reference in a node (name, text, attribute names and values) is either a
// block of the string heap that the node owns, or, when any of its three lowest bits is
// set, a text the node merely borrows and never frees. Read them through XmlString.
struct XmlNode {
  XmlNode* parent;
  XmlNode* firstChild;
  XmlNode* previousSibling;
  XmlNode* nextSibling;
  char16_t* name;
  char16_t* text;
  XmlAttribute* attributes;
  std::int64_t document;    // the document's number, or its handle
  std::int32_t textOffset;  // characters of the parent's text written before this node
  std::uint16_t type;       // an XmlNodeType
  std::uint16_t reserved;
  std::int16_t idAttribute;  // index of the attribute named "ID" in any case, or -1
  std::int16_t attributeCount;
  std::int16_t spareAttributes;
};

static_assert(offsetof(XmlNode, document) == 56);
static_assert(offsetof(XmlNode, textOffset) == 64);
static_assert(offsetof(XmlNode, type) == 68);
static_assert(offsetof(XmlNode, idAttribute) == 72);
static_assert(offsetof(XmlNode, spareAttributes) == 76);

// The text behind a node's string reference; null stays null (the empty string).
inline const char16_t* XmlString(const char16_t* reference) {
  return reinterpret_cast<const char16_t*>(reinterpret_cast<std::uintptr_t>(reference) &
                                           ~std::uintptr_t{7});
}

// As previous argument: place the new node after the parent's last child.
inline XmlNode* const XmlAfterLastChild = reinterpret_cast<XmlNode*>(std::intptr_t{-1});

// Document encodings recorded by XmlCreate (the composed string is UTF-16 regardless).
inline constexpr std::int32_t XmlEncodingUtf8 = 2;
inline constexpr std::int32_t XmlEncodingUtf16 = 25;

// Compose flags.
inline constexpr std::int32_t XmlBom = 1;            // begin with U+FEFF
inline constexpr std::int32_t XmlNoDeclaration = 2;  // no <?xml ...?> declaration

// Format flags.
inline constexpr std::int32_t XmlBreaksCrLf = 1;
inline constexpr std::int32_t XmlBreaksLf = 2;
inline constexpr std::int32_t XmlBreaksCr = 4;
inline constexpr std::int32_t XmlRemoveBreaks = 8;
inline constexpr std::int32_t XmlMergeBreaks = 16;
inline constexpr std::int32_t XmlRemoveBlanks = 32;
inline constexpr std::int32_t XmlMergeBlanks = 64;
inline constexpr std::int32_t XmlIndentTree = 128;
inline constexpr std::int32_t XmlIndentLines = 256;

// Start-up (makes the document table) and shut-down (frees every document).
void XmlInit();
void XmlEnd();

// A new document with its root node under number (a static number or AnyHandle). Returns
// the handle for AnyHandle, else the record's address; 0 on failure.
ObjectNumber XmlCreate(ObjectNumber number, std::int32_t encoding);

// The root node of a live document, or null.
XmlNode* XmlRootNode(ObjectNumber number);

// Frees the document with its whole node tree; AnyHandle frees every document.
void XmlFree(ObjectNumber number);

// A new node of type 1 to 5 under parent, placed after previous (XmlAfterLastChild, or a
// node that is not a child of parent: after the last child; null: as the first child).
// Null when refused: no parent, type 0, a dead document, or a second element directly under
// the root. A parent that is neither root nor element takes no children: the node is then
// returned unlinked and is never composed (it is freed with its document).
XmlNode* XmlCreateNode(XmlNode* parent, const char16_t* name, XmlNode* previous,
                       std::int32_t type);

// Replace the node's name (elements and instructions only) or text with a copy; null
// stores the empty string.
void XmlSetName(XmlNode* node, const char16_t* name);
void XmlSetText(XmlNode* node, const char16_t* text);

// Sets an attribute of an element: an attribute with exactly this name gets the new value,
// otherwise the pair is appended. Null name and value count as empty.
void XmlSetAttribute(XmlNode* node, const char16_t* name, const char16_t* value);

// Sets the node's text from one value of the given TypeCode at address: integers in
// decimal, reals through FormatReal(x, -1), String references, inline FixedStrings of at
// most byteLength / 2 characters. Other type codes leave the text alone.
void XmlSetTyped(XmlNode* node, std::int32_t typeCode, std::int64_t byteLength,
                 const void* address);

// Insertions: each adds one element ("list", the record's name, "array" or "map") holding
// one "element" child per entry, filled field by field through descriptor (each field a
// child element named after it), or from the entry's value when descriptor is null.
// Returns the new element, or null when it could not be created. Inside a record, a map
// field holds a MapView* and a dynamic-array field an ArrayDataView* (null: no data).
XmlNode* XmlInsertList(XmlNode* parent, const RecordList* list, RecordDescriptor descriptor);
XmlNode* XmlInsertRecord(XmlNode* parent, const void* record, RecordDescriptor descriptor);
XmlNode* XmlInsertArray(XmlNode* parent, const ArrayDataView* array,
                        RecordDescriptor descriptor, XmlNode* previous);
XmlNode* XmlInsertMap(XmlNode* parent, MapView* map, RecordDescriptor descriptor,
                      XmlNode* previous);

// Nodes taken from the shared node pool and not given back yet, over all documents.
std::int64_t XmlNodesInUse();

// Reworks the whitespace of the document's texts in place by flags (see the Xml...Breaks,
// ...Blanks and ...Indent... flags above); nothing for a dead number.
void XmlFormat(ObjectNumber number, std::int32_t flags, std::int64_t indentStep);

// The document as a string result at position at of the calling thread's string buffer
// (-1: the current position); the empty string for a dead number.
char16_t* XmlCompose(ObjectNumber number, std::int32_t flags, std::int64_t at);
