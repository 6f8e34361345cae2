#include <algorithm>
#include <array>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/strings.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

constexpr std::int64_t ReserveStep = 2048;  // characters

enum class WriteMode { Text, Attribute };

// The escape of a code unit in one mode, or an empty view when it is written as itself.
// Only units below '?' ever need one.
struct EscapeTable {
  std::array<std::u16string_view, 63> text{};
  std::array<std::u16string_view, 63> attribute{};

  constexpr EscapeTable() {
    for (auto* table : {&text, &attribute}) {
      (*table)[u'<'] = u"&lt;";
      (*table)[u'>'] = u"&gt;";
      (*table)[u'&'] = u"&amp;";
    }
    attribute[u'\''] = u"&apos;";
    attribute[u'"'] = u"&quot;";
    attribute[u'\n'] = u"&#10;";
    attribute[u'\r'] = u"&#13;";
  }

  std::u16string_view Of(char16_t unit, WriteMode mode) const {
    if (unit >= text.size()) return {};
    return mode == WriteMode::Text ? text[unit] : attribute[unit];
  }
};

constexpr EscapeTable Escapes;

// Writes the composed text straight into the calling thread's string buffer, reserving room
// in steps of ReserveStep characters; every piece is copied as one block after one room check.
class ComposeWriter {
 public:
  explicit ComposeWriter(std::int64_t at) : at_(at) { Grow(1); }

  void Markup(std::u16string_view text) { Markup(text.data(), static_cast<std::int64_t>(text.size())); }

  void Markup(const char16_t* text, std::int64_t length) {
    if (length <= 0) return;
    char16_t* out = Room(length);
    std::copy(text, text + length, out);
    written_ += length;
  }

  void Escaped(const char16_t* text, std::int64_t length, WriteMode mode) {
    std::int64_t runStart = 0;
    for (std::int64_t i = 0; i < length; ++i) {
      const std::u16string_view escape = Escapes.Of(text[i], mode);
      if (escape.empty()) continue;
      Markup(text + runStart, i - runStart);
      Markup(escape);
      runStart = i + 1;
    }
    Markup(text + runStart, length - runStart);
  }

  // Terminates the text and gives the unused reserve back; returns the text.
  char16_t* Finish() {
    char16_t* text = Base();
    text[written_] = 0;
    GiveBackTemp(reserved_ - written_);
    return text;
  }

 private:
  char16_t* Base() const { return reinterpret_cast<char16_t*>(TempAreaBase() + at_); }

  char16_t* Room(std::int64_t units) {
    if (reserved_ - written_ < units) Grow(units - (reserved_ - written_));
    return Base() + written_;
  }

  void Grow(std::int64_t units) {
    const std::int64_t steps = (units + ReserveStep - 1) / ReserveStep;
    ReserveTemp(steps * ReserveStep, reserved_ == 0 ? at_ : -1);
    reserved_ += steps * ReserveStep;
  }

  const std::int64_t at_;
  std::int64_t written_ = 0;
  std::int64_t reserved_ = 0;
};

void WriteText(ComposeWriter& out, const char16_t* reference) {
  const char16_t* text = XmlString(reference);
  out.Markup(text, StringLength(text));
}

void WriteStartTag(ComposeWriter& out, const XmlNode* node) {
  out.Markup(u"<");
  WriteText(out, node->name);
  for (std::int16_t i = 0; i < node->attributeCount; ++i) {
    out.Markup(u" ");
    WriteText(out, node->attributes[i].name);
    out.Markup(u"=\"");
    const char16_t* value = XmlString(node->attributes[i].value);
    out.Escaped(value, StringLength(value), WriteMode::Attribute);
    out.Markup(u"\"");
  }
}

// A root or element whose content is being written: its text is split by the children's
// offsets, and nextChild is the next child to write.
struct OpenNode {
  const XmlNode* node;
  const XmlNode* nextChild;
  const char16_t* text;
  std::int64_t length;
  std::int64_t written;
};

class TreeComposer {
 public:
  explicit TreeComposer(ComposeWriter& out) : out_(out) {}

  // Writes root and its subtree with a stack on the heap rather than by recursion.
  void Compose(const XmlNode* root) {
    Start(root);
    while (!open_.empty()) {
      OpenNode& top = open_.back();
      const XmlNode* child = top.nextChild;
      if (child) {
        top.nextChild = child->nextSibling;
        WriteTextBefore(top, child->textOffset);
        Start(child);
      } else {
        Close(top);
        open_.pop_back();
      }
    }
  }

 private:
  void WriteTextBefore(OpenNode& open, std::int64_t offset) {
    if (offset <= 0 || open.written >= open.length) return;
    const std::int64_t units = std::min(offset, open.length - open.written);
    out_.Escaped(open.text + open.written, units, WriteMode::Text);
    open.written += units;
  }

  void Open(const XmlNode* node) {
    const char16_t* text = XmlString(node->text);
    open_.push_back({node, node->firstChild, text, StringLength(text), 0});
  }

  void Close(OpenNode& open) {
    out_.Escaped(open.text + open.written, open.length - open.written, WriteMode::Text);
    if (open.node->type != XmlElement) return;
    out_.Markup(u"</");
    WriteText(out_, open.node->name);
    out_.Markup(u">");
  }

  void Start(const XmlNode* node) {
    switch (node->type) {
      case XmlRoot:
        Open(node);
        break;
      case XmlElement:
        WriteStartTag(out_, node);
        if (!node->firstChild && TextLength(node->text) == 0) {
          out_.Markup(u"/>");
        } else {
          out_.Markup(u">");
          Open(node);
        }
        break;
      case XmlComment:
        Enclosed(u"<!--", node->text, u"-->");
        break;
      case XmlCData:
        Enclosed(u"<![CDATA[", node->text, u"]]>");
        break;
      case XmlRawMarkup:
        WriteText(out_, node->text);
        break;
      case XmlInstruction:
        out_.Markup(u"<?");
        WriteText(out_, node->name);
        Enclosed(u" ", node->text, u"?>");
        break;
      default:
        break;
    }
  }

  void Enclosed(std::u16string_view before, const char16_t* text, std::u16string_view after) {
    out_.Markup(before);
    WriteText(out_, text);
    out_.Markup(after);
  }

  ComposeWriter& out_;
  std::vector<OpenNode> open_;
};

void WriteDeclaration(ComposeWriter& out, const XmlDocumentRecord& document) {
  out.Markup(u"<?xml version=\"1.0\" encoding=\"UTF-16\"");
  if (document.standalone == 0) out.Markup(u" standalone=\"no\"");
  if (document.standalone == 1) out.Markup(u" standalone=\"yes\"");
  out.Markup(u"?>");
}

}  // namespace

char16_t* XmlCompose(ObjectNumber number, std::int32_t flags, std::int64_t at) {
  if (at < 0) at = TempPosition();
  const XmlDocumentRecord* document = FindDocument(number);
  if (!document) {
    ReturnEmptyTemp(at);
    return TempAt(at);
  }
  ComposeWriter out(at);
  try {
    if (flags & XmlBom) out.Markup(u"\uFEFF");
    if (!(flags & XmlNoDeclaration)) WriteDeclaration(out, *document);
    TreeComposer(out).Compose(document->root);
  } catch (const std::bad_alloc&) {
    ReturnEmptyTemp(at);  // no memory for the stack of open nodes
    return TempAt(at);
  }
  return out.Finish();
}
