#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "runtime/thread_stop.h"
#include "test_support.h"
#include "threads/posted_events.h"
#include "threads/threads.h"

namespace {

constexpr std::int32_t GadgetEvent = 13100;
constexpr std::int32_t MessageEvent = UserEventBase;
constexpr std::int32_t DoneEvent = UserEventBase + 1;

std::atomic<int> dataReleases{0};
void CountRelease(std::int64_t) { dataReleases.fetch_add(1); }

// Counts the frees of posted texts while still freeing them the library's way.
EventReleaseFunction textRelease = nullptr;
std::atomic<int> textReleases{0};
void CountTextRelease(std::int64_t data) {
  textReleases.fetch_add(1);
  textRelease(data);
}
void CountTextFrees(const std::vector<PostedEvent*>& events) {
  for (PostedEvent* event : events) {
    if (!event->release) continue;
    textRelease = event->release;
    event->release = CountTextRelease;
  }
}

struct TakenEvent {
  std::int32_t code;
  std::int64_t window;
  std::int64_t object;
  std::int64_t type;
  std::int64_t data;
};

std::vector<TakenEvent> TakeAllQueued() {
  std::vector<TakenEvent> taken;
  while (NextQueuedEvent() != 0) {
    taken.push_back(
        {UiEventCode(), UiEventWindow(), UiEventObject(), UiEventType(), UiEventData()});
  }
  return taken;
}

std::u16string TextOf(std::int64_t data) {
  return reinterpret_cast<const char16_t*>(static_cast<std::intptr_t>(data));
}

void WaitForEnd(std::int64_t id) {
  ASSERT_TRUE(WaitUntil([id] { return !ThreadIsRunning(id); }));
}

class EventTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallHandOver(true);
    DiscardInbox();
    TakeAllQueued();
    dataReleases.store(0);
    textReleases.store(0);
  }
  void TearDown() override {
    DiscardInbox();
    TakeAllQueued();
  }
};

using EventPosting = EventTest;
using EventText = EventTest;
using EventQueueRules = EventTest;

}  // namespace

TEST_F(EventPosting, TwoThreadsArriveInTheirPostingOrderWithValuesIntact) {
  constexpr int perThread = 300;
  static ThreadBody first, second;
  auto poster = [](std::int64_t window) {
    return [window] {
      for (int seq = 0; seq < perThread; ++seq) {
        PostEvent(MessageEvent + 7, window, seq, -seq, window * 1000000 + seq);
      }
    };
  };
  first = poster(1);
  second = poster(2);
  const std::int64_t firstId = StartBody(first);
  const std::int64_t secondId = StartBody(second);
  std::vector<TakenEvent> taken;
  while (ThreadIsRunning(firstId) || ThreadIsRunning(secondId) || InboxSize() > 0) {
    DeliverInbox();
    for (const TakenEvent& event : TakeAllQueued()) taken.push_back(event);
  }
  ASSERT_EQ(taken.size(), 2u * perThread);
  std::map<std::int64_t, std::int64_t> nextSeq;
  for (const TakenEvent& event : taken) {
    ASSERT_EQ(event.code, MessageEvent + 7);
    ASSERT_TRUE(event.window == 1 || event.window == 2);
    EXPECT_EQ(event.object, nextSeq[event.window]++);
    EXPECT_EQ(event.type, -event.object);
    EXPECT_EQ(event.data, event.window * 1000000 + event.object);
  }
}

TEST_F(EventPosting, ShortFormsPassZerosAndValuesArriveUnchanged) {
  static const char16_t message[] = u"x";
  const auto address = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(message));
  static ThreadBody body;
  body = [address] {
    PostEvent(DoneEvent);
    PostEvent(MessageEvent, -1, -1, -1, address);
    PostEvent(DoneEvent + 1, 4, 5);
    PostEvent(DoneEvent + 2, 4, 5, 6);
  };
  WaitForEnd(StartBody(body));
  EXPECT_EQ(DeliverInbox(), 4);
  std::vector<std::vector<std::int64_t>> taken;
  for (const TakenEvent& event : TakeAllQueued()) {
    taken.push_back({event.code, event.window, event.object, event.type, event.data});
  }
  EXPECT_EQ(taken, (std::vector<std::vector<std::int64_t>>{{DoneEvent, 0, 0, 0, 0},
                                                           {MessageEvent, -1, -1, -1, address},
                                                           {DoneEvent + 1, 4, 5, 0, 0},
                                                           {DoneEvent + 2, 4, 5, 6, 0}}));
}

TEST_F(EventPosting, IdenticalUserEventsAreNeverMerged) {
  EXPECT_EQ(PostEvent(DoneEvent), 1);
  EXPECT_EQ(PostEvent(DoneEvent), 1);
  DeliverInbox();
  EXPECT_EQ(TakeAllQueued().size(), 2u);
}

TEST_F(EventPosting, FailsWithoutAHandOverOrWhenItRefuses) {
  SetPostedEventHandOver(nullptr);
  EXPECT_EQ(PostEvent(DoneEvent), 0);
  EXPECT_EQ(PostEventText(MessageEvent, -1, -1, -1, u"lost"), 0);
  InstallHandOver(false);
  const int callsBefore = handOverCalls.load();
  EXPECT_EQ(PostEvent(DoneEvent), 0);
  EXPECT_EQ(PostEventText(MessageEvent, -1, -1, -1, u"lost"), 0);
  EXPECT_EQ(handOverCalls.load(), callsBefore + 2);
  EXPECT_EQ(InboxSize(), 0u);
}

TEST_F(EventPosting, AKilledWorkerPostsNothingOnceTheKillReturns) {
  constexpr std::int64_t tag = 501;
  static std::atomic<std::int64_t> seq{0};
  static ThreadBody body = [] {
    CountExitOf(tag);
    for (;;) {
      PostEvent(MessageEvent + 3, 0, seq.fetch_add(1), 0, 0);
      PostEventText(MessageEvent, -1, -1, -1, u"still here");
    }
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([] { return seq.load() > 200; }));
  ThreadKill(id);
  const int postsAtKill = handOverCalls.load();
  ASSERT_TRUE(WaitUntil([] { return ExitCleanUpsOf(tag) == 1; }));
  EXPECT_EQ(handOverCalls.load(), postsAtKill);
}

TEST_F(EventText, CopyOutlivesThePosterAndIsFreedOnceAfterTheNextTake) {
  static ThreadBody body = [] {
    std::u16string message = u"Title|some text|64";
    PostEventText(MessageEvent, -1, -1, -1, message.c_str());
    message.assign(message.size(), u'#');  // the poster's own text changes and goes
  };
  WaitForEnd(StartBody(body));
  std::vector<PostedEvent*> events = TakeInbox();
  ASSERT_EQ(events.size(), 1u);
  CountTextFrees(events);
  DeliverPostedEvent(events[0]);
  ASSERT_EQ(NextQueuedEvent(), MessageEvent);
  EXPECT_EQ(UiEventWindow(), -1);
  EXPECT_EQ(TextOf(UiEventData()), u"Title|some text|64");
  EXPECT_EQ(textReleases.load(), 0);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(textReleases.load(), 1);
  EXPECT_EQ(UiEventData(), 0);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(textReleases.load(), 1);
}

TEST_F(EventText, ANullTextArrivesEmpty) {
  ASSERT_EQ(PostEventText(MessageEvent, -1, -1, -1, nullptr), 1);
  DeliverInbox();
  ASSERT_EQ(NextQueuedEvent(), MessageEvent);
  ASSERT_NE(UiEventData(), 0);
  EXPECT_EQ(TextOf(UiEventData()), u"");
}

TEST_F(EventText, AnUndeliveredRecordIsFreedOnDiscard) {
  ASSERT_EQ(PostEventText(MessageEvent, -1, -1, -1, u"never shown"), 1);
  std::vector<PostedEvent*> events = TakeInbox();
  ASSERT_EQ(events.size(), 1u);
  CountTextFrees(events);
  DiscardPostedEvent(events[0]);
  EXPECT_EQ(textReleases.load(), 1);
}

TEST_F(EventText, PendingAndCurrentTextsAreFreedAtShutDown) {
  PostEventText(MessageEvent, -1, -1, -1, u"one");
  PostEventText(MessageEvent, -1, -1, -1, u"two");
  PostEventText(MessageEvent, -1, -1, -1, u"three");
  std::vector<PostedEvent*> events = TakeInbox();
  ASSERT_EQ(events.size(), 3u);
  CountTextFrees(events);
  for (PostedEvent* event : events) DeliverPostedEvent(event);
  ASSERT_EQ(NextQueuedEvent(), MessageEvent);
  EXPECT_EQ(TextOf(UiEventData()), u"one");
  PostEventEnd();
  EXPECT_EQ(textReleases.load(), 3);
  EXPECT_EQ(PostEvent(DoneEvent), 0);  // no hand-over after shut-down
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(textReleases.load(), 3);
}

TEST_F(EventText, TheQueueOfAKilledThreadFreesWhatItOwns) {
  constexpr std::int64_t tag = 502;
  static std::atomic<bool> queued{false};
  static ThreadBody body = [] {
    CountExitOf(tag);
    QueueEvent(MessageEvent, 1, 0, 0, 11, CountRelease);
    QueueEvent(MessageEvent, 2, 0, 0, 12, CountRelease);
    NextQueuedEvent();  // one current, one pending
    queued.store(true);
    for (;;) StopPoint();
  };
  const std::int64_t id = StartBody(body);
  ASSERT_TRUE(WaitUntil([] { return queued.load(); }));
  ThreadKill(id);
  ASSERT_TRUE(WaitUntil([] { return ExitCleanUpsOf(tag) == 1; }));
  EXPECT_EQ(dataReleases.load(), 2);
}

TEST_F(EventQueueRules, OnlyARepeatOfTheLastPendingToolkitEventMerges) {
  QueueEvent(GadgetEvent, 3, 0, 0, 11, CountRelease);
  QueueEvent(GadgetEvent, 3, 0, 0, 12, CountRelease);  // merged: its data goes
  EXPECT_EQ(dataReleases.load(), 1);
  QueueEvent(GadgetEvent, 3, 0, 1, 13, nullptr);      // other type
  QueueEvent(GadgetEvent, 4, 0, 1, 14, nullptr);      // other object
  QueueEvent(GadgetEvent, 4, 9, 1, 15, nullptr);      // other window
  QueueEvent(GadgetEvent + 1, 4, 9, 1, 16, nullptr);  // other code
  QueueEvent(GadgetEvent, 4, 9, 1, 17, nullptr);      // not the last pending one
  QueueEvent(MessageEvent, 0, 0, 0, 18, nullptr);
  QueueEvent(MessageEvent, 0, 0, 0, 19, nullptr);  // user events never merge
  std::vector<std::int64_t> data;
  for (const TakenEvent& event : TakeAllQueued()) data.push_back(event.data);
  EXPECT_EQ(data, (std::vector<std::int64_t>{11, 13, 14, 15, 16, 17, 18, 19}));
  // The queue is empty now: a repeat of the current event is a new one.
  QueueEvent(MessageEvent - 1, 0, 0, 0, 20, nullptr);
  ASSERT_EQ(NextQueuedEvent(), MessageEvent - 1);
  QueueEvent(MessageEvent - 1, 0, 0, 0, 21, nullptr);
  ASSERT_EQ(NextQueuedEvent(), MessageEvent - 1);
  EXPECT_EQ(UiEventData(), 21);
}

TEST_F(EventQueueRules, TakingFromAnEmptyQueueKeepsWindowObjectAndData) {
  QueueEvent(GadgetEvent, 8, 7, 9, 10, nullptr);
  ASSERT_EQ(NextQueuedEvent(), GadgetEvent);
  EXPECT_EQ(UiEventType(), 9);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(UiEventCode(), 0);
  EXPECT_EQ(UiEventType(), -1);
  EXPECT_EQ(UiEventWindow(), 7);
  EXPECT_EQ(UiEventObject(), 8);
  EXPECT_EQ(UiEventData(), 10);
}

TEST_F(EventQueueRules, CurrentDataIsReleasedOnceBeforeTheNextTake) {
  QueueEvent(GadgetEvent, 1, 0, 0, 31, CountRelease);
  QueueEvent(GadgetEvent, 2, 0, 0, 32, CountRelease);
  ASSERT_EQ(NextQueuedEvent(), GadgetEvent);
  EXPECT_EQ(dataReleases.load(), 0);
  ASSERT_EQ(NextQueuedEvent(), GadgetEvent);
  EXPECT_EQ(dataReleases.load(), 1);
  EXPECT_EQ(UiEventData(), 32);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(dataReleases.load(), 2);
}

TEST_F(EventQueueRules, AskingForAPendingEventDoesNotTakeIt) {
  EXPECT_EQ(HasQueuedEvent(), 0);
  QueueEvent(GadgetEvent, 1, 2, 3, 0, nullptr);
  QueueEvent(GadgetEvent + 1, 4, 5, 6, 0, nullptr);
  EXPECT_EQ(HasQueuedEvent(), GadgetEvent);
  EXPECT_EQ(HasQueuedEvent(), GadgetEvent);
  EXPECT_EQ(NextQueuedEvent(), GadgetEvent);
  EXPECT_EQ(HasQueuedEvent(), GadgetEvent + 1);
}

TEST_F(EventQueueRules, ManyEventsPassThroughThePoolInOrder) {
  for (int round = 0; round < 2; ++round) {
    for (std::int64_t object = 0; object < 1000; ++object) {
      QueueEvent(GadgetEvent, object, round, 0, object * 3, nullptr);
    }
    const std::vector<TakenEvent> taken = TakeAllQueued();
    ASSERT_EQ(taken.size(), 1000u);
    for (std::size_t index = 0; index < taken.size(); ++index) {
      ASSERT_EQ(taken[index].object, static_cast<std::int64_t>(index));
      ASSERT_EQ(taken[index].window, round);
      ASSERT_EQ(taken[index].data, static_cast<std::int64_t>(index) * 3);
    }
  }
}
