#include "ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <chrono>
#include <thread>

#include "hand_over_annotations.h"
#include "runtime/thread_stop.h"
#include "threads/posted_events.h"

namespace ui_thread {
namespace {

const QEvent::Type WorkEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type PostedEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A piece of work for the UI thread; when Qt drops it undelivered (its receiver went away
// first), the destructor tells the poster.
class WorkEvent : public QEvent {
 public:
  WorkEvent(std::function<void()> work, std::function<void()> abandoned)
      : QEvent(WorkEventType), work_(std::move(work)), abandoned_(std::move(abandoned)) {}
  ~WorkEvent() override {
    TakenOver(this);
    if (abandoned_) abandoned_();
  }
  void Run() {
    abandoned_ = nullptr;
    work_();
  }

 private:
  std::function<void()> work_;
  std::function<void()> abandoned_;
};

// Carries one runtime PostedEvent; the record goes to the event queue when delivered, and
// is discarded when the event is dropped.
class PostedEventCarrier : public QEvent {
 public:
  explicit PostedEventCarrier(PostedEvent* record) : QEvent(PostedEventType), record_(record) {}
  ~PostedEventCarrier() override {
    TakenOver(this);
    if (record_) DiscardPostedEvent(record_);
  }
  PostedEvent* Take() { return std::exchange(record_, nullptr); }

 private:
  PostedEvent* record_;
};

std::atomic<bool> postedEventDelivered{false};

class Receiver : public QObject {
 public:
  // Everything sent here was built on another thread and handed over through Qt's queue.
  bool event(QEvent* event) override {
    TakenOver(event);
    if (event->type() == WorkEventType) {
      static_cast<WorkEvent*>(event)->Run();
      return true;
    }
    if (event->type() == PostedEventType) {
      DeliverPostedEvent(static_cast<PostedEventCarrier*>(event)->Take());
      postedEventDelivered.store(true);
      return true;
    }
    return QObject::event(event);
  }
};

// Guards the receiver pointer against a post racing with shut-down; QCoreApplication's
// postEvent itself is thread-safe.
std::mutex receiverLock;
Receiver* receiver = nullptr;
std::atomic<bool> running{false};
std::thread::id uiThread;

bool HandOverPostedEvent(PostedEvent* record) {
  std::lock_guard guard(receiverLock);
  if (!receiver) return false;
  auto* carrier = new PostedEventCarrier(record);
  HandedOver(carrier);
  QCoreApplication::postEvent(receiver, carrier);
  return true;
}

}  // namespace

void Start() {
  std::lock_guard guard(receiverLock);
  if (receiver) return;
  uiThread = std::this_thread::get_id();
  receiver = new Receiver;  // owned here, deleted by Stop
  running.store(true);
  SetPostedEventHandOver(HandOverPostedEvent);
}

void Stop() {
  SetPostedEventHandOver(nullptr);
  Receiver* stopping = nullptr;
  {
    std::lock_guard guard(receiverLock);
    stopping = std::exchange(receiver, nullptr);
    running.store(false);
  }
  // Deleting the receiver drops its pending events, which tells their posters.
  delete stopping;
}

bool IsUiThread() { return running.load() && std::this_thread::get_id() == uiThread; }

bool Running() { return running.load(); }

bool Post(std::function<void()> work, std::function<void()> abandoned) {
  std::unique_lock guard(receiverLock);
  if (!receiver) return false;
  auto* event = new WorkEvent(std::move(work), std::move(abandoned));
  HandedOver(event);
  QCoreApplication::postEvent(receiver, event);
  return true;
}

bool TakePostedEventDelivered() { return postedEventDelivered.exchange(false); }

bool WaitForUi(const std::function<bool()>& finished, std::mutex& lock,
               std::condition_variable& changed) {
  using namespace std::chrono_literals;
  bool done = false;
  {
    std::unique_lock guard(lock);
    // Wakes now and then to notice a stop request or the end of the UI thread, which
    // notify nobody.
    while (!(done = finished()) && !StopRequested() && running.load()) {
      changed.wait_for(guard, 20ms);
    }
  }
  StopPoint();
  return done;
}

}  // namespace ui_thread
