// The UI thread and the ways other threads reach it. Qt widgets may be touched on the UI
// thread only, so other threads hand work over as events to a receiver living there.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace ui_thread {

// Called by UiInit / UiEnd on the thread that runs the Qt event loop.
void Start();
void Stop();

bool IsUiThread();
// Whether the UI thread still takes work.
bool Running();

// Runs work on the UI thread later, in posting order. abandoned runs (on whichever thread
// drops it) instead when the work will never run. False when the UI thread is gone; then
// neither runs.
bool Post(std::function<void()> work, std::function<void()> abandoned = {});

// Set while the UI thread handles a posted event of the runtime; UiWaitEvent reads it.
bool TakePostedEventDelivered();

// The result of a call carried out on the UI thread for a waiting thread.
template <typename Result>
struct PendingCall {
  std::mutex lock;
  std::condition_variable changed;
  std::optional<Result> result;
  bool finished = false;

  void Finish(std::optional<Result> value) {
    std::lock_guard guard(lock);
    result = std::move(value);
    finished = true;
    changed.notify_all();
  }
};

// Waits (without holding anything) until finished() or until the calling thread is told
// to stop or the UI thread is gone; true when finished.
bool WaitForUi(const std::function<bool()>& finished, std::mutex& lock,
               std::condition_variable& changed);

// Carries work out on the UI thread and returns its result; fallback when the UI thread is
// gone or the calling thread was told to stop while waiting (it then ends right after the
// wait instead of acting on an answer). On the UI thread itself the work runs at once.
template <typename Result, typename Work>
Result Call(Result fallback, Work work) {
  if (IsUiThread()) return work();
  auto call = std::make_shared<PendingCall<Result>>();
  const bool posted = Post([call, work]() mutable { call->Finish(work()); },
                           [call] { call->Finish(std::nullopt); });
  if (!posted) return fallback;
  bool finished = WaitForUi([&call] { return call->finished; }, call->lock, call->changed);
  std::lock_guard guard(call->lock);
  if (!finished || !call->result) return fallback;
  return std::move(*call->result);
}

// Call for work without a result.
// Work is copied: a caller that stops waiting must not leave the UI thread a dangling one.
template <typename Work>
void Run(Work work) {
  Call(false, [work]() mutable -> bool {
    work();
    return true;
  });
}

}  // namespace ui_thread
