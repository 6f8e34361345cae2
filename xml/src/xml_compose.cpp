#include <algorithm>
#include <array>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/strings.h"
#include "temp_text.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

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

  const std::array<std::u16string_view, 63>& For(WriteMode mode) const {
    return mode == WriteMode::Text ? text : attribute;
  }
};

constexpr EscapeTable Escapes;

// Writes the composed text straight into the calling thread's string buffer; every piece,
// an escape included, is copied as one block after one room check.
class ComposeWriter {
 public:
  explicit ComposeWriter(std::int64_t at) : text_(at, INT64_MAX / 4) {}

  void Markup(std::u16string_view text) {
    text_.Put(text.data(), static_cast<std::int64_t>(text.size()));
  }
  void Markup(const char16_t* text, std::int64_t length) { text_.Put(text, length); }

  void Escaped(const char16_t* text, std::int64_t length, WriteMode mode) {
    const auto& escapes = Escapes.For(mode);
    std::int64_t runStart = 0;
    for (std::int64_t i = 0; i < length; ++i) {
      if (text[i] >= escapes.size() || escapes[text[i]].empty()) continue;
      const std::u16string_view escape = escapes[text[i]];
      Markup(text + runStart, i - runStart);
      Markup(escape);
      runStart = i + 1;
    }
    Markup(text + runStart, length - runStart);
  }

  // The text, or the empty string when it could not get the room it needed.
  char16_t* Finish() {
    if (!text_.Failed()) return text_.Finish();
    text_.Drop();
    ReturnEmptyTemp(TempPosition());
    return TempAt(TempPosition());
  }

 private:
  TempText text_;
};

void WriteText(ComposeWriter& out, const char16_t* reference) {
  const char16_t* text = XmlString(reference);
  out.Markup(text, StringLength(text));
}

struct Name {
  const char16_t* text;
  std::int64_t length;
};

// Element names repeat (every "element", every field of a record type shares one text), so
// the lengths of the last few are kept rather than counted again for every element.
class NameLengths {
 public:
  Name Of(const XmlNode* node) {
    const char16_t* name = XmlString(node->name);
    Name& known = known_[(reinterpret_cast<std::uintptr_t>(name) >> 3) % known_.size()];
    if (known.text != name || !name) known = {name, StringLength(name)};
    return known;
  }

 private:
  std::array<Name, 8> known_{};
};

void WriteStartTag(ComposeWriter& out, const XmlNode* node, Name name) {
  out.Markup(u"<");
  out.Markup(name.text, name.length);
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
  Name name;  // for the end tag of an element
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

  void Close(const OpenNode& open) {
    out_.Escaped(open.text + open.written, open.length - open.written, WriteMode::Text);
    if (open.node->type != XmlElement) return;
    out_.Markup(u"</");
    out_.Markup(open.name.text, open.name.length);
    out_.Markup(u">");
  }

  void Start(const XmlNode* node) {
    const char16_t* text = XmlString(node->text);
    switch (node->type) {
      case XmlRoot:
        open_.push_back({node, node->firstChild, text, StringLength(text), 0, {}});
        break;
      case XmlElement: {
        const Name name = names_.Of(node);
        WriteStartTag(out_, node, name);
        const std::int64_t length = StringLength(text);
        if (!node->firstChild && length == 0) {
          out_.Markup(u"/>");
        } else {
          out_.Markup(u">");
          open_.push_back({node, node->firstChild, text, length, 0, name});
        }
        break;
      }
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
  NameLengths names_;
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
