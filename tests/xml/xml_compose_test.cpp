#include <gtest/gtest.h>

#include "xml_test_support.h"

namespace {

using namespace xml_test;

const RecordDescriptor MatchStruct = MatchStructDescriptor.data();

// The export's document: a list of matches, laid out as the export does.
Composed Exported(const MatchList& matches, bool format) {
  Document document;
  XmlInsertList(document.root(), matches.list(), MatchStruct);
  if (format) XmlFormat(document.number(), XmlIndentTree, 2);
  return ComposeCounting(document.number());
}

TEST(XmlCompose, WorkedExampleFormattedAndNot) {
  MatchList matches({{u"ab", {u"a", u"b"}}, {u"cd", {u"c", u"d"}}});
  EXPECT_EQ(Exported(matches, true).text,
            CrLfLines({Declaration, u"", u"<list>", u"  <element>", u"    <m>ab</m>", u"    <g>",
                       u"      <element>a</element>", u"      <element>b</element>", u"    </g>",
                       u"  </element>", u"  <element>", u"    <m>cd</m>", u"    <g>",
                       u"      <element>c</element>", u"      <element>d</element>", u"    </g>",
                       u"  </element>", u"</list>"}));
  EXPECT_EQ(Exported(matches, false).text,
            std::u16string(Declaration) +
                u"<list><element><m>ab</m><g><element>a</element><element>b</element></g>"
                u"</element><element><m>cd</m><g><element>c</element><element>d</element></g>"
                u"</element></list>");
}

TEST(XmlFormat, TextsAreKeptAsTheyAreAndEmptyOnesClose) {
  MatchList matches({{u"x\ny", {}}, {u"  a  b\t\t\n   c\n \t\n d ", {u""}}, {u"", {u" "}}});
  EXPECT_EQ(Exported(matches, true).text, CrLfLines({Declaration,
                                                     u"",
                                                     u"<list>",
                                                     u"  <element>",
                                                     u"    <m>x\ny</m>",
                                                     u"    <g/>",
                                                     u"  </element>",
                                                     u"  <element>",
                                                     u"    <m>  a  b\t\t\n   c\n \t\n d </m>",
                                                     u"    <g>",
                                                     u"      <element/>",
                                                     u"    </g>",
                                                     u"  </element>",
                                                     u"  <element>",
                                                     u"    <m/>",
                                                     u"    <g>",
                                                     u"      <element> </element>",
                                                     u"    </g>",
                                                     u"  </element>",
                                                     u"</list>"}));
}

// Every kind of text the export meets, escaped once: markup characters and CR (of every
// line-break kind) as references, what XML 1.0 can't hold as U+FFFD and counted, the rest
// (quotes, commas, tabs, characters beyond U+FFFF) as it stands. A text is cut at its NUL.
TEST(XmlCompose, TextsEscapedSoThatAParserReadsThemBack) {
  const std::u16string cut(u"ab\0cd", 5);
  const std::u16string loneSurrogates{u'a', 0xD83D, u'b', 0xDE00, 0xDE00, 0xD83D};
  MatchList matches({{u"a,b \"q\" 'p'\tt", {u"x\r\ny\nz\r", u"<a & b>"}},
                     {u"\U0001F600 \u00E9 \uE000\uFFFD", {cut, u"\x01\x1F\uFFFE\uFFFF"}},
                     {loneSurrogates, {}}});
  const Composed composed = Exported(matches, false);
  EXPECT_EQ(composed.text,
            std::u16string(Declaration) +
                u"<list><element><m>a,b \"q\" 'p'\tt</m><g><element>x&#13;\ny\nz&#13;</element>"
                u"<element>&lt;a &amp; b&gt;</element></g></element>"
                u"<element><m>\U0001F600 \u00E9 \uE000\uFFFD</m><g><element>ab</element>"
                u"<element>\uFFFD\uFFFD\uFFFD\uFFFD</element></g></element>"
                u"<element><m>a\uFFFDb\uFFFD\uFFFD\uFFFD</m><g/></element></list>");
  EXPECT_EQ(composed.replaced, 8);
}

// A text longer than the composer's block goes out whole, between the blocks around it.
TEST(XmlCompose, LongTextsAndManyRecordsStreamInOrder) {
  const std::u16string wide(100000, u'\u00E9');
  const std::u16string pairs = [] {
    std::u16string text;
    for (int i = 0; i < 30000; ++i) text += u"\U0001F600&";
    return text;
  }();
  MatchList matches({{wide, {pairs}}, {u"z", {}}});
  const Composed composed = Exported(matches, false);
  std::u16string escapedPairs;
  for (int i = 0; i < 30000; ++i) escapedPairs += u"\U0001F600&amp;";
  EXPECT_EQ(composed.text, std::u16string(Declaration) + u"<list><element><m>" + wide +
                               u"</m><g><element>" + escapedPairs +
                               u"</element></g></element><element><m>z</m><g/></element></list>");
  EXPECT_EQ(composed.replaced, 0);
}

TEST(XmlCompose, DeclarationNamesTheDocumentsEncoding) {
  MatchList matches({{u"a", {}}});
  const std::u16string content = u"<list><element><m>a</m><g/></element></list>";
  for (const auto& [encoding, name] :
       {std::pair{XmlEncodingUtf8, u"UTF-8"}, std::pair{XmlEncodingUtf16, u"UTF-16"},
        std::pair{0, u"ISO-8859-1"}}) {
    Document document(AnyHandle, encoding);
    XmlInsertList(document.root(), matches.list(), MatchStruct);
    EXPECT_EQ(Compose(document.number()),
              u"<?xml version=\"1.0\" encoding=\"" + std::u16string(name) + u"\"?>" + content);
  }
}

TEST(XmlFormat, DeadNumberChangesNothing) {
  { Document gone(3); }
  XmlFormat(3, XmlIndentTree, 2);
  bool written = false;
  EXPECT_EQ(XmlCompose(3, [&](std::u16string_view) { written = true; }), -1);
  EXPECT_FALSE(written);
  Document live(4);
  MatchList matches({{u" a\n  b ", {}}});
  XmlInsertList(live.root(), matches.list(), MatchStruct);
  XmlFormat(3, XmlIndentTree, 2);
  XmlFormat(4, 0, 2);
  EXPECT_EQ(ComposeContent(4), u"<list><element><m> a\n  b </m><g/></element></list>");
}

// A record type whose list field holds records of the same type: the insertion stops at
// its nesting limit, and the deep tree is composed and freed without recursion.
struct Chain {
  ListSlot next;
};

TEST(XmlDocumentDepth, SelfReferringRecordsStopAtTheNestingLimit) {
  constexpr int Records = 3000;
  constexpr int Nesting = 1024;
  DescriptorBytes bytes("chain");
  RecordDescriptor chain =
      bytes.Byte(descriptor::kList).Byte(7).Int32(0).Text("next").OwnAddress().End();
  std::vector<RecordList*> lists;
  for (int i = 0; i < Records; ++i) {
    lists.push_back(ListCreate(sizeof(Chain), nullptr, nullptr, 7));
    auto* record = static_cast<Chain*>(ListInsert(lists.back()));
    record->next = {};
    if (i > 0) static_cast<Chain*>(RecordOf(lists[i - 1]->first))->next.list = lists.back();
  }
  const std::int64_t nodesBefore = XmlNodesInUse();
  {
    Document document;
    XmlInsertList(document.root(), lists.front(), chain);
    // The root, "list", then per record its "element" and its field "next"; the record past
    // the limit leaves its "element" empty.
    EXPECT_EQ(XmlNodesInUse(), nodesBefore + 2 + 2 * Nesting + 1);
    std::u16string opening = u"<list>";
    std::u16string closing;
    for (int i = 0; i < Nesting; ++i) {
      opening += u"<element><next>";
      closing = u"</next></element>" + closing;
    }
    EXPECT_EQ(ComposeContent(document.number()), opening + u"<element/>" + closing + u"</list>");

    XmlFormat(document.number(), XmlIndentTree, 1);
    const std::u16string text = Compose(document.number());
    EXPECT_NE(text.find(u"\r\n" + std::u16string(2 * Nesting + 1, u' ') + u"<element/>\r\n" +
                        std::u16string(2 * Nesting, u' ') + u"</next>\r\n"),
              std::u16string::npos);
    EXPECT_EQ(text.substr(text.size() - 9), u"</list>\r\n");
  }
  EXPECT_EQ(XmlNodesInUse(), nodesBefore);
  for (RecordList* list : lists) ListDestroy(list);
}

}  // namespace
