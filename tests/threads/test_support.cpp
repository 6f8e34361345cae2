#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/thread_data.h"
#include "threads/threads.h"

std::atomic<int> threadsStarted{0};
std::atomic<int> handOverCalls{0};

namespace {

std::int64_t taggedSlotOffset = -1;
std::mutex countsLock;
std::map<std::int64_t, int> slotReleases;
std::map<std::int64_t, int> exitCleanUps;

std::mutex inboxLock;
std::vector<PostedEvent*> inbox;
std::atomic<bool> acceptPosts{true};

void CountIn(std::map<std::int64_t, int>& counts, std::int64_t tag) {
  std::lock_guard lock(countsLock);
  ++counts[tag];
}

int CountOf(const std::map<std::int64_t, int>& counts, std::int64_t tag) {
  std::lock_guard lock(countsLock);
  auto found = counts.find(tag);
  return found == counts.end() ? 0 : found->second;
}

void ReleaseTaggedSlot(void* slot) {
  if (auto tag = *static_cast<std::int64_t*>(slot)) CountIn(slotReleases, tag);
}

void CountExit(void* tag) { CountIn(exitCleanUps, reinterpret_cast<std::intptr_t>(tag)); }

bool TestHandOver(PostedEvent* event) {
  handOverCalls.fetch_add(1);
  if (!acceptPosts.load()) return false;
  std::lock_guard lock(inboxLock);
  inbox.push_back(event);
  return true;
}

std::int64_t RunBody(std::int64_t body) {
  (*reinterpret_cast<ThreadBody*>(static_cast<std::intptr_t>(body)))();
  return 0;
}

}  // namespace

std::int64_t StartBody(ThreadBody& body) {
  const std::int64_t id = ThreadCreate(RunBody, reinterpret_cast<std::intptr_t>(&body));
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

bool KillReturnsWithin(std::int64_t id, std::chrono::milliseconds timeout) {
  auto returned = std::make_shared<std::atomic<bool>>(false);
  std::thread([id, returned] {
    ThreadKill(id);
    returned->store(true);
  }).detach();
  return WaitUntil([&] { return returned->load(); }, timeout);
}

void TagCallingThread(std::int64_t tag) {
  *static_cast<std::int64_t*>(ThreadSlot(taggedSlotOffset)) = tag;
}

void CountExitOf(std::int64_t tag) {
  OnThreadExit(CountExit, reinterpret_cast<void*>(static_cast<std::intptr_t>(tag)));
}

int SlotReleasesOf(std::int64_t tag) { return CountOf(slotReleases, tag); }
int ExitCleanUpsOf(std::int64_t tag) { return CountOf(exitCleanUps, tag); }

void InstallHandOver(bool accept) {
  acceptPosts.store(accept);
  SetPostedEventHandOver(TestHandOver);
}

std::vector<PostedEvent*> TakeInbox() {
  std::lock_guard lock(inboxLock);
  return std::exchange(inbox, {});
}

std::size_t InboxSize() {
  std::lock_guard lock(inboxLock);
  return inbox.size();
}

int DeliverInbox() {
  auto events = TakeInbox();
  for (PostedEvent* event : events) DeliverPostedEvent(event);
  return static_cast<int>(events.size());
}

void DiscardInbox() {
  for (PostedEvent* event : TakeInbox()) DiscardPostedEvent(event);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // As at the program's start-up: slots first, before any other thread exists.
  taggedSlotOffset = RegisterThreadSlot(sizeof(std::int64_t), nullptr, ReleaseTaggedSlot);
  ThreadInit();
  PostEventInit();
  const int result = RUN_ALL_TESTS();
  ThreadEnd();
  PostEventEnd();
  return result;
}
