#include <gtest/gtest.h>

#include "xml_test_support.h"

namespace {

using namespace xml_test;

const RecordDescriptor MatchStruct = MatchStructDescriptor.data();

// The export's document: a list of matches, formatted as the export does.
std::u16string Exported(const MatchList& matches, bool format, std::int32_t flags = 0) {
  Document document;
  XmlInsertList(document.root(), matches.list(), MatchStruct);
  if (format) XmlFormat(document.number(), XmlIndentTree, 2);
  return Compose(document.number(), flags);
}

TEST(XmlCompose, WorkedExampleFormattedAndNot) {
  MatchList matches({{u"ab", {u"a", u"b"}}, {u"cd", {u"c", u"d"}}});
  EXPECT_EQ(Exported(matches, true),
            CrLfLines({Declaration, u"", u"<list>", u"  <element>", u"    <m>ab</m>", u"    <g>",
                       u"      <element>a</element>", u"      <element>b</element>", u"    </g>",
                       u"  </element>", u"  <element>", u"    <m>cd</m>", u"    <g>",
                       u"      <element>c</element>", u"      <element>d</element>", u"    </g>",
                       u"  </element>", u"</list>"}));
  EXPECT_EQ(Exported(matches, false),
            std::u16string(Declaration) +
                u"<list><element><m>ab</m><g><element>a</element><element>b</element></g>"
                u"</element><element><m>cd</m><g><element>c</element><element>d</element></g>"
                u"</element></list>");
}

TEST(XmlFormat, MatchTextsWithoutGroupsAcrossLinesAndWithBlankRuns) {
  MatchList matches({{u"x\ny", {}}, {u"a  b\t\t\n   c\n \t\n d", {}}});
  EXPECT_EQ(Exported(matches, true),
            CrLfLines({Declaration, u"", u"<list>", u"  <element>", u"    <m>", u"      x",
                       u"      y", u"    </m>", u"    <g/>", u"  </element>", u"  <element>",
                       u"    <m>", u"      a b\t", u"      c", u"      d", u"    </m>",
                       u"    <g/>", u"  </element>", u"</list>"}));
}

TEST(XmlCompose, EscapesTextAndAttributeValuesByMode) {
  Document document;
  XmlNode* e = XmlCreateNode(document.root(), u"e", XmlAfterLastChild, XmlElement);
  const char16_t* sample = u"a<b & c> \"q\" 'p'\r\n";
  XmlSetText(e, sample);
  XmlSetAttribute(e, u"v", sample);
  XmlNode* empty = XmlCreateNode(e, u"empty", XmlAfterLastChild, XmlElement);
  XmlSetText(empty, u"");
  XmlNode* data = XmlCreateNode(e, nullptr, XmlAfterLastChild, XmlCData);
  XmlSetText(data, u"<&>");
  XmlNode* instruction = XmlCreateNode(e, u"pi", XmlAfterLastChild, XmlInstruction);
  XmlSetText(instruction, u"x=\"1\"");
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<e v=\"a&lt;b &amp; c&gt; &quot;q&quot; &apos;p&apos;&#13;&#10;\">"
            u"<empty/><![CDATA[<&>]]><?pi x=\"1\"?>a&lt;b &amp; c&gt; \"q\" 'p'\r\n</e>");
}

TEST(XmlCompose, BomAndNoDeclaration) {
  MatchList matches({{u"ab", {}}});
  const std::u16string formatted = Exported(matches, true);
  EXPECT_EQ(Exported(matches, true, XmlBom), u"\uFEFF" + formatted);
  EXPECT_EQ(Exported(matches, true, XmlNoDeclaration).substr(0, 10), u"\r\n\r\n<list>");
  EXPECT_EQ(Exported(matches, true, XmlBom | XmlNoDeclaration).substr(0, 5), u"\uFEFF\r\n\r\n");
}

TEST(XmlFormat, DeadNumberChangesNothing) {
  { Document gone(3); }
  XmlFormat(3, XmlIndentTree, 2);
  EXPECT_EQ(Compose(3), u"");
  Document live(4);
  XmlNode* e = XmlCreateNode(live.root(), u"e", XmlAfterLastChild, XmlElement);
  XmlSetText(e, u" a\n  b ");
  XmlFormat(3, XmlIndentTree, 2);
  EXPECT_EQ(Compose(4, XmlNoDeclaration), u"<e> a\n  b </e>");
}

TEST(XmlFormat, IndentLinesAndLoneBreaksToCrLf) {
  Document document;
  XmlNode* e = XmlCreateNode(document.root(), u"e", XmlAfterLastChild, XmlElement);
  XmlSetText(e, u"\n      x\r  y\n");
  XmlNode* child = XmlCreateNode(e, u"c", XmlAfterLastChild, XmlElement);
  XmlSetText(child, u"1\n2");
  child->textOffset = 9;  // after "\n      x\r"
  XmlFormat(document.number(), XmlIndentLines, 2);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<e>\n  x\r  <c>1\n    2</c>  y\n</e>");
  XmlFormat(document.number(), XmlBreaksCrLf, 0);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<e>\r\n  x\r\n  <c>1\r\n    2</c>  y\r\n</e>");
}

TEST(XmlDocumentDepth, ChainOfOneHundredThousandElements) {
  constexpr std::int64_t Depth = 100000;
  const std::int64_t nodesBefore = XmlNodesInUse();
  {
    Document document;
    XmlNode* node = document.root();
    for (std::int64_t i = 0; i < Depth; ++i) {
      node = XmlCreateNode(node, u"e", XmlAfterLastChild, XmlElement);
      ASSERT_NE(node, nullptr);
    }
    XmlSetText(node, u"x");
    EXPECT_EQ(Compose(document.number(), XmlNoDeclaration).size(), 7 * Depth + 1);

    XmlFormat(document.number(), XmlIndentTree, 0);
    const std::u16string text = Compose(document.number(), XmlNoDeclaration);
    // Every element but the innermost gains a break before its child and one before its end
    // tag; the root has two breaks before the list and one after it.
    EXPECT_EQ(text.size(), 7 * Depth + 1 + 4 * (Depth - 1) + 6);
    EXPECT_EQ(text.substr(0, 12), u"\r\n\r\n<e>\r\n<e>");
    EXPECT_EQ(text.substr(text.size() - 12), u"</e>\r\n</e>\r\n");
    EXPECT_EQ(XmlNodesInUse(), nodesBefore + Depth + 1);
  }
  EXPECT_EQ(XmlNodesInUse(), nodesBefore);
}

}  // namespace
