#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "runtime/thread_data.h"
#include "threads/threads.h"

std::int64_t taggedSlotOffset = -1;
Inbox inbox;
std::atomic<int> handOverCalls{0};
std::atomic<int> threadsStarted{0};

namespace {

std::mutex countsLock;
std::map<std::int64_t, int> slotReleases;
std::map<std::int64_t, int> exitCleanUps;
std::atomic<bool> acceptPosts{true};

void CountIn(std::map<std::int64_t, int>& counts, std::int64_t tag) {
  std::lock_guard lock(countsLock);
  ++counts[tag];
}

int CountOf(std::map<std::int64_t, int>& counts, std::int64_t tag) {
  std::lock_guard lock(countsLock);
  auto found = counts.find(tag);
  return found == counts.end() ? 0 : found->second;
}

void ReleaseTaggedSlot(void* slot) {
  auto* tagged = static_cast<TaggedSlot*>(slot);
  if (tagged->tag != 0) CountIn(slotReleases, tagged->tag);
}

void CountExit(void* argument) {
  CountIn(exitCleanUps, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(argument)));
}

int TestHandOver(PostedEvent* event) {
  handOverCalls.fetch_add(1);
  if (!acceptPosts.load()) return 0;
  inbox.Push(event);
  return 1;
}

std::int64_t RunBody(std::int64_t value) {
  (*reinterpret_cast<ThreadBody*>(static_cast<std::intptr_t>(value)))();
  return 0;
}

}  // namespace

std::int64_t StartBody(ThreadBody& body) {
  const std::int64_t id =
      ThreadCreate(RunBody, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(&body)));
  if (id != 0) threadsStarted.fetch_add(1);
  return id;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void RegisterTestSlots() {
  taggedSlotOffset = RegisterThreadSlot(sizeof(TaggedSlot), nullptr, ReleaseTaggedSlot);
}

void TagCallingThread(std::int64_t tag) {
  static_cast<TaggedSlot*>(ThreadSlot(taggedSlotOffset))->tag = tag;
}

int SlotReleasesOf(std::int64_t tag) { return CountOf(slotReleases, tag); }
int ExitCleanUpsOf(std::int64_t tag) { return CountOf(exitCleanUps, tag); }

void CountExitOf(std::int64_t tag) {
  OnThreadExit(CountExit, reinterpret_cast<void*>(static_cast<std::intptr_t>(tag)));
}

void Inbox::Push(PostedEvent* event) {
  std::lock_guard lock(lock_);
  events_.push_back(event);
}

std::vector<PostedEvent*> Inbox::TakeAll() {
  std::lock_guard lock(lock_);
  return std::exchange(events_, {});
}

std::size_t Inbox::Size() {
  std::lock_guard lock(lock_);
  return events_.size();
}

void Inbox::Install(bool accept) {
  acceptPosts.store(accept);
  SetPostedEventHandOver(TestHandOver);
}

int DeliverInbox() {
  auto events = inbox.TakeAll();
  for (PostedEvent* event : events) DeliverPostedEvent(event);
  return static_cast<int>(events.size());
}

void DiscardInbox() {
  for (PostedEvent* event : inbox.TakeAll()) DiscardPostedEvent(event);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Slots are registered before any other thread exists.
  RegisterTestSlots();
  ThreadInit();
  PostEventInit();
  return RUN_ALL_TESTS();
}
