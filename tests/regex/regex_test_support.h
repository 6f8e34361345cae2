// Small helpers shared by the regex tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "regex/regex.h"
#include "runtime/strings.h"
#include "threads/threads.h"

inline String ErrorText() {
  return TakeResult([](std::int64_t at) { RegexError(at); });
}
inline String MatchText(ObjectNumber number) {
  return TakeResult([number](std::int64_t at) { RegexMatchText(number, at); });
}
inline String GroupText(ObjectNumber number, std::int64_t n) {
  return TakeResult([number, n](std::int64_t at) { RegexGroupText(number, n, at); });
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
