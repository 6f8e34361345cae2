#include <gtest/gtest.h>

#include <cstring>

#include "xml_test_support.h"

namespace {

using namespace xml_test;

const RecordDescriptor MatchStruct = MatchStructDescriptor.data();

TEST(XmlInsertList, EmptyListStillAddsListAndRootTakesOneMainElement) {
  Document document;
  MatchList empty({});
  XmlNode* list = XmlInsertList(document.root(), empty.list(), MatchStruct);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(XmlInsertList(document.root(), empty.list(), MatchStruct), nullptr);
  EXPECT_EQ(XmlCreateNode(document.root(), u"second", XmlAfterLastChild, XmlElement), nullptr);
  EXPECT_EQ(XmlCreateNode(document.root(), u"x", nullptr, XmlRoot), nullptr);

  MatchList one({{u"ab", {u"a"}}});
  ASSERT_NE(XmlInsertList(list, one.list(), MatchStruct), nullptr);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<list><list><element><m>ab</m><g><element>a</element></g></element></list></list>");
}

TEST(XmlCreateNode, LinksByPreviousAndKeepsChildrenOfLeafTypesOutOfTheTree) {
  Document document;
  XmlNode* top = XmlCreateNode(document.root(), u"top", XmlAfterLastChild, XmlElement);
  XmlNode* b = XmlCreateNode(top, u"b", XmlAfterLastChild, XmlElement);
  XmlCreateNode(top, u"a", nullptr, XmlElement);             // first child
  XmlCreateNode(top, u"c", b, XmlElement);                   // right after b
  XmlCreateNode(top, u"d", document.root(), XmlElement);     // not a child: last
  XmlNode* comment = XmlCreateNode(top, nullptr, XmlAfterLastChild, XmlComment);
  XmlSetText(comment, u"note");

  // Created, filled, but never composed; freed with the document.
  XmlNode* lost = XmlCreateNode(comment, u"lost", XmlAfterLastChild, XmlElement);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(lost->parent, nullptr);
  XmlSetText(lost, u"text");
  MatchList one({{u"ab", {u"a"}}});
  EXPECT_NE(XmlInsertList(comment, one.list(), MatchStruct), nullptr);

  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<top><a/><b/><c/><d/><!--note--></top>");
}

TEST(XmlSetAttribute, IdInAnyCaseAndExactReplace) {
  Document document;
  XmlNode* e = XmlCreateNode(document.root(), u"e", XmlAfterLastChild, XmlElement);
  XmlSetAttribute(e, u"iD", u"1");
  EXPECT_EQ(e->idAttribute, 0);
  XmlSetAttribute(e, u"x", u"old");
  XmlSetAttribute(e, u"ID", u"2");  // differs from "iD" exactly: a new pair
  EXPECT_EQ(e->idAttribute, 2);
  XmlSetAttribute(e, u"x", u"new");
  XmlSetAttribute(e, u"y", nullptr);
  XmlSetAttribute(e, nullptr, u"z");
  EXPECT_EQ(e->attributeCount, 5);
  EXPECT_EQ(e->spareAttributes, 3);  // grown to 4 + 4 pairs at the fifth
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<e iD=\"1\" x=\"new\" ID=\"2\" y=\"\" =\"z\"/>");
}

struct Inner {
  std::int32_t value;
};

struct Typed {
  std::int8_t small;
  std::uint16_t wide;
  float ratio;
  double real;
  char16_t fixed[4];
  const void* reference;
  StringVar name;
  Inner inner;
  std::int16_t pair[2];
};

TEST(XmlInsertRecord, FieldsByDescriptor) {
  DescriptorBytes innerBytes("inner");
  RecordDescriptor inner = innerBytes.Field(5, 0, "value").End();
  DescriptorBytes typedBytes("typed");
  typedBytes.Field(1, offsetof(Typed, small), "small")
      .Field(25, offsetof(Typed, wide), "wide")
      .Field(9, offsetof(Typed, ratio), "ratio")
      .Field(12, offsetof(Typed, real), "real")
      .Field(10, offsetof(Typed, fixed), "fixed").Int32(8)
      .Field(0x80 | 8, offsetof(Typed, reference), "*reference")
      .Field(8, offsetof(Typed, name), "name$")
      .Field(7, offsetof(Typed, inner), "inner").Address(inner)
      .Byte(descriptor::kFixedArray).Byte(3).Int32(offsetof(Typed, pair)).Int32(2).Int32(2)
      .Text("pair");
  RecordDescriptor typed = typedBytes.End();

  Typed record{-5, 65535, 0.25f, -1.5, {u'a', u'b', u'c', u'd'},
               reinterpret_cast<const void*>(0x1234), nullptr, {7}, {1, -2}};
  AssignString(record.name, u"n<");
  Document document;
  ASSERT_NE(XmlInsertRecord(document.root(), &record, typed), nullptr);
  FreeString(record.name);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<typed><small>-5</small><wide>65535</wide><ratio>0.25</ratio><real>-1.5</real>"
            u"<fixed>abcd</fixed><reference>4660</reference><name>n&lt;</name>"
            u"<inner><value>7</value></inner>"
            u"<pair><element>1</element><element>-2</element></pair></typed>");
}

TEST(XmlInsertList, IntListTakesTheDescriptorWhenGiven) {
  RecordList* numbers = ListCreate(8, nullptr, nullptr, static_cast<std::int32_t>(TypeCode::Int));
  *static_cast<std::int64_t*>(ListInsert(numbers)) = 42;
  *static_cast<std::int64_t*>(ListInsert(numbers)) = -1;
  DescriptorBytes bytes("number");
  RecordDescriptor number = bytes.Field(13, 0, "n").End();

  Document document;
  XmlNode* top = XmlCreateNode(document.root(), u"top", XmlAfterLastChild, XmlElement);
  XmlInsertList(top, numbers, number);
  XmlInsertList(top, numbers, nullptr);
  ListDestroy(numbers);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<top><list><element><n>42</n></element><element><n>-1</n></element></list>"
            u"<list><element>42</element><element>-1</element></list></top>");
}

TEST(XmlInsertArrayAndMap, IndexLettersKeysAndPlacement) {
  const std::int32_t values[6] = {1, 2, 3, 4, 5, 6};
  const std::int64_t grid[2] = {1, 2};  // 2 x 3 entries
  const ArrayDataView matrix{2, grid, 4, static_cast<std::int32_t>(TypeCode::Int32), values};
  const std::int64_t line[1] = {1};
  const ArrayDataView pairOf{1, line, 4, static_cast<std::int32_t>(TypeCode::Int32), values};
  const char16_t* texts[2] = {u"first", u"second"};
  const MapEntryView entries[2] = {{u"x", &texts[0]}, {nullptr, &texts[1]}};
  MapView map{2, 8, static_cast<std::int32_t>(TypeCode::String), entries, 0};

  Document document;
  XmlNode* top = XmlCreateNode(document.root(), u"top", XmlAfterLastChild, XmlElement);
  XmlNode* grids = XmlInsertArray(top, &matrix, nullptr, XmlAfterLastChild);
  XmlInsertMap(top, &map, nullptr, nullptr);  // as the first child
  XmlInsertArray(top, &pairOf, nullptr, grids);
  EXPECT_EQ(map.position, 0);
  EXPECT_EQ(Compose(document.number(), XmlNoDeclaration),
            u"<top><map><element key=\"x\">first</element><element key=\"\">second</element></map>"
            u"<array><element a=\"0\" b=\"0\">1</element><element a=\"0\" b=\"1\">2</element>"
            u"<element a=\"0\" b=\"2\">3</element><element a=\"1\" b=\"0\">4</element>"
            u"<element a=\"1\" b=\"1\">5</element><element a=\"1\" b=\"2\">6</element></array>"
            u"<array><element>1</element><element>2</element></array></top>");
}

}  // namespace
