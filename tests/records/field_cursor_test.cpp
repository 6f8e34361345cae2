#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "records/match_record.h"
#include "records/record_descriptor.h"

namespace {

// Builds descriptor bytes the way a record type's static table spells them.
class DescriptorBytes {
 public:
  DescriptorBytes(const std::string& name, const std::int64_t* layoutMap) {
    Text(name);
    Text("");
    Address(layoutMap);
  }
  DescriptorBytes& Byte(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  DescriptorBytes& Int32(std::int32_t value) {
    for (int i = 0; i < 4; ++i)
      Byte(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i)));
    return *this;
  }
  DescriptorBytes& Text(const std::string& text) {
    for (char c : text) Byte(static_cast<std::uint8_t>(c));
    return Byte(0);
  }
  DescriptorBytes& Address(const void* pointer) {
    auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
    for (int i = 0; i < 8; ++i) Byte(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  // Copies into a buffer shifted by one byte, so that no read may rely on alignment.
  RecordDescriptor Misaligned() {
    storage_.assign(bytes_.size() + 1, 0);
    std::memcpy(storage_.data() + 1, bytes_.data(), bytes_.size());
    return storage_.data() + 1;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> storage_;
};

TEST(MatchStructTables, DescriptorIsTheExactThirtySevenBytes) {
  std::vector<std::uint8_t> expected = {'m', 'a', 't', 'c', 'h', 's', 't',
                                        'r', 'u', 'c', 't', 0,   0};
  auto map =
      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(MatchRecordLayoutMap.data()));
  for (int i = 0; i < 8; ++i) expected.push_back(static_cast<std::uint8_t>(map >> (8 * i)));
  for (int b : {0x08, 0, 0, 0, 0, int{'m'}, 0, 0x0E, 0x08, 8, 0, 0, 0, int{'g'}, 0, 0xFF}) {
    expected.push_back(static_cast<std::uint8_t>(b));
  }
  ASSERT_EQ(expected.size(), 37u);
  EXPECT_EQ(std::vector<std::uint8_t>(MatchStructDescriptor.begin(), MatchStructDescriptor.end()),
            expected);
}

TEST(MatchStructTables, LayoutMapsAreTheGivenWordSequences) {
  const auto group =
      static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(GroupListLayoutMap.data()));
  EXPECT_EQ(MatchRecordLayoutMap, (std::array<std::int64_t, 7>{0, -5, 8, 8, group, 8, -1}));
  EXPECT_EQ(GroupListLayoutMap, (std::array<std::int64_t, 2>{0, -1}));
}

TEST(FieldCursorWalk, MatchStructYieldsMThenG) {
  MatchRecord record{};
  FieldCursor cursor;
  cursor.Start(MatchStructDescriptor.data(), &record);
  EXPECT_STREQ(cursor.recordName, "matchstruct");
  EXPECT_STREQ(cursor.secondName, "");
  EXPECT_EQ(cursor.layoutMap, MatchRecordLayoutMap.data());

  ASSERT_TRUE(cursor.Step());
  EXPECT_STREQ(cursor.name, "m");
  EXPECT_EQ(cursor.kind, FieldKind::Simple);
  EXPECT_EQ(cursor.typeCode, 8);
  EXPECT_FALSE(cursor.isReference);
  EXPECT_EQ(cursor.offset, 0);
  EXPECT_EQ(cursor.fieldAddress, reinterpret_cast<const std::uint8_t*>(&record.m));
  EXPECT_EQ(cursor.nestedDescriptor, nullptr);

  ASSERT_TRUE(cursor.Step());
  EXPECT_STREQ(cursor.name, "g");
  EXPECT_EQ(cursor.kind, FieldKind::List);
  EXPECT_EQ(cursor.typeCode, 8);
  EXPECT_EQ(cursor.offset, 8);
  EXPECT_EQ(cursor.fieldAddress, reinterpret_cast<const std::uint8_t*>(&record.g));

  EXPECT_FALSE(cursor.Step());
  EXPECT_FALSE(cursor.Step());
}

TEST(FieldNames, BareNamesLoseTheReferenceStarAndTheStringDollar) {
  EXPECT_EQ(BareFieldName("*m$"), "m");
  EXPECT_EQ(BareFieldName("g"), "g");
  EXPECT_EQ(BareFieldName("a$b"), "a$b");  // only a trailing one
  EXPECT_EQ(BareFieldName("*"), "");
  EXPECT_EQ(BareFieldName(nullptr), "");
}

TEST(FieldCursorWalk, EndByteOnlyYieldsNoFields) {
  const std::int64_t map[] = {-1};
  DescriptorBytes bytes("empty", map);
  bytes.Byte(0xFF);
  FieldCursor cursor;
  cursor.Start(bytes.Misaligned(), nullptr);
  EXPECT_STREQ(cursor.recordName, "empty");
  EXPECT_EQ(cursor.layoutMap, map);
  EXPECT_FALSE(cursor.Step());
}

// Every entry kind, each followed by another entry, so a misread length shows up as a
// wrong next field.
TEST(FieldCursorWalk, EveryEntryKindAndWhatFollowsItsName) {
  const std::uint8_t nested[] = {'n', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
  DescriptorBytes bytes("all", nullptr);
  bytes.Byte(0x0A).Int32(16).Text("fixed$").Int32(40);                   // FixedString, 40 bytes
  bytes.Byte(0x88).Int32(-8).Text("*text");                              // reference to String
  bytes.Byte(0xFE).Byte(0x05).Int32(64).Int32(3).Int32(4).Text("ints");  // Int32[3]
  bytes.Byte(0x0E).Byte(0x0A).Int32(80).Text("names");                   // list of FixedString
  bytes.Byte(0x0F).Byte(0x0C).Byte(0x77).Int32(96).Text("reals");        // dynamic array
  bytes.Byte(0x16).Byte(0x07).Int32(104).Text("byKey").Address(nested);  // map of records
  bytes.Byte(0x07).Int32(112).Text("inner").Address(nested);             // nested record
  bytes.Byte(0x8A).Int32(120).Text("pointer");                           // reference, no length
  bytes.Byte(0xFF);

  std::uint8_t record[200] = {};
  FieldCursor cursor;
  cursor.Start(bytes.Misaligned(), record + 50);

  struct Expected {
    const char* name;
    FieldKind kind;
    int type;
    bool reference;
    int offset;
    int count, stride, fixedBytes;
    const void* nested;
  };
  const Expected fields[] = {
      {"fixed$", FieldKind::Simple, 10, false, 16, 0, 0, 40, nullptr},
      {"*text", FieldKind::Simple, 8, true, -8, 0, 0, 0, nullptr},
      {"ints", FieldKind::FixedArray, 5, false, 64, 3, 4, 0, nullptr},
      {"names", FieldKind::List, 10, false, 80, 0, 0, 0, nullptr},
      {"reals", FieldKind::DynamicArray, 12, false, 96, 0, 0, 0, nullptr},
      {"byKey", FieldKind::Map, 7, false, 104, 0, 0, 0, nested},
      {"inner", FieldKind::Simple, 7, false, 112, 0, 0, 0, nested},
      {"pointer", FieldKind::Simple, 10, true, 120, 0, 0, 0, nullptr},
  };
  for (const Expected& field : fields) {
    SCOPED_TRACE(field.name);
    ASSERT_TRUE(cursor.Step());
    EXPECT_STREQ(cursor.name, field.name);
    EXPECT_EQ(cursor.kind, field.kind);
    EXPECT_EQ(cursor.typeCode, field.type);
    EXPECT_EQ(cursor.isReference, field.reference);
    EXPECT_EQ(cursor.offset, field.offset);
    EXPECT_EQ(cursor.fieldAddress, record + 50 + field.offset);
    EXPECT_EQ(cursor.count, field.count);
    EXPECT_EQ(cursor.stride, field.stride);
    EXPECT_EQ(cursor.fixedStringBytes, field.fixedBytes);
    EXPECT_EQ(cursor.nestedDescriptor, field.nested);
  }
  EXPECT_FALSE(cursor.Step());
}

}  // namespace
