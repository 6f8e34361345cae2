#include "xml_export.h"

#include "records/match_record.h"
#include "xml/xml.h"

namespace evaluator {

XmlExport::XmlExport() : document_(XmlCreate(AnyHandle, XmlEncodingUtf8)) {}

XmlExport::~XmlExport() {
  if (document_) XmlFree(document_);
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
