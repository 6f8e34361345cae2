#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

constexpr char16_t Replacement[] = u"\uFFFD";

// What each ASCII code unit is written as in a text; an empty view means itself. CR gets a
// character reference, since a parser reads a raw CR (and CR LF) as LF; the other control
// characters but TAB and LF have no form in XML 1.0 at all, not even a reference.
struct EscapeTable {
  std::array<std::u16string_view, 128> escapes{};

  constexpr EscapeTable() {
    for (char16_t unit = 0; unit < 0x20; ++unit) escapes[unit] = Replacement;
    escapes[u'\t'] = {};
    escapes[u'\n'] = {};
    escapes[u'\r'] = u"&#13;";
    escapes[u'<'] = u"&lt;";
    escapes[u'>'] = u"&gt;";
    escapes[u'&'] = u"&amp;";
  }
};

constexpr EscapeTable Escapes;

// Whether a unit at or above 0x80 is written as itself, a surrogate aside.
bool IsPlainWide(char16_t unit) { return unit < 0xD800 || (unit >= 0xE000 && unit < 0xFFFE); }

// Collects the composed text in blocks and hands each full block to the caller's write, so
// that a document of any size goes out through one block. A piece is never split, so no
// surrogate pair (always inside one piece) is cut at a block's end.
class BlockOut {
 public:
  explicit BlockOut(const XmlWrite& write)
      : write_(write), block_(std::make_unique<char16_t[]>(BlockUnits)) {}

  void Put(const char16_t* text, std::size_t units) {
    if (units == 0) return;  // text may then be null (a name that could not be stored)
    if (units > BlockUnits - used_) Flush();
    if (units > BlockUnits / 2) return write_(std::u16string_view(text, units));
    std::memcpy(block_.get() + used_, text, units * sizeof(char16_t));
    used_ += units;
  }
  void Put(std::u16string_view text) { Put(text.data(), text.size()); }

  void Spaces(std::int64_t count) {
    static constexpr std::u16string_view Blanks = u"                                ";
    for (; count > 0; count -= static_cast<std::int64_t>(Blanks.size())) {
      Put(Blanks.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(count, Blanks.size()))));
    }
  }

  // The text escaped (see XmlCompose); returns the characters written as U+FFFD. Runs of
  // units written as themselves are copied whole.
  std::int64_t Escaped(const char16_t* text, std::size_t length) {
    std::int64_t replaced = 0;
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < length) {
      const char16_t unit = text[i];
      std::u16string_view escape;
      if (unit < 0x80) {
        escape = Escapes.escapes[unit];
        if (escape.empty()) {
          ++i;
          continue;
        }
      } else if (IsPlainWide(unit)) {
        ++i;
        continue;
      } else if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
        i += 2;
        continue;
      } else {
        escape = Replacement;
      }
      Put(text + run, i - run);
      Put(escape);
      if (escape == Replacement) ++replaced;
      run = ++i;
    }
    Put(text + run, length - run);
    return replaced;
  }

  void Flush() {
    if (used_ > 0) write_(std::u16string_view(block_.get(), used_));
    used_ = 0;
  }

 private:
  static constexpr std::size_t BlockUnits = std::size_t{1} << 15;

  const XmlWrite& write_;
  std::unique_ptr<char16_t[]> block_;
  std::size_t used_ = 0;
};

std::u16string_view NameOf(const XmlNode* node) {
  const char16_t* name = XmlString(node->name);
  return name ? std::u16string_view(name, static_cast<std::size_t>(StringLength(name)))
              : std::u16string_view();
}

// Writes the tree below the root in document order with a stack on the heap rather than
// by recursion, laid out on lines when indentStep is 0 or more.
class TreeComposer {
 public:
  TreeComposer(BlockOut& out, std::int64_t indentStep) : out_(out), step_(indentStep) {}

  std::int64_t Compose(const XmlNode* root) {
    open_.push_back({root, root->firstChild});
    while (!open_.empty()) {
      const std::int64_t depth = static_cast<std::int64_t>(open_.size()) - 1;
      Open& top = open_.back();
      const XmlNode* child = top.nextChild;
      if (child) {
        top.nextChild = child->nextSibling;
        if (depth == 0) LineBreak();  // an empty line before the main element
        LineStart(depth * step_);
        Start(child);
      } else {
        if (depth > 0) {
          LineStart((depth - 1) * step_);
          EndTag(top.node);
        } else if (root->firstChild) {
          LineBreak();
        }
        open_.pop_back();
      }
    }
    return replaced_;
  }

 private:
  struct Open {
    const XmlNode* node;
    const XmlNode* nextChild;
  };

  void LineBreak() {
    if (step_ >= 0) out_.Put(u"\r\n");
  }

  void LineStart(std::int64_t indent) {
    if (step_ < 0) return;
    out_.Put(u"\r\n");
    out_.Spaces(indent);
  }

  void EndTag(const XmlNode* node) {
    out_.Put(u"</");
    out_.Put(NameOf(node));
    out_.Put(u">");
  }

  void Start(const XmlNode* node) {
    out_.Put(u"<");
    out_.Put(NameOf(node));
    if (node->firstChild) {
      out_.Put(u">");
      open_.push_back({node, node->firstChild});
      return;
    }
    const char16_t* text = XmlString(node->text);
    const std::int64_t length = StringLength(text);
    if (length == 0) {
      out_.Put(u"/>");
      return;
    }
    out_.Put(u">");
    replaced_ += out_.Escaped(text, static_cast<std::size_t>(length));
    EndTag(node);
  }

  BlockOut& out_;
  const std::int64_t step_;
  std::vector<Open> open_;
  std::int64_t replaced_ = 0;
};

std::u16string_view EncodingName(std::int32_t encoding) {
  if (encoding == XmlEncodingUtf8) return u"UTF-8";
  if (encoding == XmlEncodingUtf16) return u"UTF-16";
  return u"ISO-8859-1";
}

}  // namespace

void XmlFormat(ObjectNumber number, std::int32_t flags, std::int64_t indentStep) {
  XmlDocumentRecord* document = FindDocument(number);
  if (!document || !(flags & XmlIndentTree)) return;
  // Wider steps would only ask for absurd amounts of blanks.
  document->indentStep =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(indentStep, 0, 1 << 20));
}

std::int64_t XmlCompose(ObjectNumber number, const XmlWrite& write) {
  const XmlDocumentRecord* document = FindDocument(number);
  if (!document) return -1;
  try {
    BlockOut out(write);
    out.Put(u"<?xml version=\"1.0\" encoding=\"");
    out.Put(EncodingName(document->encoding));
    out.Put(u"\"?>");
    const std::int64_t replaced = TreeComposer(out, document->indentStep).Compose(document->root);
    out.Flush();
    return replaced;
  } catch (const std::bad_alloc&) {
    return -1;  // no memory for the block or for the stack of open elements
  }
}
