#include <gtest/gtest.h>

#include <vector>

#include "records/element_pool.h"
#include "records/record_list.h"

namespace {

std::int64_t GrowthAfter(ElementPool& pool, std::vector<void*>& taken) {
  const std::int64_t before = pool.SlotsAllocated();
  while (pool.SlotsAllocated() == before) taken.push_back(pool.Take());
  return pool.SlotsAllocated() - before;
}

// Fills the pool until it has allocated at least slots, then returns the next growth.
std::int64_t GrowthPast(ElementPool& pool, std::vector<void*>& taken, std::int64_t slots) {
  while (pool.SlotsAllocated() < slots) GrowthAfter(pool, taken);
  return GrowthAfter(pool, taken);
}

TEST(ElementPoolGrowth, BlocksHoldASixteenthOfWhatIsAllocated) {
  ElementPool pool(16);
  std::vector<void*> taken;
  EXPECT_EQ(GrowthAfter(pool, taken), 16);
  EXPECT_EQ(GrowthAfter(pool, taken), 16);
  EXPECT_EQ(GrowthPast(pool, taken, 512), 32);  // 512 / 16
  EXPECT_EQ(pool.SlotsAllocated(), 544);
  EXPECT_EQ(GrowthPast(pool, taken, 800), 48);  // 800 / 16 = 50, down to 48
  EXPECT_EQ(pool.SlotsInUse(), static_cast<std::int64_t>(taken.size()));
  for (void* element : taken) pool.Give(element);
  EXPECT_EQ(pool.SlotsInUse(), 0);
}

TEST(ElementPoolGrowth, BlockLimitsAreKept) {
  ElementPool small(24, 32, 40);
  std::vector<void*> taken;
  EXPECT_EQ(GrowthAfter(small, taken), 32);
  EXPECT_EQ(GrowthPast(small, taken, 800), 40);
  for (void* element : taken) small.Give(element);
}

TEST(ElementPoolSlots, GivenElementIsTakenAgainBeforeAnyNewOne) {
  ElementPool pool(32);
  void* first = pool.Take();
  void* second = pool.Take();
  ASSERT_TRUE(first && second);
  pool.Give(first);
  EXPECT_EQ(pool.Take(), first);
  pool.Give(second);
  pool.Give(first);
  EXPECT_EQ(pool.Take(), first);
  EXPECT_EQ(pool.Take(), second);
  EXPECT_EQ(pool.SlotsAllocated(), 16);
  pool.Give(first);
  pool.Give(second);
}

TEST(ElementPoolSlots, EachSlotRefersToItsBlock) {
  ElementPool pool(32);
  std::vector<void*> taken;
  for (int i = 0; i < 17; ++i) taken.push_back(pool.Take());
  auto blockOf = [](void* element) { return static_cast<std::byte**>(element)[-1]; };
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(blockOf(taken[i]) + 32 * i + 8, taken[i]);
  }
  EXPECT_NE(blockOf(taken[16]), blockOf(taken[0]));
  EXPECT_EQ(blockOf(taken[16]) + 8, taken[16]);  // its block holds nothing else yet
  for (void* element : taken) pool.Give(element);
}

TEST(ElementPoolSlots, APoolWithoutBlockReferencesGivesItsBlocksBackWithTheLastSlot) {
  ElementPool pool(24, 16, 32, false);
  std::vector<void*> taken;
  for (int i = 0; i < 100; ++i) taken.push_back(pool.Take());
  EXPECT_EQ(static_cast<std::byte*>(taken[1]) - static_cast<std::byte*>(taken[0]), 24);
  for (std::size_t i = 1; i < taken.size(); ++i) pool.GiveAndReleaseIfUnused(taken[i]);
  EXPECT_EQ(pool.SlotsAllocated(), 112);  // one slot is still in use
  pool.GiveAndReleaseIfUnused(taken[0]);
  EXPECT_EQ(pool.SlotsAllocated(), 0);
}

TEST(SharedElementPools, ListsWithOneSlotSizeShareAPoolUntilTheLastLeaves) {
  // Records of 284 and 288 bytes both take slots of 312 bytes, which no other test uses.
  RecordList* a = ListCreate(284, nullptr, nullptr, 0);
  RecordList* b = ListCreate(288, nullptr, nullptr, 0);
  RecordList* other = ListCreate(296, nullptr, nullptr, 0);
  ASSERT_TRUE(a && b && other);
  EXPECT_EQ(a->pool, b->pool);
  EXPECT_NE(a->pool, other->pool);
  ASSERT_NE(ListInsert(a), nullptr);
  ASSERT_NE(ListInsert(b), nullptr);
  EXPECT_EQ(a->pool->SlotsInUse(), 2);
  ListDestroy(a);
  EXPECT_EQ(b->pool->SlotsInUse(), 1);  // still there for b
  ListDestroy(b);
  ListDestroy(other);
  ElementPool* fresh = AcquireElementPool(312);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->SlotsAllocated(), 0);  // the old pool went with its last user
  GiveUpElementPool(fresh);
}

}  // namespace
