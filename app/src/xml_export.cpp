#include "xml_export.h"

#include "records/match_record.h"
#include "xml/xml.h"

namespace evaluator {

XmlExport::XmlExport() : document_(XmlCreate(AnyHandle, XmlEncodingUtf8)) {}

XmlExport::~XmlExport() {
  if (!document_) return;
  // The heap's freed pages go back once the export is done (ExportJob::Run).
  XmlFree(document_);
}

void XmlExport::Insert(const RecordList* results) {
  XmlInsertList(XmlRootNode(document_), results, MatchStructDescriptor.data());
}

bool XmlExport::Compose(const std::function<void(std::u16string_view)>& write) {
  if (!document_) return false;
  XmlFormat(document_, XmlIndentTree, 2);
  const std::int64_t replaced = XmlCompose(document_, write);
  replaced_ = replaced > 0 ? static_cast<std::size_t>(replaced) : 0;
  return replaced >= 0;
}

}  // namespace evaluator
