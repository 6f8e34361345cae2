// XML documents: numbered document objects holding a tree of elements that XmlInsertList
// builds from a record list through its descriptor, and a composer that streams the whole
// document as text, laid out on indented lines when XmlFormat asked for it.
//
// An element holds either child elements or a text, never both: the insertion makes every
// field with a value a leaf and every list, record or array a container. Texts are kept
// exactly as they are inserted; the composer escapes each one once, as it writes it.
//
// A document is used by one thread at a time. Nodes come from one pool shared by all
// documents, with its own lock; the document table's lock guards creation and freeing.
// Nothing here recurses along the depth of a document: trees of any depth are freed and
// composed with their own stacks on the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "records/record_descriptor.h"
#include "records/record_list.h"
#include "runtime/object_registry.h"

// The root (the document node) or an element. The name and the text are each either a
// block of the string heap that the node owns, or, when any of the three lowest bits is
// set, a text the node borrows from its document and never frees.
struct XmlNode {
  XmlNode* parent;
  XmlNode* firstChild;
  XmlNode* nextSibling;
  char16_t* name;
  char16_t* text;
  std::int64_t document;  // the document's number, or its handle
};

// Encodings the composed text is to be stored in, which its declaration names.
inline constexpr std::int32_t XmlEncodingUtf8 = 2;
inline constexpr std::int32_t XmlEncodingUtf16 = 25;

// Format flag: lay the tree out on indented lines.
inline constexpr std::int32_t XmlIndentTree = 128;

// Start-up (makes the document table) and shut-down (frees every document).
void XmlInit();
void XmlEnd();

// A new document with its root node under number (a static number or AnyHandle), whose
// declaration names encoding: "UTF-8", "UTF-16", or "ISO-8859-1" for any other value.
// Returns the handle for AnyHandle, else the record's address; 0 on failure.
ObjectNumber XmlCreate(ObjectNumber number, std::int32_t encoding);

// The root node of a live document, or null.
XmlNode* XmlRootNode(ObjectNumber number);

// Frees the document with its whole node tree; AnyHandle frees every document. Once no
// document holds a node any more, the node pool gives its blocks back to the heap.
void XmlFree(ObjectNumber number);

// Adds one element "list" as the parent's last child, holding one "element" child per
// entry of the list in list order, filled field by field through descriptor (each field a
// child element named after it: a string or number its text, a record, list or fixed array
// its children), or from the entry's value when descriptor is null. Returns the new
// element, or null when it could not be created: no live parent, or a second element
// directly under the root.
XmlNode* XmlInsertList(XmlNode* parent, const RecordList* list, RecordDescriptor descriptor);

// Nodes taken from the shared node pool and not given back yet, over all documents.
std::int64_t XmlNodesInUse();

// With XmlIndentTree, the document is composed on lines: an empty line after the
// declaration, each element on a line of its own indented by indentStep per level, the end
// tag of an element holding elements on a line of its own, every line ended by CR LF.
// Texts are not touched. Without the flag, and for a dead number, nothing changes.
void XmlFormat(ObjectNumber number, std::int32_t flags, std::int64_t indentStep);

// Receives the composed text piece by piece, in order. A piece never ends inside a
// surrogate pair.
using XmlWrite = std::function<void(std::u16string_view)>;

// Writes the document through write: the declaration naming the document's encoding, then
// the tree. Texts are escaped so that a conforming parser reads back every character as it
// was: & < > as entities, CR as "&#13;" (a parser would read a raw one as LF), and what
// XML 1.0 has no form for at all (the control characters other than TAB, LF and CR,
// U+FFFE, U+FFFF, an unpaired surrogate) as U+FFFD.
// Returns how many characters were written as U+FFFD; -1 for a dead number (nothing is
// written) or when memory ran out (what was written is not the whole document).
std::int64_t XmlCompose(ObjectNumber number, const XmlWrite& write);
