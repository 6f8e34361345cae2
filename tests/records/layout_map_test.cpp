#include <gtest/gtest.h>

#include "records/element_pool.h"
#include "records/match_record.h"
#include "records/record_list.h"
#include "runtime/strings.h"

namespace {

void AddGroup(MatchRecord& match, const char16_t* text) {
  auto* group = static_cast<StringVar*>(ListInsert(match.g.list));
  ASSERT_NE(group, nullptr);
  AssignString(*group, text);
}

class ResultListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CreateMatchRecordList(&results), nullptr);
    // Same slot size as the group lists: keeps their pool alive so that it can be counted.
    observer = ListCreate(8, nullptr, GroupListLayoutMap.data(), 8);
    ASSERT_NE(observer, nullptr);
  }
  void TearDown() override {
    ListDestroy(results.list);
    ListDestroy(observer);
  }

  MatchRecord* AddMatch(const char16_t* text) {
    auto* match = static_cast<MatchRecord*>(ListInsert(results.list));
    if (match) AssignString(match->m, text);
    return match;
  }

  ListSlot results{};
  RecordList* observer = nullptr;
};

TEST_F(ResultListTest, EveryInsertedMatchGetsItsOwnEmptyGroupList) {
  EXPECT_EQ(results.list->needsInitialise, 1);
  EXPECT_EQ(results.list->typeCode, 7);
  MatchRecord* first = AddMatch(u"ab");
  MatchRecord* second = AddMatch(u"cd");
  ASSERT_TRUE(first && second);
  for (MatchRecord* match : {first, second}) {
    const RecordList* groups = match->g.list;
    ASSERT_NE(groups, nullptr);
    EXPECT_EQ(groups->slot, &match->g);
    EXPECT_EQ(ListRecordSize(groups), 8);
    EXPECT_EQ(groups->typeCode, 8);
    EXPECT_EQ(groups->layoutMap, GroupListLayoutMap.data());
    EXPECT_EQ(ListCount(groups), 0);
  }
  EXPECT_NE(first->g.list, second->g.list);
  EXPECT_EQ(observer->pool, first->g.list->pool);
}

// Strings that outlive the clear are reported by the leak checker of the sanitizer build.
TEST_F(ResultListTest, ClearReleasesGroupListsAndTheirStrings) {
  for (int i = 0; i < 50; ++i) {
    MatchRecord* match = AddMatch(u"ab");
    ASSERT_NE(match, nullptr);
    AddGroup(*match, u"a");
    AddGroup(*match, u"b");
  }
  EXPECT_EQ(observer->pool->SlotsInUse(), 100);
  ListClear(results.list);
  EXPECT_EQ(observer->pool->SlotsInUse(), 0);
  EXPECT_EQ(results.list->pool->SlotsInUse(), 0);
  MatchRecord* fresh = AddMatch(nullptr);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->m, nullptr);
  EXPECT_EQ(ListCount(fresh->g.list), 0);
}

// A result list whose records get a group list only with their first group: a record
// without one reads as an empty group list to the list walks, and clearing releases the
// lists that were made (the sanitizer build reports any that leak).
TEST(LazyResultList, RecordsWithoutAGroupListReadAsEmptyAndReleaseWhatWasMade) {
  ListSlot slot{};
  RecordList* results = CreateLazyMatchRecordList(&slot);
  ASSERT_NE(results, nullptr);
  auto* bare = static_cast<MatchRecord*>(ListInsert(results));
  auto* grouped = static_cast<MatchRecord*>(ListInsert(results));
  ASSERT_TRUE(bare && grouped);
  EXPECT_EQ(bare->g.list, nullptr);
  EXPECT_EQ(ListCount(bare->g.list), -1);
  EXPECT_EQ(ListNext(bare->g.list), nullptr);

  RecordList* groups = MatchGroupList(*grouped);
  ASSERT_NE(groups, nullptr);
  EXPECT_EQ(MatchGroupList(*grouped), groups);  // made once
  EXPECT_EQ(groups->slot, &grouped->g);
  EXPECT_EQ(groups->layoutMap, GroupListLayoutMap.data());
  AddGroup(*grouped, u"a");
  AddGroup(*grouped, u"b");
  EXPECT_EQ(ListCount(groups), 2);
  ListRewind(groups);
  auto* first = static_cast<StringVar*>(ListNext(groups));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::u16string(*first), u"a");

  ListClear(results);
  EXPECT_EQ(ListCount(results), 0);
  auto* fresh = static_cast<MatchRecord*>(ListInsert(results));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->g.list, nullptr);
  ListDestroy(results);
}

// A record with a string, a nested record holding a list, a fixed array of records with a
// list each, and the container entries that no library here creates, placed in between
// so that a misread entry length shows as a missing list or a stray write.
struct Inner {
  StringVar name;
  ListSlot items;
};
struct Outer {
  StringVar title;        // 0
  std::int64_t array[5];  // 8: a dynamic array field
  Inner nested;           // 48
  std::int64_t map[4];    // 72
  Inner pair[2];          // 104, stride 24
  std::int64_t grid[6];   // 152: a two-dimension array field
  ListSlot tail;          // 200
};

const std::int64_t kItemMap[] = {0, -1};
const std::int64_t kInnerMap[] = {0, -5, 8, 8, layout::Address(kItemMap), 8, -1};
const std::int64_t kOuterMap[] = {
    0,  -4,  8,  11, 12, 13, 14, -3, 48,  sizeof(Inner), layout::Address(kInnerMap),
    -6, 72,  16, 7,  0,  64, -2, 2,  104, sizeof(Inner), layout::Address(kInnerMap),
    -7, 152, 2,  21, 22, 23, 3,  4,  -5,  200,           16,
    0,  13,  -1,
};

TEST(LayoutMapWalk, InitialiseCreatesEveryNestedListAndReleaseDestroysThem) {
  Outer record{};
  ASSERT_EQ(RecordInitialise(&record, kOuterMap), 1);
  for (Inner* inner : {&record.nested, &record.pair[0], &record.pair[1]}) {
    ASSERT_NE(inner->items.list, nullptr);
    EXPECT_EQ(inner->items.list->slot, &inner->items);
    EXPECT_EQ(inner->items.list->layoutMap, kItemMap);
    AssignString(*static_cast<StringVar*>(ListInsert(inner->items.list)), u"item");
    AssignString(inner->name, u"inner");
  }
  ASSERT_NE(record.tail.list, nullptr);
  EXPECT_EQ(ListRecordSize(record.tail.list), 16);
  EXPECT_EQ(record.tail.list->typeCode, 13);
  EXPECT_EQ(record.grid[1], 3);  // dimension words, from 8 bytes into the field
  EXPECT_EQ(record.grid[2], 4);
  EXPECT_EQ(record.array[0], 0);
  EXPECT_EQ(record.map[0], 0);
  AssignString(record.title, u"title");

  RecordRelease(&record, kOuterMap);
  EXPECT_EQ(record.title, nullptr);
  for (Inner* inner : {&record.nested, &record.pair[0], &record.pair[1]}) {
    EXPECT_EQ(inner->name, nullptr);
    EXPECT_EQ(inner->items.list, nullptr);
  }
  EXPECT_EQ(record.tail.list, nullptr);
}

TEST(LayoutMapWalk, WhichMapsNeedInitialising) {
  const std::int64_t strings[] = {0, 8, -1};
  const std::int64_t nestedStrings[] = {-3, 0, 16, layout::Address(strings), -1};
  const std::int64_t arrayOfStrings[] = {-2, 3, 0, 16, layout::Address(strings), -1};
  const std::int64_t nestedNothing[] = {-3, 0, 16, 0, -1};
  const std::int64_t map[] = {0, -6, 8, 16, 7, 0, 64, -1};
  for (const std::int64_t* none : {strings, nestedStrings, arrayOfStrings, nestedNothing}) {
    EXPECT_FALSE(LayoutNeedsInitialise(none));
  }
  for (const std::int64_t* some : {map, kInnerMap, kOuterMap, MatchRecordLayoutMap.data()}) {
    EXPECT_TRUE(LayoutNeedsInitialise(some));
  }
}

}  // namespace
