#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "records/element_pool.h"
#include "records/match_record.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"

namespace {

// Walks the list both ways; returns the count of well-linked elements, or -1.
std::int64_t LinkedCount(const RecordList* list) {
  std::int64_t forward = 0;
  const ListElement* previous = nullptr;
  for (const ListElement* e = list->first; e; e = e->next) {
    if (e->previous != previous) return -1;
    previous = e;
    ++forward;
  }
  return previous == list->last ? forward : -1;
}

TEST(ThreadSharedPools, ListsOnTwoThreadsInsertAndClearAtOnce) {
  RecordList* keeper = ListCreate(24, nullptr, nullptr, 0);  // same pool as the workers'
  ASSERT_NE(keeper, nullptr);
  auto work = [](std::int64_t seed) {
    ListSlot slot{};
    RecordList* list = ListCreate(24, &slot, nullptr, 0);
    bool intact = list != nullptr;
    for (int round = 0; intact && round < 200; ++round) {
      for (std::int64_t i = 0; i < 40; ++i) {
        auto* record = static_cast<std::int64_t*>(ListInsert(list));
        if (!record) return false;
        *record = seed + i;
      }
      std::int64_t expected = seed;
      ListRewind(list);
      while (auto* record = static_cast<std::int64_t*>(ListNext(list))) {
        intact = intact && *record == expected++;
      }
      intact = intact && expected == seed + 40;
      ListClear(list);
    }
    ListDestroy(list);
    return intact;
  };
  auto first = std::async(std::launch::async, work, 1000);
  auto second = std::async(std::launch::async, work, 2000);
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  EXPECT_EQ(keeper->pool->SlotsInUse(), 0);
  ListDestroy(keeper);
}

struct StopWorker {
  RecordList* list;
  std::promise<std::shared_ptr<StopState>> state;
  std::atomic<std::int64_t> inserted{0};
};

// Inserts matches with a group each until it is told to stop.
void* InsertUntilStopped(void* argument) {
  auto* worker = static_cast<StopWorker*>(argument);
  worker->state.set_value(CurrentStopState());
  for (;;) {
    auto* match = static_cast<MatchRecord*>(ListInsert(worker->list));
    if (!match) break;
    AssignString(match->m, u"match");
    if (auto* group = static_cast<StringVar*>(ListInsert(match->g.list))) {
      AssignString(*group, u"group");
    }
    worker->inserted.fetch_add(1);
  }
  return nullptr;
}

TEST(StopWhileInserting, StoppedWorkerLeavesEveryListWhole) {
  ListSlot slot{};
  StopWorker worker{CreateMatchRecordList(&slot), {}, {}};
  ASSERT_NE(worker.list, nullptr);
  auto stateReady = worker.state.get_future();
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, InsertUntilStopped, &worker), 0);
  std::shared_ptr<StopState> state = stateReady.get();
  ASSERT_NE(state, nullptr);
  while (worker.inserted.load() < 5000) std::this_thread::yield();
  RequestThreadStop(*state);
  pthread_join(thread, nullptr);

  EXPECT_GE(ListCount(worker.list), 5000);
  EXPECT_EQ(LinkedCount(worker.list), ListCount(worker.list));
  EXPECT_EQ(worker.list->current, worker.list->last);
  EXPECT_EQ(slot.current, worker.list->last);
  ListRewind(worker.list);
  while (auto* match = static_cast<MatchRecord*>(ListNext(worker.list))) {
    ASSERT_NE(match->g.list, nullptr);
    EXPECT_EQ(match->g.list->slot, &match->g);
    EXPECT_LE(ListCount(match->g.list), 1);
    EXPECT_EQ(LinkedCount(match->g.list), ListCount(match->g.list));
  }
  ListDestroy(worker.list);
}

}  // namespace
