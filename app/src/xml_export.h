// The XML export's text: the document that XmlInsertList builds from the result list,
// laid out with an indentation step of 2 and streamed by XmlCompose. The declaration
// names UTF-8, the encoding the file is written in. Every match and group text is written
// as it stands, escaped so that a conforming parser reads it back code unit for code unit.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

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
  // Hands the whole file text to write, piece by piece in order; false when the document
  // could not be made or composed whole (memory ran out).
  [[nodiscard]] bool Compose(const std::function<void(std::u16string_view)>& write);
  // The characters Compose wrote as U+FFFD, which XML can't hold (see XmlCompose).
  [[nodiscard]] std::size_t ReplacedCharacters() const { return replaced_; }

 private:
  ObjectNumber document_;
  std::size_t replaced_ = 0;
};

}  // namespace evaluator
