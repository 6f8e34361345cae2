#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "json_test_support.h"
#include "records/match_record.h"

namespace {

class ResultListExport : public JsonDocumentTest {
 protected:
  void SetUp() override {
    JsonDocumentTest::SetUp();
    list = CreateMatchRecordList(&slot);
    ASSERT_NE(list, nullptr);
  }
  void TearDown() override {
    ListDestroy(list);
    JsonDocumentTest::TearDown();
  }

  void AddMatch(const char16_t* match, std::initializer_list<const char16_t*> groups) {
    auto* record = static_cast<MatchRecord*>(ListInsert(list));
    ASSERT_NE(record, nullptr);
    AssignString(record->m, match);
    for (const char16_t* group : groups) {
      auto* text = static_cast<StringVar*>(ListInsert(record->g.list));
      ASSERT_NE(text, nullptr);
      AssignString(*text, group);
    }
  }

  ListSlot slot{};
  RecordList* list = nullptr;
};

std::u16string CrLfJoined(std::initializer_list<const char16_t*> lines) {
  std::u16string text;
  for (const char16_t* line : lines) text += (text.empty() ? u"" : u"\r\n") + std::u16string(line);
  return text;
}

TEST_F(ResultListExport, TwoMatchesComposeAsTheEvaluatorWritesThem) {
  AddMatch(u"ab", {u"a", u"b"});
  AddMatch(u"cd", {u"c", u"d"});
  JsonInsertList(root, list, MatchStructDescriptor.data());
  EXPECT_EQ(
      Compose(JsonPrettyPrint),
      CrLfJoined({u"[", u"  {", u"    \"g\": [", u"        \"a\",", u"        \"b\"", u"      ],",
                  u"    \"m\": \"ab\"", u"  },", u"  {", u"    \"g\": [", u"        \"c\",",
                  u"        \"d\"", u"      ],", u"    \"m\": \"cd\"", u"  }", u"]"}));
  EXPECT_EQ(Compose(), u"[{\"g\":[\"a\",\"b\"],\"m\":\"ab\"},{\"g\":[\"c\",\"d\"],\"m\":\"cd\"}]");
}

TEST_F(ResultListExport, ReinsertionReplacesTheTreeWithNewRecords) {
  AddMatch(u"ab", {u"a", u"b"});
  JsonInsertList(root, list, MatchStructDescriptor.data());
  ListClear(list);
  AddMatch(u"x", {});
  AddMatch(u"y", {u""});
  JsonInsertList(root, list, MatchStructDescriptor.data());
  EXPECT_EQ(Compose(JsonPrettyPrint),
            CrLfJoined({u"[", u"  {", u"    \"g\": [],", u"    \"m\": \"x\"", u"  },", u"  {",
                        u"    \"g\": [", u"        \"\"", u"      ],", u"    \"m\": \"y\"", u"  }",
                        u"]"}));

  ListClear(list);
  JsonInsertList(root, list, MatchStructDescriptor.data());
  EXPECT_EQ(Compose(JsonPrettyPrint), u"[]");
  JsonSetObject(root);
  JsonInsertList(root, nullptr, MatchStructDescriptor.data());
  EXPECT_EQ(Compose(JsonPrettyPrint), u"[]");
}

TEST_F(JsonDocumentTest, IntListIsConvertedElementwiseDespiteADescriptor) {
  ListSlot slot{};
  RecordList* numbers = ListCreate(8, &slot, nullptr, static_cast<std::int32_t>(TypeCode::Int));
  for (std::int64_t n : {7, -1}) *static_cast<std::int64_t*>(ListInsert(numbers)) = n;
  JsonInsertList(root, numbers, MatchStructDescriptor.data());
  EXPECT_EQ(Compose(), u"[7,-1]");
  ListDestroy(numbers);
}

std::uint32_t BucketOf(const std::u16string& key) {
  std::uint32_t hash = 0;
  for (char16_t unit : key) hash = hash * 65599u + unit;
  return hash % 64;
}

// " " hashes to bucket 32, "!" and "a" both to 33, "b" to 34.
TEST_F(JsonDocumentTest, MembersComeByBucketThenNewestFirst) {
  JsonSetObject(root);
  std::int64_t n = 0;
  for (const char16_t* key : {u"b", u"a", u"!", u" "})
    JsonSetInteger(JsonAddMember(root, key), ++n);
  JsonValue* again = JsonAddMember(root, u"a");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->kind, JsonKindNull);
  JsonSetInteger(again, 5);
  EXPECT_EQ(Compose(), u"{\" \":4,\"!\":3,\"a\":5,\"b\":1}");
  EXPECT_EQ(JsonAppendElement(root), nullptr);
}

TEST_F(JsonDocumentTest, LargeObjectsKeepTheSameOrder) {
  JsonSetObject(root);
  std::vector<std::u16string> keys;
  for (int i = 0; i < 300; ++i) {
    std::string digits = std::to_string(i * 7919);
    std::u16string key = u"k";  // appended, not concatenated: GCC 12 -O3 warns falsely
    key.append(digits.begin(), digits.end());
    keys.push_back(key);
    JsonSetInteger(JsonAddMember(root, keys.back().c_str()), i);
  }
  for (int i = 0; i < 300; i += 3) JsonSetInteger(JsonAddMember(root, keys[i].c_str()), i);

  std::vector<int> order(keys.size());
  for (int i = 0; i < 300; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return BucketOf(keys[a]) != BucketOf(keys[b]) ? BucketOf(keys[a]) < BucketOf(keys[b]) : a > b;
  });
  std::u16string expected = u"{";
  for (int i : order) {
    std::string digits = std::to_string(i);
    expected += (expected.size() > 1 ? u",\"" : u"\"") + keys[i] + u"\":" +
                std::u16string(digits.begin(), digits.end());
  }
  EXPECT_EQ(Compose(), expected + u"}");
}

struct Holder {
  char16_t* name;
  std::int64_t reference;
  char16_t fixed[4];
  std::int16_t triple[3];
  const void* grid;  // a dynamic array and a map: no library here makes either
  void* map;
};

// The container entries sit between the others, so that a misread entry length shows.
TEST_F(JsonDocumentTest, RecordFieldsBecomeMembersOfEveryKind) {
  char16_t name[] = u"n\u00e9";
  Holder holder{name, 42, {u'a', u'b', u'c', u'd'}, {-1, 0, 1}, name, name};

  Descriptor holderType("holder");
  RecordDescriptor type =
      holderType
          .Simple(static_cast<std::uint8_t>(TypeCode::String), offsetof(Holder, name), "name$")
          .Simple(0x80 | static_cast<std::uint8_t>(TypeCode::Int64), offsetof(Holder, reference),
                  "*ref")
          .Simple(static_cast<std::uint8_t>(TypeCode::FixedString), offsetof(Holder, fixed),
                  "fixed")
          .Int32(sizeof holder.fixed)
          .FixedArray(static_cast<std::uint8_t>(TypeCode::Int16), offsetof(Holder, triple), 3, 2,
                      "triple")
          .Container(descriptor::kDynamicArray, static_cast<std::uint8_t>(TypeCode::Int32),
                     offsetof(Holder, grid), "grid")
          .Container(descriptor::kMap, static_cast<std::uint8_t>(TypeCode::Int32),
                     offsetof(Holder, map), "map")
          .Finish();

  JsonInsertRecord(root, &holder, type);
  EXPECT_EQ(Compose(),
            u"{\"grid\":null,\"name\":\"n\u00e9\",\"ref\":42,"
            u"\"fixed\":\"abcd\",\"map\":null,\"triple\":[-1,0,1]}");
}

TEST_F(JsonDocumentTest, NoCaseDocumentKeepsOneMemberPerKey) {
  JsonFree(document);
  ASSERT_NE(JsonCreate(0, JsonNoCase), 0);
  document = 0;
  root = JsonRoot(document);
  const std::int32_t fields[] = {1, 2, 3};
  Descriptor triple("triple");
  RecordDescriptor type = triple.Simple(static_cast<std::uint8_t>(TypeCode::Int32), 0, "Key")
                              .Simple(static_cast<std::uint8_t>(TypeCode::Int32), 4, "other")
                              .Simple(static_cast<std::uint8_t>(TypeCode::Int32), 8, "KEY")
                              .Finish();
  JsonInsertRecord(root, fields, type);
  JsonValue* inner = JsonAddMember(root, u"inner");
  JsonSetObject(inner);
  JsonSetInteger(JsonAddMember(inner, u"Z"), 1);
  JsonSetInteger(JsonAddMember(inner, u"z"), 2);
  EXPECT_EQ(Compose(), u"{\"other\":2,\"inner\":{\"Z\":2},\"Key\":3}");
}

TEST(JsonDocuments, StaticNumberIsReplacedAndAnyHandleFreesAll) {
  JsonInit();
  ASSERT_NE(JsonCreate(3, 0), 0);
  JsonSetString(JsonRoot(3), u"old");
  ASSERT_NE(JsonCreate(3, JsonNoCase | JsonPrettyPrint), 0);
  ASSERT_NE(JsonRoot(3), nullptr);
  EXPECT_EQ(JsonRoot(3)->kind, JsonKindNull);
  EXPECT_EQ(JsonRoot(3)->flags, JsonNoCase);
  const ObjectNumber first = JsonCreate(AnyHandle, 0);
  const ObjectNumber second = JsonCreate(AnyHandle, 0);
  EXPECT_NE(first, 0);
  EXPECT_NE(first, second);
  JsonSetArray(JsonRoot(second));
  JsonFree(AnyHandle);
  EXPECT_EQ(JsonRoot(3), nullptr);
  EXPECT_EQ(TakeResult([](std::int64_t at) { JsonCompose(3, 0, at); }), u"");
}

}  // namespace
