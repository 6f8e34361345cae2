// The XML export's text: the document that XmlInsertList builds from the result list,
// indented by XmlFormat and written by XmlCompose, with two repairs that make the file
// carry the results exactly. The declaration names UTF-8, the encoding the file is written
// in. Every match and group text is written as it stands: the formatter would fold runs of
// blanks and break multi-line texts, so the leaf texts are kept out of its reach and put
// back into the composed text, escaped so that a conforming parser reads them back code
// unit for code unit.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "records/record_list.h"
#include "runtime/object_registry.h"

namespace evaluator {

class XmlExport {
 public:
  XmlExport();
  ~XmlExport();
  XmlExport(const XmlExport&) = delete;
  XmlExport& operator=(const XmlExport&) = delete;

  // Takes the records into the document; the caller holds the list's lock meanwhile.
  void Insert(const RecordList* results);
  // Hands the whole file text to write, piece by piece in order.
  void Compose(const std::function<void(std::u16string_view)>& write);
  // The characters Compose wrote as U+FFFD (see AppendXmlLeafText).
  std::size_t ReplacedCharacters() const { return replaced_; }

 private:
  class LeafTexts;
  ObjectNumber document_;
  std::unique_ptr<LeafTexts> leaves_;
  std::size_t replaced_ = 0;
};

// A leaf text in XML character data: & < > escaped, every CR as a character reference
// (a parser turns a raw CR into LF), and what XML 1.0 can't carry at all as U+FFFD: the
// control characters other than TAB, LF and CR, U+FFFE, U+FFFF and unpaired surrogates,
// for which it has no form, not even a character reference. The number so replaced.
std::size_t AppendXmlLeafText(std::u16string_view text, std::u16string& out);

}  // namespace evaluator
