// Small helpers shared by the regex tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "regex/regex.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "threads/threads.h"

inline String ErrorText() {
  return TakeResult([](std::int64_t at) { RegexError(at); });
}
// 1 when pattern number matches somewhere in text, read as the evaluator reads it: a scan
// and its first search, which leaves RegexLastError as that search left it.
inline std::int64_t Matches(ObjectNumber number, const char16_t* text) {
  return RegexExamine(number, text) == 1 && RegexNextMatch(number) == 1 ? 1 : 0;
}

// The current match as the evaluator reads it: its position, then its texts from
// RegexTakeMatches, which also makes the scan's next search. Without a current match every
// text is empty, the position 0 and nothing moves.
struct TakenMatch {
  std::int64_t position = 0;
  std::u16string text;
  std::vector<std::u16string> groups;  // groups 1 to lastGroup
  std::int64_t length = 0;             // characters (code points) of text
  std::int64_t next = 0;               // the next search's result, as RegexNextMatch gives it
};

// With steps, the next search is given up (next -1) past that much work, as RegexTakeMatches
// does; without, it is made as RegexNextMatch makes it.
inline TakenMatch TakeMatch(ObjectNumber number, std::int64_t lastGroup = 0,
                            std::int64_t steps = 0) {
  TakenMatch match;
  match.position = RegexMatchPosition(number);
  std::vector<std::u16string> texts;
  const auto keep = [](void* context, const char* bytes, std::int64_t length) {
    static_cast<std::vector<std::u16string>*>(context)->push_back(
        Utf8ToUtf16(std::string_view(bytes ? bytes : "", static_cast<std::size_t>(length))));
  };
  std::int64_t taken = 0;
  const std::int64_t limit = steps > 0 ? steps : std::numeric_limits<std::int64_t>::max();
  match.next = RegexTakeMatches(number, true, lastGroup, keep, &texts, 1, limit, taken);
  // A search given up at the engine's own limit is made again as RegexNextMatch makes it,
  // which then reports the limit through RegexLastError.
  if (steps <= 0 && match.next == -1) match.next = RegexNextMatch(number);
  if (taken == 0) {
    texts.assign(static_cast<std::size_t>(std::max<std::int64_t>(lastGroup, 0) + 1), u"");
  }
  match.text = texts.front();
  match.groups.assign(texts.begin() + 1, texts.end());
  for (char16_t unit : match.text) match.length += (unit & 0xFC00) != 0xDC00;
  return match;
}

// Runs work on a runtime thread with the given stack and waits for the thread's end.
inline void RunOnThread(std::function<void()> work, std::size_t stackSize) {
  auto procedure = [](std::int64_t value) -> std::int64_t {
    EnsureStringBuffer();
    (*reinterpret_cast<std::function<void()>*>(value))();
    return 0;
  };
  std::int64_t id =
      ThreadCreateWithStack(procedure, reinterpret_cast<std::int64_t>(&work), stackSize);
  ASSERT_NE(id, 0);
  while (ThreadIsRunning(id)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}
