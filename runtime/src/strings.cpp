#include "runtime/strings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "runtime/text_pool.h"
#include "runtime/thread_data.h"
#include "strings_area.h"

namespace {

constexpr std::int64_t InitialCapacity = 16;
constexpr std::int64_t GrowthMargin = 16384;
constexpr std::int64_t ShrinkThreshold = 1048576;
constexpr std::int64_t AllocationSlack = 10;  // the area's allocation beyond its capacity
constexpr std::int64_t VariableSlack = 10;    // a variable block's bytes beyond its text
constexpr std::int64_t TerminatorRoom = 4;
// Keeps 2 x length and the positions far from overflow; no real area comes near it.
constexpr std::int64_t MaximumUnits = std::int64_t{1} << 60;

// One thread's temporary area. The string heap is the C heap here: realloc gives the
// in-place resizing the area and the variable blocks rely on.
struct StringBuffer {
  std::byte* base = nullptr;
  std::int64_t capacity = 0;
  std::int64_t position = 0;

  StringBuffer() = default;
  StringBuffer(const StringBuffer&) = delete;
  StringBuffer& operator=(const StringBuffer&) = delete;
  ~StringBuffer() { std::free(base); }
};

// The string heap has no error path: a string that can't be stored would silently corrupt
// whatever is built from it, so running out of memory here ends the process.
[[noreturn]] void OutOfStringMemory() {
  std::fputs("regex-evaluator: out of memory for strings\n", stderr);
  std::abort();
}

void* HeapResize(void* block, std::int64_t bytes) {
  void* resized = std::realloc(block, static_cast<std::size_t>(bytes));
  if (!resized) OutOfStringMemory();
  return resized;
}

std::mutex managerLock;
std::atomic<bool> managerStarted{false};
StringBuffer** mainAreaOwner = nullptr;  // the start-up thread's area pointer; managerLock
thread_local StringBuffer* currentArea = nullptr;

std::unique_ptr<StringBuffer> NewArea() {
  auto area = std::unique_ptr<StringBuffer>(new (std::nothrow) StringBuffer);
  if (!area) OutOfStringMemory();
  area->base = static_cast<std::byte*>(std::calloc(InitialCapacity + AllocationSlack, 1));
  if (!area->base) OutOfStringMemory();
  area->capacity = InitialCapacity;
  return area;
}

void ReleaseArea(void* argument) {
  std::unique_ptr<StringBuffer> area(static_cast<StringBuffer*>(argument));
  if (currentArea == area.get()) currentArea = nullptr;
}

void StartManager() { managerStarted.store(true, std::memory_order_release); }

// Creation path of every primitive; keeps errno as the caller left it.
StringBuffer& CreateCurrentArea() {
  const int savedErrno = errno;
  if (!managerStarted.load(std::memory_order_acquire)) StartManager();
  std::unique_ptr<StringBuffer> area = NewArea();
  // Without a registered clean-up the area would outlive the thread; it still works.
  OnThreadExit(ReleaseArea, area.get());
  currentArea = area.release();
  errno = savedErrno;
  return *currentArea;
}

inline StringBuffer& CurrentArea() {
  if (currentArea) [[likely]]
    return *currentArea;
  return CreateCurrentArea();
}

inline char16_t* TextAt(StringBuffer& area, std::int64_t position) {
  return reinterpret_cast<char16_t*>(area.base + position);
}

void ResizeArea(StringBuffer& area, std::int64_t capacity) {
  area.base = static_cast<std::byte*>(HeapResize(area.base, capacity + AllocationSlack));
  area.capacity = capacity;
}

// Shrinks an area left large by one huge string, but only when that gives back more than
// one growth margin: otherwise a large kept content would make every other reservation
// shrink the area and the next one grow it again.
void ShrinkIfOversized(StringBuffer& area, std::int64_t need) {
  const std::int64_t target = std::max(need, ShrinkThreshold);
  if (area.capacity - target <= GrowthMargin) return;
  void* shrunk = std::realloc(area.base, static_cast<std::size_t>(target + AllocationSlack));
  if (!shrunk) return;  // keeping the larger area is harmless
  area.base = static_cast<std::byte*>(shrunk);
  area.capacity = target;
}

std::int64_t EvenClamped(std::int64_t position, std::int64_t limit) {
  return std::clamp<std::int64_t>(position, 0, limit) & ~std::int64_t{1};
}

bool InsideAllocation(const StringBuffer& area, const void* pointer) {
  const auto address = reinterpret_cast<std::uintptr_t>(pointer);
  const auto base = reinterpret_cast<std::uintptr_t>(area.base);
  return address >= base &&
         address < base + static_cast<std::uintptr_t>(area.capacity + AllocationSlack);
}

void CopyText(char16_t* destination, const char16_t* source, std::int64_t length) {
  if (length > 0) std::memmove(destination, source, static_cast<std::size_t>(length) * 2);
  destination[length] = 0;
}

bool PointsIntoText(const char16_t* text, const char16_t* pointer) {
  const auto address = reinterpret_cast<std::uintptr_t>(pointer);
  const auto start = reinterpret_cast<std::uintptr_t>(text);
  return address >= start && address <= start + static_cast<std::uintptr_t>(StringLength(text)) * 2;
}

char16_t* ResizeBlock(char16_t* block, std::int64_t textBytes) {
  // A pooled text can't grow in place (the next text follows it), and the caller
  // overwrites the whole text anyway: give it back and start a heap block.
  if (ReleasePooledText(block)) block = nullptr;
  return static_cast<char16_t*>(HeapResize(block, textBytes + VariableSlack));
}

}  // namespace

namespace strings_detail {

char16_t* ReserveKeeping(std::int64_t length, std::int64_t at, const char16_t*& source,
                         std::int64_t sourceLength) {
  StringBuffer& area = CurrentArea();
  if (at < 0) at = area.position;
  if (!source || !InsideAllocation(area, source)) return ReserveTemp(length, at);
  const std::int64_t offset = reinterpret_cast<const std::byte*>(source) - area.base;
  area.position = std::max(area.position, offset + 2 * sourceLength);
  char16_t* destination = ReserveTemp(length, at);
  source = reinterpret_cast<const char16_t*>(area.base + offset);
  return destination;
}

char16_t* WriteResult(const char16_t* source, std::int64_t length, std::int64_t at) {
  char16_t* destination = ReserveKeeping(length, at, source, length);
  CopyText(destination, source, length);
  return destination;
}

}  // namespace strings_detail

using strings_detail::WriteResult;

void StringManagerInit() {
  std::lock_guard guard(managerLock);
  StartManager();
  if (currentArea) return;  // made on first use already; released at this thread's end
  currentArea = NewArea().release();
  mainAreaOwner = &currentArea;
}

// The start-up thread's area goes here rather than at its thread end; areas of threads
// still running are left to their own clean-ups.
void StringManagerEnd() {
  std::lock_guard guard(managerLock);
  if (mainAreaOwner) {
    std::unique_ptr<StringBuffer> mainArea(*mainAreaOwner);
    *mainAreaOwner = nullptr;
    mainAreaOwner = nullptr;
  }
  managerStarted.store(false, std::memory_order_release);
}

void EnsureStringBuffer() { CurrentArea(); }

std::int64_t TempPosition() { return CurrentArea().position; }

void SetTempPosition(std::int64_t position) {
  StringBuffer& area = CurrentArea();
  area.position = EvenClamped(position, area.capacity);
}

char16_t* TempAt(std::int64_t position) {
  StringBuffer& area = CurrentArea();
  return TextAt(area, EvenClamped(position, area.capacity));
}

std::int64_t TempAreaCapacity() { return CurrentArea().capacity; }

char16_t* ReserveTemp(std::int64_t length, std::int64_t at) {
  StringBuffer& area = CurrentArea();
  length = std::clamp<std::int64_t>(length, 0, MaximumUnits);
  at = at < 0 ? area.position : EvenClamped(at, MaximumUnits);
  // Measured from the end of the content, so a reservation below it never loses any.
  const std::int64_t need = std::max(area.position, at) + 2 * length;
  if (need >= area.capacity - TerminatorRoom) {
    ResizeArea(area, need + GrowthMargin);
  } else if (area.capacity > ShrinkThreshold) {
    ShrinkIfOversized(area, need);
  }
  area.position = at + 2 * length;
  return TextAt(area, at);
}

void AppendTemp(const char16_t* text) { WriteResult(text, StringLength(text), -1); }

void AppendTemp(std::u16string_view text) {
  WriteResult(text.data(), static_cast<std::int64_t>(text.size()), -1);
}

void GiveBackTemp(std::int64_t units) {
  StringBuffer& area = CurrentArea();
  area.position = std::max<std::int64_t>(0, area.position - 2 * std::max<std::int64_t>(0, units));
}

char16_t* ReturnEmptyTemp(std::int64_t at) {
  char16_t* destination = ReserveTemp(0, at);
  *destination = 0;
  return destination;
}

void AssignString(StringVar& variable, const char16_t* text) {
  if (!text) {
    FreeString(variable);
    variable = nullptr;
    return;
  }
  AssignStringRange(variable, text, StringLength(text));
}

void AssignStringRange(StringVar& variable, const char16_t* text, std::int64_t length) {
  if (!text) length = 0;
  length = std::clamp<std::int64_t>(length, 0, MaximumUnits);
  if (variable && text && PointsIntoText(variable, text)) {
    // Resizing could move or cut the very characters being copied: copy out first.
    char16_t* fresh = ResizeBlock(nullptr, 2 * length);
    CopyText(fresh, text, length);
    FreeString(variable);
    variable = fresh;
    return;
  }
  variable = ResizeBlock(variable, 2 * length);
  CopyText(variable, text, length);
}

std::int64_t AssignFromTemp(StringVar& variable, std::int64_t position) {
  StringBuffer& area = CurrentArea();
  position = EvenClamped(position, area.position);
  const std::int64_t bytes = area.position - position;
  variable = ResizeBlock(variable, bytes);
  CopyText(variable, TextAt(area, position), bytes / 2);
  area.position = position;
  return position;
}

void FreeString(char16_t* block) {
  if (!ReleasePooledText(block)) std::free(block);
}

std::int64_t StringLength(const char16_t* s) {
  return s ? static_cast<std::int64_t>(std::char_traits<char16_t>::length(s)) : 0;
}

String::String(const char16_t* text) { Assign(text, StringLength(text)); }

String::String(std::u16string_view text) {
  Assign(text.data(), static_cast<std::int64_t>(text.size()));
}

String::String(const String& other) { Assign(other.block_, other.length_); }

String::String(String&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)), length_(std::exchange(other.length_, 0)) {}

String& String::operator=(const String& other) {
  if (this != &other) Assign(other.block_, other.length_);
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    FreeString(block_);
    block_ = std::exchange(other.block_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

String::~String() { FreeString(block_); }

String String::FromTemp(std::int64_t position) {
  String result;
  AssignFromTemp(result.block_, position);
  result.length_ = StringLength(result.block_);
  return result;
}

void String::Assign(const char16_t* text, std::int64_t length) {
  if (!text || length == 0) {
    FreeString(block_);
    block_ = nullptr;
    length_ = 0;
    return;
  }
  AssignStringRange(block_, text, length);
  length_ = length;
}
