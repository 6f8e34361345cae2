#include <gtest/gtest.h>

#include "regex/regex.h"
#include "runtime/strings.h"
#include "threads/threads.h"

// The libraries start once, on the main thread, before any test thread exists.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  StringManagerInit();
  ThreadInit();
  RegexInit();
  int result = RUN_ALL_TESTS();
  RegexEnd();
  return result;
}
