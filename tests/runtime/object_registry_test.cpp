#include "runtime/object_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A library of test objects whose free operation records the order in which objects go.
struct TestRecord {
  std::uint64_t alive;
  std::uint64_t payload;
};

ObjectTable* table = nullptr;
std::vector<ObjectNumber> freed;
// Tables live as long as the process, as the libraries' own tables do.
std::vector<ObjectTable*>& everyTable = *new std::vector<ObjectTable*>;

void FreeTestObject(ObjectNumber number) {
  if (number == AnyHandle) {
    FreeAllObjects(table);
    return;
  }
  if (!LookupObject(table, number)) return;
  freed.push_back(number);
  ReleaseObject(table, number);
}

TestRecord* Create(ObjectNumber number) {
  auto* record = static_cast<TestRecord*>(AllocateObject(table, number));
  if (record) record->alive = 1;
  return record;
}

class ObjectRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table = CreateObjectTable(sizeof(TestRecord), 16, FreeTestObject);
    everyTable.push_back(table);
    freed.clear();
  }
};

TEST_F(ObjectRegistryTest, StaticNumbersGrowTheSlotArrayAndLeaveTheGapEmpty) {
  ASSERT_NE(Create(40), nullptr);
  EXPECT_NE(LookupObject(table, 40), nullptr);
  for (ObjectNumber gap = 16; gap < 40; ++gap) EXPECT_EQ(LookupObject(table, gap), nullptr);
  // 40 + 16 slots: 55 is still a static number, 56 is outside and no handle.
  ASSERT_NE(Create(55), nullptr);
  EXPECT_EQ(LookupObject(table, 56), nullptr);
  EXPECT_EQ(IsObject(table, 56), nullptr);
}

TEST_F(ObjectRegistryTest, ReusingAStaticNumberFreesTheOldObjectAndKeepsItsMemory) {
  TestRecord* first = Create(0);
  first->payload = 7;
  TestRecord* second = Create(0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->payload, 0u);
  EXPECT_EQ(freed, std::vector<ObjectNumber>{0});
}

TEST_F(ObjectRegistryTest, FailedCreationLeavesTheNumberDead) {
  Create(2);
  ASSERT_NE(AllocateObject(table, 2), nullptr);  // creation begins, then fails
  ReleaseObject(table, 2);
  EXPECT_EQ(LookupObject(table, 2), nullptr);
  EXPECT_EQ(IsObject(table, 2), nullptr);
  FreeTestObject(2);  // freeing a dead number does nothing
  FreeTestObject(9);  // nor does one never created
  EXPECT_EQ(freed, std::vector<ObjectNumber>{2});
}

TEST_F(ObjectRegistryTest, HandlesAreDistinctAndValidUntilReleased) {
  void* a = Create(AnyHandle);
  void* b = Create(AnyHandle);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(a, b);
  ObjectNumber handleA = HandleOf(a);
  EXPECT_EQ(IsObject(table, handleA), a);
  EXPECT_EQ(LookupObject(table, handleA), a);
  FreeTestObject(handleA);
  EXPECT_EQ(IsObject(table, handleA), nullptr);
  EXPECT_EQ(LookupObject(table, handleA), nullptr);
  EXPECT_EQ(IsObject(table, HandleOf(b)), b);
}

TEST_F(ObjectRegistryTest, UnknownNumbersAreNoObjectAndNumbersBelowMinusOneAreRefused) {
  int local = 0;
  EXPECT_EQ(LookupObject(table, HandleOf(&local)), nullptr);
  EXPECT_EQ(IsObject(table, HandleOf(&local)), nullptr);
  ReleaseObject(table, HandleOf(&local));  // must not touch the stray address
  EXPECT_EQ(AllocateObject(table, -2), nullptr);
  EXPECT_EQ(LookupObject(table, -2), nullptr);
}

TEST_F(ObjectRegistryTest, FreeAllGoesStaticAscendingThenDynamicNewestFirst) {
  Create(3);
  Create(1);
  ObjectNumber older = HandleOf(Create(AnyHandle));
  ObjectNumber newer = HandleOf(Create(AnyHandle));
  FreeTestObject(AnyHandle);
  EXPECT_EQ(freed, (std::vector<ObjectNumber>{1, 3, newer, older}));
  EXPECT_EQ(LookupObject(table, 1), nullptr);
  EXPECT_EQ(IsObject(table, older), nullptr);
}

void FreeWithoutRelease(ObjectNumber) {}

TEST(ObjectRegistry, FreeAllEndsEvenWhenTheFreeOperationForgetsToRelease) {
  ObjectTable* careless = CreateObjectTable(16, 4, FreeWithoutRelease);
  everyTable.push_back(careless);
  auto* record = static_cast<std::uint64_t*>(AllocateObject(careless, AnyHandle));
  *record = 1;
  FreeAllObjects(careless);
  EXPECT_EQ(IsObject(careless, HandleOf(record)), nullptr);
}

TEST(ObjectRegistry, RunOnceRunsTheInitialiserOnce) {
  static std::once_flag once;
  static int runs = 0;
  RunOnce(once, [] { ++runs; });
  RunOnce(once, [] { ++runs; });
  EXPECT_EQ(runs, 1);
}

}  // namespace
