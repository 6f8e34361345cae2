#include <gtest/gtest.h>

#include "regex_test_support.h"

namespace {

constexpr std::size_t SmallStack = 8 * 1024 * 1024;

TEST(RegexCompile, ErrorTextLivesUntilTheNextCompileOfTheSameThread) {
  EXPECT_EQ(RegexCreate(0, u"(", 0), 0);
  EXPECT_EQ(ErrorText(), u"missing )");
  EXPECT_EQ(ErrorText(), u"missing )") << "reading the text must not clear it";
  EXPECT_NE(RegexCreate(0, u"a", 0), 0);
  EXPECT_EQ(ErrorText(), u"");
  RegexFree(0);
}

TEST(RegexCompile, ErrorTextsArePcresOwnWords) {
  struct Case {
    const char16_t* pattern;
    std::int32_t flags;
    const char16_t* message;
  };
  const Case cases[] = {
      {u"*", 0, u"nothing to repeat"},
      {u"[", 0, u"missing terminating ] for character class"},
      {u")", 0, u"unmatched parentheses"},
      {u"a", 0x40000000, u"unknown option bit(s) set"},
      {u"a", 0x300000 | 0x500000, u"inconsistent NEWLINE options"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegexCreate(3, c.pattern, c.flags), 0);
    EXPECT_EQ(ErrorText(), std::u16string_view(c.message));
  }
}

TEST(RegexCompile, NullPatternFailsWithoutText) {
  EXPECT_EQ(RegexCreate(0, u"(", 0), 0);
  EXPECT_EQ(RegexCreate(0, nullptr, 0), 0);
  EXPECT_EQ(ErrorText(), u"") << "the earlier error must be cleared";
  EXPECT_EQ(RegexIsValid(0), 0);
}

TEST(RegexCompile, FailedRecreateLeavesTheNumberDead) {
  ASSERT_NE(RegexCreate(0, u"a", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"aaa"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexCreate(0, u"(", 0), 0);
  EXPECT_EQ(RegexIsValid(0), 0);
  EXPECT_EQ(RegexNextMatch(0), 0);
  EXPECT_EQ(TakeMatch(0).text, u"");
  EXPECT_EQ(RegexGroupCount(0), 0);
}

TEST(RegexCompile, ErrorTextIsPerThread) {
  ASSERT_EQ(RegexCreate(0, u"(", 0), 0);
  String seenBefore;
  String seenAfterOwnFailure;
  RunOnThread(
      [&] {
        seenBefore = ErrorText();
        EXPECT_EQ(RegexCreate(5, u"[", 0), 0);
        seenAfterOwnFailure = ErrorText();
      },
      SmallStack);
  EXPECT_EQ(seenBefore, u"");
  EXPECT_EQ(seenAfterOwnFailure, u"missing terminating ] for character class");
  EXPECT_EQ(ErrorText(), u"missing )") << "another thread's failure changed this thread's text";
}

TEST(RegexCompile, GroupCountCountsCapturingAndNamedGroups) {
  ASSERT_NE(RegexCreate(0, u"", 0), 0);
  EXPECT_EQ(RegexGroupCount(0), 0);
  ASSERT_NE(RegexCreate(0, u"(a)(?:b)(?<n>c)", 0), 0);
  EXPECT_EQ(RegexGroupCount(0), 2);
  RegexFree(0);
  EXPECT_EQ(RegexIsValid(0), 0);
  EXPECT_EQ(RegexGroupCount(0), 0);
}

TEST(RegexCompile, GroupNamesComeInGroupOrderInEverySyntax) {
  const auto name = [](std::int64_t n) {
    return std::u16string(TakeResult([n](std::int64_t at) { RegexGroupName(0, n, at); }).view());
  };
  ASSERT_NE(RegexCreate(0, u"(?P<zeta>a)(b)(?'mid_1'c)(?<alpha>d)", 0), 0);
  EXPECT_EQ(name(1), u"zeta");  // the name table is sorted by name, not by number
  EXPECT_EQ(name(2), u"");
  EXPECT_EQ(name(3), u"mid_1");
  EXPECT_EQ(name(4), u"alpha");
  EXPECT_EQ(name(0), u"");
  EXPECT_EQ(name(5), u"");
  RegexFree(0);
  EXPECT_EQ(name(1), u"");
}

TEST(RegexCompile, HandlesLiveUntilFreedWithEveryOtherObject) {
  ObjectNumber first = RegexCreate(AnyHandle, u"a", 0);
  ObjectNumber second = RegexCreate(AnyHandle, u"b", 0);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  ASSERT_NE(RegexCreate(2, u"c", 0), 0);
  EXPECT_EQ(RegexIsValid(first), 1);
  EXPECT_EQ(Matches(second, u"abc"), 1);
  EXPECT_EQ(Matches(second, u"xyz"), 0);
  RegexFree(AnyHandle);
  EXPECT_EQ(RegexIsValid(first), 0);
  EXPECT_EQ(RegexIsValid(second), 0);
  EXPECT_EQ(RegexIsValid(2), 0);
  EXPECT_EQ(Matches(first, u"a"), 0);
}

TEST(RegexCompile, UnknownNumbersAreHarmless) {
  RegexFree(77);
  RegexFree(123456789);
  EXPECT_EQ(RegexIsValid(9), 0);
  EXPECT_EQ(RegexExamine(9, u"a"), 0);
  EXPECT_EQ(RegexNextMatch(9), 0);
  EXPECT_EQ(Matches(9, u"a"), 0);
  EXPECT_EQ(RegexLastError(9), 0);
  EXPECT_EQ(RegexMatchPosition(9), 0);
}

TEST(RegexOptions, CaseAndWordCharacters) {
  ASSERT_NE(RegexCreate(0, u"é", RegexCaseless), 0);
  EXPECT_EQ(Matches(0, u"É"), 1);
  ASSERT_NE(RegexCreate(0, u"é", 0), 0);
  EXPECT_EQ(Matches(0, u"É"), 0);
  ASSERT_NE(RegexCreate(0, u"\\w", 0), 0);
  EXPECT_EQ(Matches(0, u"é"), 0) << "\\w must keep its ASCII meaning";
  RegexFree(0);
}

TEST(RegexOptions, WhichLineEndsADotCrosses) {
  ASSERT_NE(RegexCreate(0, u"a.", 0), 0);
  EXPECT_EQ(Matches(0, u"a\r\n"), 1) << "only LF is a newline by default";
  EXPECT_EQ(Matches(0, u"a\n"), 0);
  ASSERT_NE(RegexCreate(0, u"a.", RegexNewlineAnyCrLf), 0);
  EXPECT_EQ(Matches(0, u"a\r\n"), 0);
  EXPECT_EQ(Matches(0, u"a\n"), 0);
  ASSERT_NE(RegexCreate(0, u"a.", RegexDotAll), 0);
  EXPECT_EQ(Matches(0, u"a\r"), 1);
  EXPECT_EQ(Matches(0, u"a\n"), 1);
  RegexFree(0);
}

TEST(RegexOptions, UnpairedSurrogateInPatternIsReplacementCharacter) {
  const char16_t pattern[] = {u'x', 0xD800, u'y', 0};
  ASSERT_NE(RegexCreate(0, pattern, 0), 0);
  EXPECT_EQ(Matches(0, u"x\uFFFDy"), 1);
  const char16_t subject[] = {u'x', 0xDC00, u'y', 0};
  EXPECT_EQ(Matches(0, subject), 1) << "an unpaired surrogate in the subject too";
  RegexFree(0);
}

}  // namespace
