#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "records/element_pool.h"
#include "records/match_record.h"
#include "records/record_list.h"

// Lets the out-of-memory tests see a refused allocation as a null result under the
// sanitizers too, instead of a report that ends the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct Number {
  std::int64_t value;
};

class NumberList : public ::testing::Test {
 protected:
  void SetUp() override { list = ListCreate(sizeof(Number), &slot, nullptr, 13); }
  void TearDown() override { ListDestroy(list); }

  void Insert(std::int64_t value) {
    auto* record = static_cast<Number*>(ListInsert(list));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->value, 0);
    record->value = value;
  }

  // The values front to back, checked against the back links read back to front.
  std::vector<std::int64_t> Values() {
    std::vector<std::int64_t> forward, backward;
    for (ListElement* e = list->first; e; e = e->next) {
      forward.push_back(static_cast<Number*>(RecordOf(e))->value);
    }
    for (ListElement* e = list->last; e; e = e->previous) {
      backward.insert(backward.begin(), static_cast<Number*>(RecordOf(e))->value);
    }
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(static_cast<std::int64_t>(forward.size()), ListCount(list));
    return forward;
  }

  std::int64_t CurrentValue() {
    EXPECT_EQ(slot.current, list->current);
    return list->current ? static_cast<Number*>(RecordOf(list->current))->value : -1;
  }

  ListSlot slot{};
  RecordList* list = nullptr;
};

TEST_F(NumberList, SuccessiveInsertsKeepTheirOrder) {
  for (std::int64_t v = 1; v <= 4; ++v) Insert(v);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(CurrentValue(), 4);
  EXPECT_EQ(list->index, 3);
  EXPECT_EQ(list->beforeFirst, 0);
}

TEST_F(NumberList, InsertAfterRewindGoesToTheFront) {
  Insert(1);
  Insert(2);
  ListRewind(list);
  EXPECT_EQ(slot.current, nullptr);
  EXPECT_EQ(list->beforeFirst, 1);
  Insert(10);
  Insert(11);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{10, 11, 1, 2}));
  EXPECT_EQ(list->index, 1);
}

TEST_F(NumberList, WalkVisitsEveryRecordAndMirrorsTheCursor) {
  for (std::int64_t v = 1; v <= 3; ++v) Insert(v);
  ListRewind(list);
  std::vector<std::int64_t> seen;
  while (auto* record = static_cast<Number*>(ListNext(list))) {
    EXPECT_EQ(RecordOf(slot.current), record);
    EXPECT_EQ(list->index, static_cast<std::int64_t>(seen.size()));
    seen.push_back(record->value);
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(CurrentValue(), 3);  // a walk off the end stays on the last element
  EXPECT_EQ(ListNext(list), nullptr);
  Insert(4);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 2, 3, 4}));
}

TEST_F(NumberList, InsertAfterANextGoesIntoTheMiddle) {
  for (std::int64_t v = 1; v <= 3; ++v) Insert(v);
  ListRewind(list);
  ListNext(list);
  Insert(15);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 15, 2, 3}));
  EXPECT_EQ(list->index, 1);
  EXPECT_EQ(static_cast<Number*>(ListNext(list))->value, 2);
}

// Several at once land where as many single inserts would, zeroed even in reused slots.
TEST_F(NumberList, SeveralInsertsGoInOrderAfterTheCursor) {
  for (std::int64_t v = 1; v <= 3; ++v) Insert(v);
  ListRewind(list);
  ListNext(list);
  const auto fill = [this](std::int64_t count, std::int64_t from) {
    void* first = ListInsertSeveral(list, count);
    EXPECT_NE(first, nullptr);
    for (ListElement* e = ElementOf(first); e && count-- > 0; e = e->next) {
      auto* number = static_cast<Number*>(RecordOf(e));
      EXPECT_EQ(number->value, 0);
      number->value = from++;
    }
  };
  fill(3, 10);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 10, 11, 12, 2, 3}));
  EXPECT_EQ(CurrentValue(), 12);
  EXPECT_EQ(list->index, 3);
  ListClear(list);
  fill(2, 20);  // into an empty list, from slots given back dirty
  ListRewind(list);
  fill(1, 30);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{30, 20, 21}));
  EXPECT_EQ(list->index, 0);
  EXPECT_EQ(ListInsertSeveral(list, 0), nullptr);
  EXPECT_EQ(ListInsertSeveral(nullptr, 2), nullptr);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{30, 20, 21}));
}

TEST(RecordListInit, SeveralRecordsEachGetTheirNestedLists) {
  ListSlot slot{};
  RecordList* list = CreateMatchRecordList(&slot);
  ASSERT_NE(list, nullptr);
  void* first = ListInsertSeveral(list, 3);
  ASSERT_NE(first, nullptr);
  int records = 0;
  for (ListElement* e = ElementOf(first); e; e = e->next, ++records) {
    const auto* record = static_cast<MatchRecord*>(RecordOf(e));
    EXPECT_NE(record->g.list, nullptr);
    EXPECT_EQ(record->m, nullptr);
  }
  EXPECT_EQ(records, 3);
  ListDestroy(list);
}

TEST_F(NumberList, LastMovesTheCursorSoThatInsertAppends) {
  EXPECT_EQ(ListNext(list), nullptr);
  EXPECT_EQ(ListLast(list), nullptr);
  EXPECT_EQ(slot.current, nullptr);
  for (std::int64_t v = 1; v <= 3; ++v) Insert(v);
  ListRewind(list);
  auto* last = static_cast<Number*>(ListLast(list));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->value, 3);
  EXPECT_EQ(list->index, 2);
  EXPECT_EQ(list->beforeFirst, 0);
  Insert(4);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 2, 3, 4}));
}

TEST_F(NumberList, ClearEmptiesAndElementMemoryComesBack) {
  Insert(1);
  Insert(2);
  std::set<void*> before = {RecordOf(list->first), RecordOf(list->last)};
  const std::int64_t allocated = list->pool->SlotsAllocated();
  ListClear(list);
  EXPECT_TRUE(!list->first && !list->last && !list->current && !slot.current);
  EXPECT_EQ(list->beforeFirst, 1);
  EXPECT_EQ(list->pool->SlotsInUse(), 0);
  Insert(3);
  Insert(4);
  EXPECT_EQ((std::set<void*>{RecordOf(list->first), RecordOf(list->last)}), before);
  EXPECT_EQ(list->pool->SlotsAllocated(), allocated);
  EXPECT_EQ(list->pool->SlotsInUse(), 2);
}

TEST_F(NumberList, ClearingABigListGivesItsBlocksBackToTheHeap) {
  for (std::int64_t v = 0; v < 2 * ElementPool::kDefaultMaximumBlockSlots; ++v) Insert(v);
  EXPECT_GT(list->pool->SlotsAllocated(), ElementPool::kDefaultMaximumBlockSlots);
  ListClear(list);
  EXPECT_EQ(list->pool->SlotsAllocated(), 0);
  Insert(7);
  EXPECT_EQ(Values(), std::vector<std::int64_t>{7});
}

TEST_F(NumberList, MoveAllAppendsInOrderAndReleaseFrontTakesTheOldestFirst) {
  Insert(1);
  Insert(2);
  ListSlot otherSlot{};
  RecordList* other = ListCreate(sizeof(Number), &otherSlot, nullptr, 13);
  ASSERT_NE(ListInsert(other), nullptr);
  ListRewind(other);
  EXPECT_TRUE(ListMoveAll(list, other));
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_TRUE(!list->first && !slot.current && list->beforeFirst == 1);
  std::swap(list, other);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_EQ(ListReleaseFront(list, 2), 1);
  EXPECT_EQ(Values(), std::vector<std::int64_t>{2});
  EXPECT_EQ(CurrentValue(), -1);
  EXPECT_EQ(ListReleaseFront(list, 5), 0);
  EXPECT_EQ(ListReleaseFront(list, 5), 0);
  EXPECT_EQ(list->pool->SlotsInUse(), 0);
  Insert(9);  // the emptied list takes records as before
  EXPECT_EQ(Values(), std::vector<std::int64_t>{9});
  std::swap(list, other);
  Insert(3);  // and so does the one moved from
  EXPECT_EQ(Values(), std::vector<std::int64_t>{3});
  ListDestroy(other);
  EXPECT_FALSE(ListMoveAll(list, list));
  EXPECT_EQ(ListReleaseFront(nullptr, 1), -1);
}

TEST_F(NumberList, ReleaseBackTakesTheNewestAndLeavesTheCursorOnTheLastKept) {
  for (std::int64_t v = 1; v <= 5; ++v) Insert(v);
  EXPECT_EQ(ListReleaseBack(list, 2), 3);
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(CurrentValue(), 3);
  EXPECT_EQ(list->index, 2);
  Insert(4);  // goes after the cursor, at the end again
  EXPECT_EQ(Values(), (std::vector<std::int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(ListReleaseBack(list, 9), 0);
  EXPECT_TRUE(!list->first && !list->last && !slot.current && list->beforeFirst == 1);
  EXPECT_EQ(list->pool->SlotsInUse(), 0);
  Insert(8);
  EXPECT_EQ(Values(), std::vector<std::int64_t>{8});
  EXPECT_EQ(ListReleaseBack(nullptr, 1), -1);
}

// Under the address sanitizer a text or group list left behind shows as a leak.
TEST(RecordListRelease, ReleasingInStepsFreesTheTextsAndGroupListsOfMatchRecords) {
  RecordList* result = CreateLazyMatchRecordList(nullptr);
  RecordList* retired = CreateLazyMatchRecordList(nullptr);
  for (int match = 0; match < 1000; ++match) {
    auto* record = static_cast<MatchRecord*>(ListInsert(result));
    ASSERT_NE(record, nullptr);
    AssignString(record->m, u"match");
    if (match % 3 == 0)
      AssignString(*static_cast<StringVar*>(ListInsert(MatchGroupList(*record))), u"g");
  }
  RecordList* texts = ListCreate(8, nullptr, nullptr, 0);
  EXPECT_FALSE(ListMoveAll(result, texts));  // another layout
  ListDestroy(texts);
  ASSERT_TRUE(ListMoveAll(result, retired));
  std::int64_t left = ListCount(retired);
  while (left > 0) {
    const std::int64_t before = left;
    left = ListReleaseFront(retired, 64);
    EXPECT_EQ(left, std::max<std::int64_t>(before - 64, 0));
  }
  ListDestroy(retired);
  ListDestroy(result);
}

TEST(RecordListLifetime, DestroyZeroesTheSlotAndIgnoresNull) {
  ListDestroy(nullptr);
  ListSlot slot{};
  RecordList* list = ListCreate(4, &slot, nullptr, 5);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(ListInsert(list), nullptr);
  // Spare blocks are the list's to free: the leak checker reports them otherwise.
  void* spare = std::malloc(64);
  *static_cast<void**>(spare) = std::calloc(1, 32);
  list->spareBlocks = spare;
  ListDestroy(list);
  EXPECT_EQ(slot.list, nullptr);
  EXPECT_EQ(slot.current, nullptr);
}

TEST(RecordListLifetime, ListWithoutSlotOwnsOne) {
  RecordList* list = ListCreate(8, nullptr, nullptr, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ownsSlot, 1);
  ASSERT_NE(list->slot, nullptr);
  EXPECT_EQ(list->slot->list, list);
  void* record = ListInsert(list);
  EXPECT_EQ(RecordOf(list->slot->current), record);
  ListDestroy(list);  // the slot goes with it, or the leak checker says so
}

TEST(RecordListLifetime, RefusedSizesAndNullListsReportFailure) {
  ListSlot slot{};
  EXPECT_EQ(ListCreate(-1, &slot, nullptr, 0), nullptr);
  EXPECT_EQ(ListCreate(INT64_MAX, &slot, nullptr, 0), nullptr);
  EXPECT_EQ(slot.list, nullptr);
  EXPECT_EQ(ListCount(nullptr), -1);
  EXPECT_EQ(ListInsert(nullptr), nullptr);
  EXPECT_EQ(ListNext(nullptr), nullptr);
}

// Records of 16 TiB: the heap refuses the block and the single slot alike.
TEST(RecordListLifetime, InsertWithoutMemoryWritesNothing) {
  ListSlot slot{};
  RecordList* list = ListCreate(std::int64_t{1} << 44, &slot, nullptr, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ListInsert(list), nullptr);
  EXPECT_EQ(ListInsertSeveral(list, 2), nullptr);
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_TRUE(!list->first && !list->current && list->beforeFirst == 1);
  EXPECT_EQ(list->pool->SlotsInUse(), 0);
  ListDestroy(list);
}

}  // namespace
