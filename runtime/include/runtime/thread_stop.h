// Stopping a worker thread from outside, the only safe way there is: the worker ends itself
// at points where it holds no lock and has no shared structure half-changed. (Scopes around
// shared changes rather than a flag the worker polls: the evaluator's Esc and close must end
// a worker that sits in library code it does not control, without waiting for it.)
//
// The rules every runtime operation that a worker may call follows:
// - A change to shared state (an object table entry, a list record, a tree row, a posted
//   event, the objects behind numbers such as regex 0 or file 0) happens inside a
//   SharedChangeScope. Entering a scope after a stop was requested ends the thread.
// - A SharedChangeScope is never held while waiting for another thread (in particular for
//   the UI thread): calls that wait are stop points of their own.
// - A long computation that holds no lock and allocates nothing (one PCRE match call) runs
//   through RunInterruptible, so that a stop request leaves it at once.
// - Long loops over thread-local data call StopPoint now and then.
// - Ending a thread unwinds its stack (pthread_exit): never reach a stop point from a
//   destructor or a noexcept function, and let catch (...) rethrow what it caught.
//
// RequestThreadStop (used by ThreadKill) sets the request, interrupts an interruptible call
// in progress and waits until the thread is outside every SharedChangeScope; from then on
// the thread changes nothing shared, and it ends at its next stop point.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

struct StopState;

// The calling thread's stop state, made on first use; the thread library keeps a reference
// in its thread record so that another thread can request the stop.
std::shared_ptr<StopState> CurrentStopState();

// Whether the calling thread was told to stop.
bool StopRequested();

// Ends the calling thread now (its per-thread clean-ups run; destructors of the frames
// between here and the thread procedure run too). Never returns.
[[noreturn]] void EndStoppedThread();

// Ends the calling thread if it was told to stop.
void StopPoint();

class SharedChangeScope {
 public:
  SharedChangeScope();  // may end the thread, see above
  ~SharedChangeScope();
  SharedChangeScope(const SharedChangeScope&) = delete;
  SharedChangeScope& operator=(const SharedChangeScope&) = delete;
};

// Runs call(context) inside a SharedChangeScope so that a stop request interrupts it at
// once; the interrupted thread then ends as by EndStoppedThread. call must hold no lock,
// allocate nothing and leave no state of its own that needs undoing when cut short.
void RunInterruptible(void (*call)(void* context), void* context);

// From another thread: tells the thread of state to stop, interrupts a call running under
// RunInterruptible, and returns once that thread is outside every SharedChangeScope.
// Called by the thread of state itself it only sets the request. Never call it from inside
// a SharedChangeScope: two threads stopping each other would wait for each other's gate.
void RequestThreadStop(StopState& state);

// For the thread library: a state made before its thread starts, so that a stop can be
// requested as soon as the thread's id is known; the new thread adopts it first thing.
[[nodiscard]] std::shared_ptr<StopState> NewStopState();

// Makes state the calling thread's stop state (a thread that already has one keeps it and
// this does nothing). Returns false when memory for its thread-exit release ran out.
[[nodiscard]] bool AdoptStopState(const std::shared_ptr<StopState>& state);

// Marks the calling thread as ending: its own code has finished and only destructors and
// thread-exit clean-ups remain. From then on no scope or stop point ends the thread (ending
// it again from a destructor or a clean-up would be undefined); a scope still waits for
// the gate, so RequestThreadStop keeps its promise of a thread outside every scope.
void BeginThreadExit();

// Waits on changed until ready() holds, outside any SharedChangeScope, with a stop point
// every few milliseconds so that a thread told to stop ends while it waits; lock (on the
// mutex that guards what ready reads) is held whenever ready() runs and on return.
template <typename Ready>
void WaitUntilReadyOrStopped(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
                             Ready ready) {
  // Most calls find it ready: they need not read the clock that a timed wait reads.
  if (ready()) return;
  while (!changed.wait_for(lock, std::chrono::milliseconds(20), ready)) {
    lock.unlock();
    StopPoint();
    lock.lock();
  }
}
