#include <pcre.h>
#include <time.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "match_call.h"
#include "regex_test_support.h"
#include "runtime/thread_data.h"

namespace {

constexpr std::size_t EightMiB = 8 * 1024 * 1024;

std::u16string Alternating(std::size_t length) {
  std::u16string text(length, u'a');
  for (std::size_t i = 1; i < length; i += 2) text[i] = u'b';
  return text;
}

struct DeepOutcome {
  std::int64_t matches = -1;
  std::int64_t matchesError = 1;
  std::int64_t nextMatch = -1;
  std::int64_t nextMatchError = 1;
  std::int64_t matchLength = -1;
};

// (a|b)* recurses once or more per character on the thread's stack.
DeepOutcome ScanAlternation(std::size_t length) {
  DeepOutcome outcome;
  std::u16string subject = Alternating(length);
  ObjectNumber regex = RegexCreate(AnyHandle, u"(a|b)*", 0);
  EXPECT_NE(regex, 0);
  outcome.matches = Matches(regex, subject.c_str());
  outcome.matchesError = RegexLastError(regex);
  EXPECT_EQ(RegexExamine(regex, subject.c_str()), 1);
  outcome.nextMatch = RegexNextMatch(regex);
  outcome.nextMatchError = RegexLastError(regex);
  outcome.matchLength = TakeMatch(regex).length;
  RegexFree(regex);
  return outcome;
}

DeepOutcome ScanAlternationOnThread(std::size_t length, std::size_t stackSize) {
  DeepOutcome outcome;
  RunOnThread([&] { outcome = ScanAlternation(length); }, stackSize);
  return outcome;
}

void ExpectRecursionLimit(const DeepOutcome& outcome) {
  EXPECT_EQ(outcome.matches, 0);
  EXPECT_EQ(outcome.matchesError, PCRE_ERROR_RECURSIONLIMIT);
  EXPECT_EQ(outcome.nextMatch, 0);
  EXPECT_EQ(outcome.nextMatchError, PCRE_ERROR_RECURSIONLIMIT);
  EXPECT_EQ(outcome.matchLength, 0);
}

TEST(RegexDeepRecursion, MillionCharactersEndCleanlyOnAWorkerStack) {
  ExpectRecursionLimit(ScanAlternationOnThread(1'000'000, WorkerStackSize));
}

TEST(RegexDeepRecursion, MillionCharactersEndCleanlyOnAnEightMiBStack) {
  ExpectRecursionLimit(ScanAlternationOnThread(1'000'000, EightMiB));
}

TEST(RegexDeepRecursion, TheLimitStillLeavesRoomForDeepMatches) {
  DeepOutcome worker = ScanAlternationOnThread(50'000, WorkerStackSize);
  EXPECT_EQ(worker.matches, 1);
  EXPECT_EQ(worker.matchLength, 50'000);
  DeepOutcome small = ScanAlternationOnThread(2'000, EightMiB);
  EXPECT_EQ(small.matches, 1);
  EXPECT_EQ(small.matchLength, 2'000);
}

TEST(RegexDeepRecursion, LimitFollowsTheStackLeft) {
  unsigned long onWorker = 0;
  unsigned long onSmall = 0;
  RunOnThread([&] { onWorker = MatchRecursionLimit(); }, WorkerStackSize);
  RunOnThread([&] { onSmall = MatchRecursionLimit(); }, EightMiB);
  EXPECT_GT(onWorker, 20 * onSmall);
  EXPECT_GT(onSmall, 1000u);
  EXPECT_LT(onSmall, EightMiB / 496);
}

TEST(RegexLastError, TellsTheMatchLimitFromNoMatch) {
  ObjectNumber regex = RegexCreate(AnyHandle, u"(a+)+b", 0);
  ASSERT_NE(regex, 0);
  // The b after the ! keeps PCRE from rejecting the subject before it starts matching.
  std::u16string subject = std::u16string(40, u'a') + u"!b";
  EXPECT_EQ(Matches(regex, subject.c_str()), 0);
  EXPECT_EQ(RegexLastError(regex), PCRE_ERROR_MATCHLIMIT);
  EXPECT_EQ(Matches(regex, u"aac"), 0);
  EXPECT_EQ(RegexLastError(regex), 0);
  ASSERT_EQ(RegexExamine(regex, subject.c_str()), 1);
  EXPECT_EQ(RegexNextMatch(regex), 0);
  EXPECT_EQ(RegexLastError(regex), PCRE_ERROR_MATCHLIMIT);
  EXPECT_EQ(RegexNextMatch(regex), 0) << "the scan stays where the error stopped it";
  EXPECT_EQ(RegexLastError(regex), PCRE_ERROR_MATCHLIMIT);
  ASSERT_EQ(RegexExamine(regex, u"ab"), 1);
  EXPECT_EQ(RegexLastError(regex), 0);
  ASSERT_EQ(RegexNextMatch(regex), 1);
  EXPECT_EQ(RegexLastError(regex), 0);
  EXPECT_EQ(RegexNextMatch(regex), 0);
  EXPECT_EQ(RegexLastError(regex), 0) << "the end of the scan is no error";
  RegexFree(regex);
}

// Eleven groups: entering the recursion saves more offsets than PCRE keeps on its stack.
constexpr char16_t NestedPattern[] =
    u"(a)?(b)?(c)?(d)?(e)?(f)?(g)?(h)?(i)?(j)?(\\((?:[^()]|(?11))*\\))";

TEST(RegexRecursivePatterns, ManyGroupsMatchThroughTheArena) {
  ObjectNumber regex = RegexCreate(AnyHandle, NestedPattern, 0);
  ASSERT_NE(regex, 0);
  ASSERT_EQ(RegexExamine(regex, u"x(a(b)((c)d))y(e)"), 1);
  ASSERT_EQ(RegexNextMatch(regex), 1);
  const TakenMatch first = TakeMatch(regex, 11);
  EXPECT_EQ(first.text, u"(a(b)((c)d))");
  EXPECT_EQ(first.groups[10], u"(a(b)((c)d))");
  ASSERT_EQ(first.next, 1);
  const TakenMatch second = TakeMatch(regex, 11);
  EXPECT_EQ(second.groups[10], u"(e)");
  EXPECT_EQ(second.next, 0);
  EXPECT_EQ(RegexLastError(regex), 0);
  RegexFree(regex);
}

TEST(RegexRecursivePatterns, ArenaTakesBackWhatEachRecursionGaveUp) {
  // Far more recursions one after another than the arena could hold at once.
  std::u16string subject = u"(";
  for (int i = 0; i < 80'000; ++i) subject += u"()";
  subject += u")";
  std::int64_t found = -1;
  std::int64_t error = 1;
  std::int64_t length = -1;
  RunOnThread(
      [&] {
        ObjectNumber regex = RegexCreate(AnyHandle, NestedPattern, 0);
        found = Matches(regex, subject.c_str());
        error = RegexLastError(regex);
        RegexExamine(regex, subject.c_str());
        RegexNextMatch(regex);
        length = TakeMatch(regex).length;
        RegexFree(regex);
      },
      WorkerStackSize);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(length, static_cast<std::int64_t>(subject.size()));
}

}  // namespace
