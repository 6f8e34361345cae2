#include "xml_export.h"

#include <algorithm>
#include <vector>

#include "records/match_record.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "xml/xml.h"

namespace evaluator {
namespace {

// Stands in for each leaf text while the document is formatted: one character that is no
// whitespace (so the formatter keeps it on its tag's line) and that nothing else in the
// composed document holds.
constexpr char16_t LeafMark = u'\uE000';

}  // namespace

// The texts of the document's leaf elements in document order, each replaced by the mark.
// Empty leaves stay empty, so that they still compose as "<name/>".
class XmlExport::LeafTexts {
 public:
  void TakeFrom(XmlNode* top) {
    std::vector<XmlNode*> pending{top};
    while (!pending.empty()) {
      XmlNode* node = pending.back();
      pending.pop_back();
      if (node->firstChild) {
        PushChildrenInReverse(node, pending);
      } else if (const char16_t* text = XmlString(node->text); text && *text) {
        texts_.append(text);
        ends_.push_back(texts_.size());
        XmlSetText(node, MarkText);
      }
    }
  }

  std::u16string_view Next() {
    const std::size_t start = next_ == 0 ? 0 : ends_[next_ - 1];
    const std::size_t end = next_ < ends_.size() ? ends_[next_] : start;
    ++next_;
    return std::u16string_view(texts_).substr(start, end - start);
  }

 private:
  static constexpr char16_t MarkText[] = {LeafMark, 0};

  static void PushChildrenInReverse(XmlNode* node, std::vector<XmlNode*>& pending) {
    const std::size_t first = pending.size();
    for (XmlNode* child = node->firstChild; child; child = child->nextSibling) pending.push_back(child);
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
  }

  std::u16string texts_;
  std::vector<std::size_t> ends_;
  std::size_t next_ = 0;
};

namespace {

bool IsXmlCharacter(char16_t unit) {
  return unit == u'\t' || unit == u'\n' || unit == u'\r' || (unit >= 0x20 && unit < 0xFFFE);
}

// The composed declaration names UTF-16; the file is UTF-8. The declaration, when there
// is one, leads the text and holds no leaf mark.
std::u16string DeclarationNamingUtf8(std::u16string_view& text) {
  const std::size_t declarationEnd = text.find(u"?>");
  if (!text.starts_with(u"<?xml") || declarationEnd == std::u16string_view::npos) return {};
  std::u16string declaration(text.substr(0, declarationEnd + 2));
  text.remove_prefix(declarationEnd + 2);
  const std::size_t encoding = declaration.find(u"\"UTF-16\"");
  if (encoding != std::u16string::npos) declaration.replace(encoding, 8, u"\"UTF-8\"");
  return declaration;
}

}  // namespace

std::size_t AppendXmlLeafText(std::u16string_view text, std::u16string& out) {
  std::size_t replaced = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += unit;
      out += text[++i];
    } else if (unit == u'&') {
      out += u"&amp;";
    } else if (unit == u'<') {
      out += u"&lt;";
    } else if (unit == u'>') {
      out += u"&gt;";
    } else if (unit == u'\r') {
      out += u"&#13;";
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit) || !IsXmlCharacter(unit)) {
      out += u'\uFFFD';
      ++replaced;
    } else {
      out += unit;
    }
  }
  return replaced;
}

XmlExport::XmlExport()
    : document_(XmlCreate(AnyHandle, XmlEncodingUtf8)), leaves_(std::make_unique<LeafTexts>()) {}

XmlExport::~XmlExport() {
  if (document_) XmlFree(document_);
}

void XmlExport::Insert(const RecordList* results) {
  XmlNode* list = XmlInsertList(XmlRootNode(document_), results, MatchStructDescriptor.data());
  if (list) leaves_->TakeFrom(list);
}

void XmlExport::Compose(const std::function<void(std::u16string_view)>& write) {
  if (!document_) return;
  XmlFormat(document_, XmlIndentTree, 2);
  // The composed text is read where it was composed, in the string buffer, whose room is
  // given back once it has been written.
  const std::int64_t at = TempPosition();
  std::u16string_view rest = XmlCompose(document_, 0, at);
  write(DeclarationNamingUtf8(rest));
  std::u16string leaf;
  for (std::size_t mark = rest.find(LeafMark); mark != std::u16string_view::npos;
       mark = rest.find(LeafMark)) {
    write(rest.substr(0, mark));
    leaf.clear();
    replaced_ += AppendXmlLeafText(leaves_->Next(), leaf);
    write(leaf);
    rest.remove_prefix(mark + 1);
  }
  write(rest);
  ReturnEmptyTemp(at);
}

}  // namespace evaluator
