#include "runtime/thread_stop.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "runtime/thread_data.h"

struct StopState {
  std::atomic<bool> stopRequested{false};
  // Set only around the call of RunInterruptible, so that the signal handler jumps out of
  // that call and of nothing else. Only the thread itself and its signal handler touch it:
  // relaxed access with signal fences orders it for the handler at no cost per call.
  std::atomic<bool> insideInterruptible{false};
  sigjmp_buf interruptJump;

  // Held by the thread while it is inside a SharedChangeScope (outermost scope only).
  std::mutex gate;

  // The thread may be signalled only while it exists: it clears threadAlive in its last
  // clean-up, under signalLock, so a signal is never sent to a thread that is gone.
  std::mutex signalLock;
  bool threadAlive = false;
  pthread_t thread{};
};

namespace {

// Owns the calling thread's reference to its state until the thread's last clean-up.
struct StateHolder {
  std::shared_ptr<StopState> state;
};

// Plain pointers and counters: the signal handler reads currentState, and the clean-ups
// that run after every C++ thread_local has been destroyed still use them.
thread_local StopState* currentState = nullptr;
thread_local StateHolder* currentHolder = nullptr;
thread_local int scopeDepth = 0;
thread_local bool threadEnding = false;

std::once_flag handlerInstalled;

int StopSignal() { return SIGRTMIN + 4; }

// Only jumps when the thread is inside an interruptible call and really was told to stop;
// any other delivery simply returns and the thread stops at its next stop point.
void OnStopSignal(int) {
  StopState* state = currentState;
  if (state && state->insideInterruptible.load(std::memory_order_relaxed) &&
      state->stopRequested.load()) {
    siglongjmp(state->interruptJump, 1);
  }
}

void InstallStopSignalHandler() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restarting keeps a stray delivery from failing a blocking read of the thread.
  action.sa_flags = SA_RESTART;
  sigaction(StopSignal(), &action, nullptr);
}

void ReleaseState(void* argument) {
  std::unique_ptr<StateHolder> holder(static_cast<StateHolder*>(argument));
  {
    std::lock_guard lock(holder->state->signalLock);
    holder->state->threadAlive = false;
  }
  if (currentHolder == holder.get()) {
    currentState = nullptr;
    currentHolder = nullptr;
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Used only when memory for a thread's own state ran out: scopes still work (its gate is
// shared by such threads), it is just never told to stop.
StopState& FallbackState() {
  static StopState fallback;
  return fallback;
}

// A failed adoption leaves no state, or one that is never released: either way the
// thread goes on, with the fallback in the first case.
StopState& CurrentState() {
  if (!currentState) static_cast<void>(AdoptStopState(NewStopState()));
  return currentState ? *currentState : FallbackState();
}

}  // namespace

std::shared_ptr<StopState> NewStopState() {
  std::call_once(handlerInstalled, InstallStopSignalHandler);
  try {
    return std::make_shared<StopState>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool AdoptStopState(const std::shared_ptr<StopState>& state) {
  if (currentState) return true;
  if (!state) return false;
  std::call_once(handlerInstalled, InstallStopSignalHandler);
  std::unique_ptr<StateHolder> holder;
  try {
    holder = std::make_unique<StateHolder>(StateHolder{state});
  } catch (const std::bad_alloc&) {
    return false;
  }
  {
    std::lock_guard lock(state->signalLock);
    state->thread = pthread_self();
    state->threadAlive = true;
  }
  currentHolder = holder.get();
  currentState = holder->state.get();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!OnThreadExit(ReleaseState, holder.get())) {
    // Out of memory: the state must outlive every use on this thread, so it is kept.
    static_cast<void>(holder.release());
    return false;
  }
  static_cast<void>(holder.release());  // now owned by the thread-exit clean-up
  return true;
}

std::shared_ptr<StopState> CurrentStopState() {
  CurrentState();
  return currentHolder ? currentHolder->state : nullptr;
}

bool StopRequested() { return currentState && currentState->stopRequested.load(); }

void EndStoppedThread() {
  threadEnding = true;
  pthread_exit(nullptr);
}

void StopPoint() {
  if (!threadEnding && StopRequested()) EndStoppedThread();
}

void BeginThreadExit() { threadEnding = true; }

SharedChangeScope::SharedChangeScope() {
  StopState& state = CurrentState();
  if (scopeDepth++ > 0) return;  // an inner scope must not cut the outer change short
  state.gate.lock();
  if (state.stopRequested.load() && !threadEnding) {
    state.gate.unlock();
    --scopeDepth;
    EndStoppedThread();
  }
}

SharedChangeScope::~SharedChangeScope() {
  if (--scopeDepth == 0) CurrentState().gate.unlock();
}

namespace {

void MarkInsideInterruptible(StopState& state, bool inside) {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  state.insideInterruptible.store(inside, std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

void RunInterruptible(void (*call)(void* context), void* context) {
  SharedChangeScope scope;
  StopState* state = &CurrentState();
  if (threadEnding) {
    call(context);
    return;
  }
  // The signal mask is not saved: that costs a system call per match call, and a thread
  // that comes back here through the jump ends at once, whatever its mask.
  if (sigsetjmp(state->interruptJump, 0) == 0) {
    MarkInsideInterruptible(*state, true);
    if (!state->stopRequested.load()) {
      call(context);
      MarkInsideInterruptible(*state, false);
      return;
    }
  }
  MarkInsideInterruptible(*state, false);
  EndStoppedThread();
}

void RequestThreadStop(StopState& state) {
  state.stopRequested.store(true);
  if (&state == currentState) return;
  {
    std::lock_guard lock(state.signalLock);
    if (state.threadAlive) pthread_kill(state.thread, StopSignal());
  }
  // Once the gate is ours the thread is outside every scope, and it sees the request at
  // its next entry.
  state.gate.lock();
  state.gate.unlock();
}
