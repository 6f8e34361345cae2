#include "xml_export.h"

#include <malloc.h>

#include "records/match_record.h"
#include "xml/xml.h"

namespace evaluator {

XmlExport::XmlExport() : document_(XmlCreate(AnyHandle, XmlEncodingUtf8)) {}

XmlExport::~XmlExport() {
  if (!document_) return;
  XmlFree(document_);
  // The document's millions of nodes and texts were taken on the export's thread, from a
  // heap of that thread's own, which keeps the pages freed inside it: without the trim the
  // memory of the largest export stays with the process to its end.
  malloc_trim(0);
}

void XmlExport::Insert(const RecordList* results) {
  XmlInsertList(XmlRootNode(document_), results, MatchStructDescriptor.data());
}

void XmlExport::Compose(const std::function<void(std::u16string_view)>& write) {
  if (!document_) return;
  XmlFormat(document_, XmlIndentTree, 2);
  const std::int64_t replaced = XmlCompose(document_, write);
  replaced_ = replaced > 0 ? static_cast<std::size_t>(replaced) : 0;
}

}  // namespace evaluator
