// Events posted from any thread to the UI thread, and the per-thread event queue from which
// the UI layer's event wait takes every event, posted or raised by the toolkit.
//
// The hand-over to the UI thread belongs to the UI layer: it installs a PostedEventHandOver
// that carries a PostedEvent to the UI thread (keeping posting order), and its receiver on
// the UI thread passes each record to DeliverPostedEvent, or to DiscardPostedEvent when the
// record will never be delivered. Either call takes the record over.
#pragma once

#include <cstdint>

// Event codes from here up are the program's own.
inline constexpr std::int32_t UserEventBase = 0x10000;

// Releases what an event's data word owns (for instance a posted text); called once.
using EventReleaseFunction = void (*)(std::int64_t data);

struct PostedEvent {
  std::int32_t code = 0;
  std::int64_t object = 0;
  std::int64_t window = 0;
  std::int64_t type = 0;
  std::int64_t data = 0;
  EventReleaseFunction release = nullptr;  // of data, when the event owns it
};

// Carries event to the UI thread; true when it took the record over, false when it could
// not post it (the poster then frees the record). Called from any thread.
using PostedEventHandOver = bool (*)(PostedEvent* event);

// Installs the hand-over (null removes it). Set by the UI layer before any thread posts.
void SetPostedEventHandOver(PostedEventHandOver handOver);

// Start-up on the UI thread, before any other thread exists: registers the event queue slot.
void PostEventInit();
// Shut-down on the UI thread: removes the hand-over and releases what the calling thread's
// queue still owns (pending and current events).
void PostEventEnd();

// 1 if the event was handed over, else 0. A worker's post is a shared change: a thread
// that was told to stop ends here instead of posting.
int PostEvent(std::int32_t code, std::int64_t window, std::int64_t object, std::int64_t type,
              std::int64_t data);
inline int PostEvent(std::int32_t code) { return PostEvent(code, 0, 0, 0, 0); }
inline int PostEvent(std::int32_t code, std::int64_t window, std::int64_t object) {
  return PostEvent(code, window, object, 0, 0);
}
inline int PostEvent(std::int32_t code, std::int64_t window, std::int64_t object,
                     std::int64_t type) {
  return PostEvent(code, window, object, type, 0);
}

// Posts a copy of text (zero-terminated UTF-16; null posts an empty text) as the data word.
// The copy belongs to the event: it stays readable through UiEventData() until the next
// event is taken, and is freed then (or when the event is dropped). 1 if posted, else 0.
int PostEventText(std::int32_t code, std::int64_t window, std::int64_t object, std::int64_t type,
                  const char16_t* text);

// UI thread, called by the UI layer's receiver: queues the record's event (never merged,
// since user codes are never merged) and frees the record.
void DeliverPostedEvent(PostedEvent* event);
// Frees a record that will never be delivered, and what its data owns.
void DiscardPostedEvent(PostedEvent* event);

// Appends to the calling thread's queue; not appended when the last pending event has the
// same code, window, object and type and the code is below UserEventBase (a dropped or
// merged event's data is released at once through releaseFunction).
void QueueEvent(std::int32_t code, std::int64_t object, std::int64_t window, std::int64_t type,
                std::int64_t data, EventReleaseFunction releaseFunction);

// QueueEvent with a copy of text (zero-terminated UTF-16) as the data word, owned by the
// event as with PostEventText. Nothing is queued when the copy can't be made.
void QueueEventText(std::int32_t code, std::int64_t object, std::int64_t window, std::int64_t type,
                    const char16_t* text);

// Takes the oldest pending event into the current event and returns its code, or 0 when
// nothing is pending (window, object and data then keep their values, type becomes -1).
// The previous current event's data is released first.
std::int32_t NextQueuedEvent();

// The calling thread's current event.
std::int32_t UiEventCode();
std::int64_t UiEventObject();
std::int64_t UiEventWindow();
std::int64_t UiEventType();
std::int64_t UiEventData();

// Code of the oldest pending event, or 0.
std::int32_t HasQueuedEvent();
