// Tells ThreadSanitizer about the hand-over of events between threads through Qt's posted
// event queue. The queue's lock lives inside QtCore, which is not instrumented, so without
// these marks every event built on one thread and read on the UI thread looks like a race.
// Outside ThreadSanitizer builds they are empty.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define UI_HAND_OVER_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define UI_HAND_OVER_ANNOTATED 1
#endif
#endif

#if defined(UI_HAND_OVER_ANNOTATED)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

// The posting thread, right before the event enters the queue.
inline void HandedOver([[maybe_unused]] const void* event) {
#if defined(UI_HAND_OVER_ANNOTATED)
  __tsan_release(const_cast<void*>(event));
#endif
}

// The UI thread, before it reads an event taken from the queue (to run or to drop it).
inline void TakenOver([[maybe_unused]] const void* event) {
#if defined(UI_HAND_OVER_ANNOTATED)
  __tsan_acquire(const_cast<void*>(event));
#endif
}
