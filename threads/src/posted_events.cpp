#include "threads/posted_events.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "event_queue.h"
#include "runtime/strings.h"
#include "runtime/thread_data.h"
#include "runtime/thread_stop.h"

namespace {

std::mutex eventLock;
std::atomic<PostedEventHandOver> installedHandOver{nullptr};
std::int64_t queueSlot = -1;  // set once at start-up, before other threads exist

void InitialiseQueue(void* slot) { new (slot) EventQueue(); }

void ReleaseQueue(void* slot) {
  auto* queue = static_cast<EventQueue*>(slot);
  queue->ReleaseAll();
  queue->~EventQueue();
}

EventQueue* CallingQueue() {
  if (queueSlot < 0) return nullptr;
  return static_cast<EventQueue*>(ThreadSlot(queueSlot));
}

void ReleaseData(EventReleaseFunction release, std::int64_t data) {
  if (release && data) release(data);
}

std::int64_t DataWordOf(const char16_t* text) {
  return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(text));
}

void ReleaseText(std::int64_t data) {
  std::unique_ptr<char16_t[]> text(reinterpret_cast<char16_t*>(static_cast<std::intptr_t>(data)));
}

std::unique_ptr<char16_t[]> CopyText(const char16_t* text) {
  const auto length = static_cast<std::size_t>(StringLength(text));
  auto copy = std::unique_ptr<char16_t[]>(new (std::nothrow) char16_t[length + 1]);
  if (!copy) return nullptr;
  if (length) std::char_traits<char16_t>::copy(copy.get(), text, length);
  copy[length] = u'\0';
  return copy;
}

// The hand-over is a shared change: a thread told to stop ends here, before posting.
bool HandOver(const PostedEvent& event) {
  SharedChangeScope scope;
  PostedEventHandOver handOver = installedHandOver.load();
  if (!handOver) return false;
  auto record = std::unique_ptr<PostedEvent>(new (std::nothrow) PostedEvent(event));
  if (!record || !handOver(record.get())) return false;
  static_cast<void>(record.release());  // the receiver owns it now
  return true;
}

}  // namespace

void SetPostedEventHandOver(PostedEventHandOver handOver) { installedHandOver.store(handOver); }

void PostEventInit() {
  if (queueSlot < 0)
    queueSlot = RegisterThreadSlot(sizeof(EventQueue), InitialiseQueue, ReleaseQueue);
}

void PostEventEnd() {
  installedHandOver.store(nullptr);
  if (EventQueue* queue = CallingQueue()) queue->ReleaseAll();
}

int PostEvent(std::int32_t code, std::int64_t window, std::int64_t object, std::int64_t type,
              std::int64_t data) {
  return HandOver(PostedEvent{code, object, window, type, data, nullptr}) ? 1 : 0;
}

int PostEventText(std::int32_t code, std::int64_t window, std::int64_t object, std::int64_t type,
                  const char16_t* text) {
  // Owned here until handed over, so that a stop at the hand-over frees it on unwinding.
  std::unique_ptr<char16_t[]> copy = CopyText(text);
  if (!copy) return 0;
  if (!HandOver(PostedEvent{code, object, window, type, DataWordOf(copy.get()), ReleaseText})) {
    return 0;
  }
  static_cast<void>(copy.release());
  return 1;
}

void DeliverPostedEvent(PostedEvent* event) {
  std::unique_ptr<PostedEvent> record(event);
  if (!record) return;
  QueueEvent(record->code, record->object, record->window, record->type, record->data,
             record->release);
}

void DiscardPostedEvent(PostedEvent* event) {
  std::unique_ptr<PostedEvent> record(event);
  if (record) ReleaseData(record->release, record->data);
}

void QueueEvent(std::int32_t code, std::int64_t object, std::int64_t window, std::int64_t type,
                std::int64_t data, EventReleaseFunction releaseFunction) {
  EventQueue* queue = CallingQueue();
  bool queued = false;
  if (queue) {
    std::lock_guard lock(eventLock);
    queued = queue->Append({{code, object, window, type, data, releaseFunction}, nullptr});
  }
  // Data of an event that was dropped or merged is released outside the lock.
  if (!queued) ReleaseData(releaseFunction, data);
}

void QueueEventText(std::int32_t code, std::int64_t object, std::int64_t window, std::int64_t type,
                    const char16_t* text) {
  std::unique_ptr<char16_t[]> copy = CopyText(text);
  if (!copy) return;
  QueueEvent(code, object, window, type, DataWordOf(copy.release()), ReleaseText);
}

std::int32_t NextQueuedEvent() {
  EventQueue* queue = CallingQueue();
  if (!queue) return 0;
  PostedEvent previous;
  {
    std::lock_guard lock(eventLock);
    previous = queue->TakeNext();
  }
  ReleaseData(previous.release, previous.data);
  return queue->current.code;
}

namespace {

// One field of the calling thread's current event; 0 on a thread without a queue.
template <class Field>
Field CurrentEventField(Field PostedEvent::*field) {
  EventQueue* queue = CallingQueue();
  return queue ? queue->current.*field : 0;
}

}  // namespace

std::int32_t UiEventCode() { return CurrentEventField(&PostedEvent::code); }
std::int64_t UiEventObject() { return CurrentEventField(&PostedEvent::object); }
std::int64_t UiEventWindow() { return CurrentEventField(&PostedEvent::window); }
std::int64_t UiEventType() { return CurrentEventField(&PostedEvent::type); }
std::int64_t UiEventData() { return CurrentEventField(&PostedEvent::data); }

std::int32_t HasQueuedEvent() {
  EventQueue* queue = CallingQueue();
  if (!queue) return 0;
  std::lock_guard lock(eventLock);
  return queue->head ? queue->head->code : 0;
}
