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

  MatchList one({{u"ab", {u"a"}}});
  ASSERT_NE(XmlInsertList(list, one.list(), MatchStruct), nullptr);
  EXPECT_EQ(ComposeContent(document.number()),
            u"<list><list><element><m>ab</m><g><element>a</element></g></element></list></list>");
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

TEST(XmlInsertList, FieldsByDescriptor) {
  DescriptorBytes innerBytes("inner");
  RecordDescriptor inner = innerBytes.Field(5, 0, "value").End();
  DescriptorBytes typedBytes("typed");
  typedBytes.Field(1, offsetof(Typed, small), "small")
      .Field(25, offsetof(Typed, wide), "wide")
      .Field(9, offsetof(Typed, ratio), "ratio")
      .Field(12, offsetof(Typed, real), "real")
      .Field(10, offsetof(Typed, fixed), "fixed")
      .Int32(8)
      .Field(0x80 | 8, offsetof(Typed, reference), "*reference")
      .Field(8, offsetof(Typed, name), "name$")
      .Field(7, offsetof(Typed, inner), "inner")
      .Address(inner)
      .Byte(descriptor::kFixedArray)
      .Byte(3)
      .Int32(offsetof(Typed, pair))
      .Int32(2)
      .Int32(2)
      .Text("pair");
  RecordDescriptor typed = typedBytes.End();

  RecordList* records = ListCreate(sizeof(Typed), nullptr, nullptr, 7);
  auto* record = static_cast<Typed*>(ListInsert(records));
  *record = {
      -5,      65535, 0.25f,  -1.5, {u'a', u'b', u'c', u'd'}, reinterpret_cast<const void*>(0x1234),
      nullptr, {7},   {1, -2}};
  AssignString(record->name, u"n<");
  Document document;
  ASSERT_NE(XmlInsertList(document.root(), records, typed), nullptr);
  FreeString(record->name);
  ListDestroy(records);
  EXPECT_EQ(ComposeContent(document.number()),
            u"<list><element><small>-5</small><wide>65535</wide><ratio>0.25</ratio>"
            u"<real>-1.5</real><fixed>abcd</fixed><reference>4660</reference><name>n&lt;</name>"
            u"<inner><value>7</value></inner>"
            u"<pair><element>1</element><element>-2</element></pair></element></list>");
}

TEST(XmlInsertList, IntListTakesTheDescriptorWhenGiven) {
  RecordList* numbers = ListCreate(8, nullptr, nullptr, static_cast<std::int32_t>(TypeCode::Int));
  *static_cast<std::int64_t*>(ListInsert(numbers)) = 42;
  *static_cast<std::int64_t*>(ListInsert(numbers)) = -1;
  DescriptorBytes bytes("number");
  RecordDescriptor number = bytes.Field(13, 0, "n").End();

  Document byDescriptor;
  XmlInsertList(byDescriptor.root(), numbers, number);
  Document byValue;
  XmlInsertList(byValue.root(), numbers, nullptr);
  ListDestroy(numbers);
  EXPECT_EQ(ComposeContent(byDescriptor.number()),
            u"<list><element><n>42</n></element><element><n>-1</n></element></list>");
  EXPECT_EQ(ComposeContent(byValue.number()),
            u"<list><element>42</element><element>-1</element></list>");
}

}  // namespace
