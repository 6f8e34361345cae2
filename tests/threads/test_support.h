// Helpers shared by the thread and event tests: bounded waits, a per-thread slot whose
// releases are counted, and an "UI thread" inbox that a test hand-over hook fills.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "threads/posted_events.h"

using namespace std::chrono_literals;

// A thread body for ThreadCreate: the test keeps the function alive until the thread ended.
using ThreadBody = std::function<void()>;
std::int64_t StartBody(ThreadBody& body);
// Successful ThreadCreate calls made through StartBody in this process.
extern std::atomic<int> threadsStarted;

// Polls condition until it holds or timeout passes; the condition's last value.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// A per-thread slot registered at start-up: a thread writes its tag into it, and the
// slot's release function records the tag.
struct TaggedSlot {
  std::int64_t tag;
};
extern std::int64_t taggedSlotOffset;
void RegisterTestSlots();
void TagCallingThread(std::int64_t tag);
// How many times the slot of a thread tagged tag was released so far.
int SlotReleasesOf(std::int64_t tag);
// How many times an OnThreadExit clean-up with argument tag ran so far.
int ExitCleanUpsOf(std::int64_t tag);
// Registers an exit clean-up for the calling thread that counts under tag.
void CountExitOf(std::int64_t tag);

// Records handed over by the test hook, in hand-over order.
class Inbox {
 public:
  void Push(PostedEvent* event);
  std::vector<PostedEvent*> TakeAll();
  std::size_t Size();
  void Install(bool accept);  // installs the hook; accept = false makes every post fail

 private:
  std::mutex lock_;
  std::vector<PostedEvent*> events_;
};
extern Inbox inbox;
extern std::atomic<int> handOverCalls;

// Delivers every record in the inbox on the calling thread, as the UI receiver does.
int DeliverInbox();
// Discards every record in the inbox.
void DiscardInbox();
