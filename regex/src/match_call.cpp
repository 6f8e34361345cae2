#include "match_call.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "regex_object.h"
#include "runtime/thread_data.h"
#include "runtime/thread_stop.h"

namespace {

constexpr unsigned long MatchLimit = 10'000'000;
constexpr unsigned long DeepestRecursion = 10'000'000;
// Stack kept free below the deepest match frame: the signal frame of an interruption, and
// whatever PCRE and the C library put on top of the frames that are counted.
constexpr std::uintptr_t StackReserve = 256 * 1024;
// Each counted frame is reckoned at twice its measured size.
constexpr unsigned long FrameSafetyFactor = 2;
// Where the stack bounds can't be read: the most a thread is assumed to have.
constexpr std::uintptr_t AssumedStackBytes = 1024 * 1024;
constexpr std::size_t ArenaBytes = 8 * 1024 * 1024;
// The JIT's backtracking stack of a thread: reserved whole at first use, its pages
// taken only as a match reaches them. A match that needs more is made again by the
// interpreter, so the cap bounds only what a deep match costs before it changes path.
constexpr int JitStackStartBytes = 32 * 1024;
constexpr int JitStackCapBytes = 4 * 1024 * 1024;
// A run of searches ahead of the scan: their number, and the match work each may take.
// Little work per search keeps what a run adds to the search the scan waits for small;
// many searches per run spread the cost of entering an interruptible call.
constexpr std::int32_t RunRoom = 64;
constexpr unsigned long RunSearchSteps = 20'000;

unsigned long MatchFrameBytes() {
  // With these arguments pcre_exec reports the stack frame of one match recursion, negated.
  static const unsigned long frame = [] {
    int reported = pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0);
    return reported < 0 ? static_cast<unsigned long>(-reported) : 1024UL;
  }();
  return frame;
}

// Lowest usable address of the calling thread's stack, or 0 when unknown.
std::uintptr_t FindStackLowerBound() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* address = nullptr;
  std::size_t size = 0;
  std::size_t guard = 0;
  bool known = pthread_attr_getstack(&attributes, &address, &size) == 0 &&
               pthread_attr_getguardsize(&attributes, &guard) == 0;
  pthread_attr_destroy(&attributes);
  return known ? reinterpret_cast<std::uintptr_t>(address) + guard : 0;
}

std::uintptr_t StackLowerBound() {
  thread_local const std::uintptr_t lowerBound = FindStackLowerBound();
  return lowerBound;
}

// PCRE allocates during a match only when it saves more offsets than it keeps on its own
// stack while entering a recursion. Served from this arena, such a call still allocates
// nothing from the heap and can be cut short at any moment: the arena is reset by the next
// call. The blocks come and go in stack order, so the arena is a bump allocator that takes
// back its newest block.
class MatchArena {
 public:
  void Begin() {
    if (!storage_) Reserve();
    top_ = 0;
    active_ = true;
  }
  void End() { active_ = false; }
  [[nodiscard]] bool Active() const { return active_; }

  void* Allocate(std::size_t size) {
    if (!storage_ || size > ArenaBytes) return nullptr;
    BlockHeader header{top_, top_ + sizeof(BlockHeader) + (size + 15) / 16 * 16};
    if (header.end > ArenaBytes) return nullptr;
    std::memcpy(storage_ + top_, &header, sizeof header);
    top_ = header.end;
    return storage_ + header.start + sizeof(BlockHeader);
  }

  bool Owns(const void* pointer) const {
    const auto* byte = static_cast<const std::byte*>(pointer);
    return storage_ && byte >= storage_ && byte < storage_ + ArenaBytes;
  }

  // Only the newest block goes back at once; an older one waits for the next reset.
  void Release(void* pointer) {
    BlockHeader header;
    std::memcpy(&header, static_cast<std::byte*>(pointer) - sizeof header, sizeof header);
    if (header.end == top_) top_ = header.start;
  }

 private:
  struct BlockHeader {
    std::size_t start;
    std::size_t end;
  };
  static_assert(sizeof(BlockHeader) == 16);

  // The storage goes with the thread's runtime clean-ups rather than with a destructor:
  // PCRE's free function may still be called while the thread's C++ thread_locals are
  // being destroyed, and must find a valid (if empty) arena then.
  void Reserve() {
    auto storage = std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[ArenaBytes]);
    if (storage && OnThreadExit(ReleaseStorage, this)) storage_ = storage.release();
  }
  static void ReleaseStorage(void* arena) {
    auto* self = static_cast<MatchArena*>(arena);
    std::unique_ptr<std::byte[]> storage(self->storage_);
    self->storage_ = nullptr;
  }

  std::byte* storage_ = nullptr;
  std::size_t top_ = 0;
  bool active_ = false;
};
static_assert(std::is_trivially_destructible_v<MatchArena>);

thread_local MatchArena threadArena;

// PCRE allocates nothing while JIT code runs on this stack, so a match there can be cut
// short at any moment, like one of the interpreter's in the arena.
class JitStack {
 public:
  // The calling thread's stack, or null when memory ran out. Call outside any match: the
  // stack's record comes from pcre_malloc, which would otherwise take it from the arena.
  pcre_jit_stack* Get() {
    if (!stack_) Reserve();
    return stack_;
  }

 private:
  void Reserve() {
    pcre_jit_stack* stack = pcre_jit_stack_alloc(JitStackStartBytes, JitStackCapBytes);
    if (!stack) return;
    if (!OnThreadExit(Release, this)) {
      pcre_jit_stack_free(stack);
      return;
    }
    stack_ = stack;
  }
  // Goes with the thread's runtime clean-ups, as the arena's storage does.
  static void Release(void* jitStack) {
    auto* self = static_cast<JitStack*>(jitStack);
    pcre_jit_stack_free(self->stack_);
    self->stack_ = nullptr;
  }

  pcre_jit_stack* stack_ = nullptr;
};
static_assert(std::is_trivially_destructible_v<JitStack>);

thread_local JitStack threadJitStack;

void* MatchAllocate(std::size_t size) {
  if (threadArena.Active()) return threadArena.Allocate(size);
  return std::malloc(size);
}

void MatchRelease(void* pointer) {
  if (!pointer) return;
  if (threadArena.Owns(pointer)) threadArena.Release(pointer);
  else std::free(pointer);
}

// Marks the thread's match call; the destructor also runs when a stop unwinds the call.
class ArenaSession {
 public:
  ArenaSession() { threadArena.Begin(); }
  ~ArenaSession() { threadArena.End(); }
  ArenaSession(const ArenaSession&) = delete;
  ArenaSession& operator=(const ArenaSession&) = delete;
};

struct MatchCall {
  const pcre* pattern;
  pcre_extra extra;
  const char* subject;
  int length;
  int start;
  int* offsetVector;
  int vectorSize;
  pcre_jit_stack* jitStack;  // null: the interpreter
  SearchRun* run;            // null: the one search
  int result;
  std::int32_t runMade;
};

// The searches after call's first, which found a match, into call's run; how many were made
// goes to runMade, and to the run only once the interruptible call is over.
void RunFollowingSearches(MatchCall& call) {
  SearchRun& run = *call.run;
  call.extra.match_limit = std::min(call.extra.match_limit, RunSearchSteps);
  std::int32_t from = NextScanPosition(call.subject, call.offsetVector, call.start);
  std::int32_t* finding = run.findings.data();
  std::int32_t made = 0;
  while (made < run.room && from < call.length) {
    std::int32_t* offsets = finding + 2;
    const int result = pcre_jit_exec(call.pattern, &call.extra, call.subject, call.length, from,
                                     PCRE_NO_UTF8_CHECK, offsets, call.vectorSize, call.jitStack);
    // An error, the lowered limit's included, is for the scan to meet in its own search.
    if (result <= 0 && result != PCRE_ERROR_NOMATCH) break;
    finding[0] = from;
    finding[1] = result;
    finding += run.stride;
    ++made;
    if (result <= 0) break;
    from = NextScanPosition(call.subject, offsets, from);
  }
  call.runMade = made;
}

void RunMatchCall(void* context) {
  auto* call = static_cast<MatchCall*>(context);
  if (call->jitStack) {
    call->result =
        pcre_jit_exec(call->pattern, &call->extra, call->subject, call->length, call->start,
                      PCRE_NO_UTF8_CHECK, call->offsetVector, call->vectorSize, call->jitStack);
    if (call->run && call->result > 0) RunFollowingSearches(*call);
    return;
  }
  call->result = pcre_exec(call->pattern, &call->extra, call->subject, call->length, call->start,
                           PCRE_NO_UTF8_CHECK, call->offsetVector, call->vectorSize);
}

// What only the interpreter tells apart: the machine code's own stack ran out (the
// interpreter then goes as deep as the thread's stack allows), or the code can't serve.
bool InterpreterServes(int jitResult) {
  return jitResult == PCRE_ERROR_JIT_STACKLIMIT || jitResult == PCRE_ERROR_JIT_BADOPTION;
}

}  // namespace

std::unique_ptr<SearchRun> NewSearchRun(std::int32_t groupCount) {
  try {
    auto run = std::make_unique<SearchRun>();
    run->stride = 2 + OffsetVectorSize(groupCount);
    run->room = RunRoom;
    run->findings.resize(static_cast<std::size_t>(run->stride) * RunRoom);
    return run;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool HasMachineCode(const pcre_extra* study) {
  return study && (study->flags & PCRE_EXTRA_EXECUTABLE_JIT) && study->executable_jit;
}

pcre_extra* StudyPattern(const pcre* compiled) {
  const char* message = nullptr;
  return pcre_study(compiled, PCRE_STUDY_JIT_COMPILE, &message);
}

void InstallMatchAllocator() {
  pcre_malloc = MatchAllocate;
  pcre_free = MatchRelease;
}

unsigned long MatchRecursionLimit() {
  auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  // A thread calls from the same depth again and again: the answer is kept for it.
  thread_local std::uintptr_t lastHere = 0;
  thread_local unsigned long lastLimit = 0;
  if (here == lastHere) return lastLimit;
  std::uintptr_t lower = StackLowerBound();
  std::uintptr_t available = AssumedStackBytes;
  if (lower != 0 && here > lower) available = here - lower;
  unsigned long depth = 1;
  if (available > StackReserve) {
    depth = (available - StackReserve) / (MatchFrameBytes() * FrameSafetyFactor);
  }
  lastHere = here;
  lastLimit = std::clamp(depth, 1UL, DeepestRecursion);
  return lastLimit;
}

int ExecuteMatch(const pcre* pattern, const pcre_extra* study, const char* subject,
                 std::int32_t length, std::int32_t start, std::span<std::int32_t> offsets,
                 unsigned long matchLimit, SearchRun* run) {
  // Every member is set one by one: zero-filling the whole record first costs more than
  // the JIT's search itself for a short match.
  MatchCall call;
  call.pattern = pattern;
  call.subject = subject;
  call.length = length;
  call.start = start;
  call.offsetVector = offsets.data();
  call.vectorSize = static_cast<std::int32_t>(offsets.size());
  call.jitStack = nullptr;
  call.run = run;
  call.result = 0;
  call.runMade = 0;
  if (run) {
    run->made = 0;
    run->taken = 0;
  }
  pcre_extra& extra = call.extra;
  extra.flags = PCRE_EXTRA_MATCH_LIMIT;
  extra.study_data = nullptr;
  if (study && (study->flags & PCRE_EXTRA_STUDY_DATA)) {
    extra.flags |= PCRE_EXTRA_STUDY_DATA;
    extra.study_data = study->study_data;
  }
  extra.match_limit = matchLimit > 0 ? std::min(matchLimit, MatchLimit) : MatchLimit;
  extra.callout_data = nullptr;
  extra.tables = nullptr;
  extra.match_limit_recursion = 0;
  extra.mark = nullptr;
  extra.executable_jit = nullptr;
  if (HasMachineCode(study)) {
    call.jitStack = threadJitStack.Get();
    if (call.jitStack) {
      extra.flags |= PCRE_EXTRA_EXECUTABLE_JIT;
      extra.executable_jit = study->executable_jit;
      RunInterruptible(RunMatchCall, &call);
      if (run) run->made = call.runMade;
      if (!InterpreterServes(call.result)) return call.result;
      extra.flags &= ~PCRE_EXTRA_EXECUTABLE_JIT;
      extra.executable_jit = nullptr;
      call.jitStack = nullptr;
    }
  }
  call.run = nullptr;  // the interpreter makes one search per call
  extra.flags |= PCRE_EXTRA_MATCH_LIMIT_RECURSION;
  extra.match_limit_recursion = MatchRecursionLimit();
  ArenaSession session;
  RunInterruptible(RunMatchCall, &call);
  return call.result;
}
