#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/strings.h"
#include "temp_text.h"
#include "xml_internal.h"

using namespace xml_detail;

namespace {

constexpr std::int32_t WhitespaceFlags = XmlBreaksLf | XmlBreaksCr | XmlRemoveBreaks |
                                         XmlMergeBreaks | XmlRemoveBlanks | XmlMergeBlanks;
// No single text is rebuilt beyond this many characters (offsets are 32-bit, and a deep
// tree with a wide indentation step would otherwise ask for absurd blocks): such a node keeps
// its text.
constexpr std::int64_t MaximumTextUnits = std::int64_t{1} << 30;
constexpr std::int64_t MaximumIndentStep = std::int64_t{1} << 20;

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }
bool IsBreak(char16_t unit) { return unit == u'\r' || unit == u'\n'; }

// Units of the line break at text[i] inside [.., end): CR LF counts as one break.
std::int64_t BreakUnits(const char16_t* text, std::int64_t i, std::int64_t end) {
  return text[i] == u'\r' && i + 1 < end && text[i + 1] == u'\n' ? 2 : 1;
}

std::int64_t SkipBlanks(const char16_t* text, std::int64_t i, std::int64_t end) {
  while (i < end && IsBlank(text[i])) ++i;
  return i;
}

std::int64_t BreakCharacters(const char16_t* text, std::int64_t length) {
  return std::count_if(text, text + length, IsBreak);
}

bool IsLiteralNode(const XmlNode* node) {
  return node->type == XmlCData || node->type == XmlInstruction;
}

// Calls segment(child, begin, end) for the part of the node's text before each child, in
// order, and then segment(nullptr, begin, length) for the rest. Each child's offset is read
// before its segment is handed out, so segment may set the new one.
template <class Segment>
void ForEachSegment(XmlNode* node, std::int64_t length, Segment&& segment) {
  std::int64_t at = 0;
  for (XmlNode* child = node->firstChild; child; child = child->nextSibling) {
    const std::int64_t units = std::clamp<std::int64_t>(child->textOffset, 0, length - at);
    segment(child, at, at + units);
    at += units;
  }
  segment(nullptr, at, length);
}

// The whitespace pass over one node. The result is never longer than the text, so an owned
// text is rewritten in place.
void SqueezeWhitespace(XmlNode* node, std::int32_t flags) {
  if (IsLiteralNode(node)) flags &= XmlBreaksCrLf | XmlBreaksLf | XmlBreaksCr | XmlIndentTree;
  if (node->type == XmlRawMarkup) flags &= ~(XmlRemoveBreaks | XmlRemoveBlanks);
  if (!(flags & WhitespaceFlags)) return;
  const char16_t* source = XmlString(node->text);
  const std::int64_t length = StringLength(source);
  const bool hasWhitespace =
      std::any_of(source, source + length, [](char16_t unit) { return IsBlank(unit) || IsBreak(unit); });
  if (!hasWhitespace && !node->firstChild) return;  // nothing to drop, no offsets to move
  if (!IsOwned(node->text)) SetOwnedText(node, CopyOfText(source, length));
  char16_t* text = node->text;
  bool visible = node->type != XmlRoot;
  bool lineBreak = false;
  std::int64_t kept = 0;
  ForEachSegment(node, length, [&](XmlNode* child, std::int64_t i, std::int64_t end) {
    const std::int64_t keptBefore = kept;
    while (i < end) {
      const char16_t unit = text[i];
      if (IsBlank(unit)) {
        ++i;
        if ((flags & XmlRemoveBlanks) || ((flags & XmlMergeBlanks) && !visible)) continue;
        text[kept++] = unit;
        visible = lineBreak = false;
      } else if (IsBreak(unit)) {
        const std::int64_t units = BreakUnits(text, i, end);
        i += units;
        if ((flags & XmlRemoveBreaks) || ((flags & XmlMergeBreaks) && lineBreak)) continue;
        if (flags & (XmlBreaksLf | XmlBreaksCr)) {
          text[kept++] = (flags & XmlBreaksLf) ? u'\n' : u'\r';
        } else {
          for (std::int64_t k = units; k > 0; --k) text[kept++] = text[i - k];
        }
        lineBreak = true;
        visible = false;
      } else {
        text[kept++] = unit;
        ++i;
        visible = true;
        lineBreak = false;
      }
    }
    if (child) {
      child->textOffset = static_cast<std::int32_t>(kept - keptBefore);
      visible = true;
    }
  });
  if (text) text[kept] = 0;
}

// A node's replacement text, built in the calling thread's string buffer and then copied
// into one block of exactly its size.
class NewText {
 public:
  NewText(std::int64_t expected, std::u16string_view lineBreak)
      : text_(-1, MaximumTextUnits), lineBreak_(lineBreak) {
    text_.Room(expected);
  }

  void Put(const char16_t* text, std::int64_t units) { text_.Put(text, units); }
  void Break() { text_.Put(lineBreak_.data(), static_cast<std::int64_t>(lineBreak_.size())); }
  void Indent(std::int64_t spaces) { text_.Fill(u' ', spaces); }
  // Replaces the indent of the given width just written by one of another width.
  void ReplaceIndent(std::int64_t written, std::int64_t wanted) {
    text_.Drop(std::max<std::int64_t>(written, 0));
    Indent(wanted);
  }
  void MarkChild(XmlNode* child) {
    child->textOffset = static_cast<std::int32_t>(text_.Written() - mark_);
    mark_ = text_.Written();
  }

  // The node's text becomes the new one, borrowed from store's blocks when store is given.
  // A text that outgrew MaximumTextUnits is dropped and the node keeps its own.
  void ReplaceTextOf(XmlNode* node, XmlDocumentRecord* store) {
    if (!text_.Failed()) SetOwnedText(node, StoredText(store, text_.Text(), text_.Written()));
    text_.Drop();
  }

 private:
  TempText text_;
  std::u16string_view lineBreak_;
  std::int64_t mark_ = 0;  // where the text before the next child begins
};

std::u16string_view LineBreakOf(std::int32_t kind) {
  if (kind == 2) return u"\n";
  if (kind == 4) return u"\r";
  return u"\r\n";
}

// Converts every lone CR or LF of the node's text to CR LF.
void ConvertLoneBreaks(XmlNode* node) {
  const char16_t* text = XmlString(node->text);
  const std::int64_t length = StringLength(text);
  std::int64_t lone = 0;
  for (std::int64_t i = 0; i < length; i += IsBreak(text[i]) ? BreakUnits(text, i, length) : 1) {
    if (IsBreak(text[i]) && BreakUnits(text, i, length) == 1) ++lone;
  }
  if (lone == 0) return;
  NewText out(length + lone, u"\r\n");
  ForEachSegment(node, length, [&](XmlNode* child, std::int64_t i, std::int64_t end) {
    while (i < end) {
      if (IsBreak(text[i])) {
        i += BreakUnits(text, i, end);
        out.Break();
      } else {
        out.Put(text + i, 1);
        ++i;
      }
    }
    if (child) out.MarkChild(child);
  });
  out.ReplaceTextOf(node, nullptr);
}

// Rebuilds line breaks and indentation (XmlIndentTree) of one node whose children sit at
// indentation n, its end tag at n - step.
class Reformat {
 public:
  Reformat(XmlDocumentRecord& document, std::int64_t step, std::int32_t flags)
      : document_(document),
        step_(step),
        lineBreak_(LineBreakOf(document.newlineKind)),
        flags_(flags) {}

  void Node(XmlNode* node, std::int64_t n) const {
    if (IsLiteralNode(node)) {
      if (flags_ & XmlBreaksCrLf) ConvertLoneBreaks(node);
      return;
    }
    const char16_t* text = XmlString(node->text);
    const std::int64_t length = StringLength(text);
    const bool hasChildren = node->firstChild != nullptr;
    if (!hasChildren && length == 0) return;
    const bool keepsOneLine = node->type == XmlElement || node->type == XmlComment;
    const std::int64_t breaks = BreakCharacters(text, length);
    if (!hasChildren && keepsOneLine && breaks == 0) return;
    NewText out(length + breaks * static_cast<std::int64_t>(lineBreak_.size() + n), lineBreak_);
    if (length == 0) {
      Rebuild(node, n, out);
    } else {
      Rewrite(node, text, length, n, out);
    }
    // A node that had no text gets its new one in the document's own blocks: no separate
    // allocation for each of the many container elements.
    out.ReplaceTextOf(node, length == 0 ? &document_ : nullptr);
  }

 private:
  // The root keeps an empty line before its first child, before and after an element.
  static bool ExtraRootBreak(const XmlNode* node, const XmlNode* child) {
    const XmlNode* previous = child->previousSibling;
    return node->type == XmlRoot &&
           (!previous || child->type == XmlElement || previous->type == XmlElement);
  }

  // A node with children but without text.
  void Rebuild(XmlNode* node, std::int64_t n, NewText& out) const {
    for (XmlNode* child = node->firstChild; child; child = child->nextSibling) {
      if (ExtraRootBreak(node, child)) out.Break();
      out.Break();
      out.Indent(n);
      out.MarkChild(child);
    }
    out.Break();
    if (node->type != XmlRoot) out.Indent(n - step_);
  }

  // Copies text[i, end) with each line break (and the blanks after it) replaced by a break
  // and indent n; true when the copy ended with such a replacement.
  static bool CopyLines(const char16_t* text, std::int64_t i, std::int64_t end, std::int64_t n,
                        NewText& out) {
    bool endedWithBreak = false;
    while (i < end) {
      const std::int64_t runEnd = std::find_if(text + i, text + end, IsBreak) - text;
      if (runEnd > i) {
        out.Put(text + i, runEnd - i);
        endedWithBreak = false;
      }
      if (runEnd == end) break;
      out.Break();
      out.Indent(n);
      i = SkipBlanks(text, runEnd + BreakUnits(text, runEnd, end), end);
      endedWithBreak = true;
    }
    return endedWithBreak;
  }

  void Rewrite(XmlNode* node, const char16_t* text, std::int64_t length, std::int64_t n,
               NewText& out) const {
    const bool isRoot = node->type == XmlRoot;
    const bool hasChildren = node->firstChild != nullptr;
    bool endedWithBreak = false;
    ForEachSegment(node, length, [&](XmlNode* child, std::int64_t i, std::int64_t end) {
      if (child || !hasChildren) i = SkipBlanks(text, i, end);
      const bool startsWithBreak = i < end && IsBreak(text[i]);
      if (child) {
        if (i < end && !startsWithBreak) LineStart(out, n);
        if (ExtraRootBreak(node, child)) out.Break();
        if (!CopyLines(text, i, end, n, out)) LineStart(out, n);
        out.MarkChild(child);
        return;
      }
      if (!hasChildren && !startsWithBreak) LineStart(out, n);
      endedWithBreak = CopyLines(text, i, end, n, out);
    });
    if (isRoot) return;
    if (endedWithBreak) {
      out.ReplaceIndent(n, n - step_);
    } else {
      LineStart(out, n - step_);
    }
  }

  static void LineStart(NewText& out, std::int64_t indent) {
    out.Break();
    out.Indent(indent);
  }

  XmlDocumentRecord& document_;
  const std::int64_t step_;
  const std::u16string_view lineBreak_;
  const std::int32_t flags_;
};

// Re-indents the lines a node's text already has (XmlIndentLines): after each line break
// its blanks become indentation d + step. Returns the indentation handed to the children.
std::int64_t Reindent(XmlNode* node, std::int64_t d, std::int64_t step, std::int32_t flags) {
  if (IsLiteralNode(node)) {
    if (flags & XmlBreaksCrLf) ConvertLoneBreaks(node);
    return d;
  }
  const char16_t* text = XmlString(node->text);
  const std::int64_t length = StringLength(text);
  const std::int64_t breaks = BreakCharacters(text, length);
  if (breaks == 0) return d;
  const std::int64_t indent = d + step;
  NewText out(length + breaks * (2 + indent), u"\r\n");
  bool endedWithBreak = false;
  ForEachSegment(node, length, [&](XmlNode* child, std::int64_t i, std::int64_t end) {
    while (i < end) {
      if (!IsBreak(text[i])) {
        out.Put(text + i, 1);
        ++i;
        endedWithBreak = false;
        continue;
      }
      const std::int64_t units = BreakUnits(text, i, end);
      if (flags & XmlBreaksCrLf) {
        out.Break();
      } else {
        out.Put(text + i, units);
      }
      i = SkipBlanks(text, i + units, end);
      out.Indent(indent);
      endedWithBreak = true;
    }
    if (child) {
      out.MarkChild(child);
      endedWithBreak = false;
    }
  });
  if (endedWithBreak) out.ReplaceIndent(indent, d);
  out.ReplaceTextOf(node, nullptr);
  return indent;
}

void ReindentTree(XmlNode* root, std::int64_t step, std::int32_t flags) {
  std::vector<std::int64_t> childIndent;  // by depth: the indentation a node hands down
  ForEachNode(root, [&](XmlNode* node, std::int64_t depth) {
    const std::int64_t d = depth == 0 ? 0 : childIndent[static_cast<std::size_t>(depth - 1)];
    childIndent.resize(static_cast<std::size_t>(depth + 1));
    childIndent.back() = Reindent(node, d, step, flags);
  });
}

std::int32_t LineBreakKind(std::int32_t flags, std::int32_t documentKind) {
  if (flags & XmlBreaksCrLf) return 1;
  if (flags & XmlBreaksLf) return 2;
  if (flags & XmlBreaksCr) return 4;
  return documentKind ? documentKind : 1;
}

}  // namespace

void XmlFormat(ObjectNumber number, std::int32_t flags, std::int64_t indentStep) {
  XmlDocumentRecord* document = FindDocument(number);
  if (!document) return;
  if (flags & XmlIndentTree) flags |= XmlMergeBreaks | XmlMergeBlanks;
  XmlNode* root = document->root;
  document->newlineKind = LineBreakKind(flags, document->newlineKind);
  const std::int64_t step = std::clamp<std::int64_t>(indentStep, 0, MaximumIndentStep);
  if (flags & XmlIndentTree) {
    // One walk for both passes. The whitespace pass is left out for a node without text,
    // where it would only zero the children's offsets that the reformat sets anyway.
    const Reformat reformat(*document, step, flags);
    ForEachNode(root, [&](XmlNode* node, std::int64_t depth) {
      if (!node->firstChild || TextLength(node->text) > 0) SqueezeWhitespace(node, flags);
      reformat.Node(node, depth * step);
    });
    return;
  }
  if (flags & WhitespaceFlags) {
    ForEachNode(root, [&](XmlNode* node, std::int64_t) { SqueezeWhitespace(node, flags); });
  }
  if (flags & XmlIndentLines) {
    try {
      ReindentTree(root, step, flags);
    } catch (const std::bad_alloc&) {
      // The nodes done so far keep their new texts; the rest keep theirs.
    }
  } else if (flags & XmlBreaksCrLf) {
    ForEachNode(root, [](XmlNode* node, std::int64_t) { ConvertLoneBreaks(node); });
  }
}
