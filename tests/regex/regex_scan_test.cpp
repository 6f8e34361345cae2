#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "regex_object.h"
#include "regex_test_support.h"
#include "search_ahead.h"
#include "threads/threads.h"

namespace {

struct Found {
  std::u16string text;
  std::int64_t position;
  std::int64_t length;
  bool operator==(const Found&) const = default;
};

std::vector<Found> ScanAll(const char16_t* pattern, const char16_t* subject,
                           std::int32_t flags = 0) {
  std::vector<Found> found;
  EXPECT_NE(RegexCreate(0, pattern, flags), 0);
  EXPECT_EQ(RegexExamine(0, subject), 1);
  for (std::int64_t more = RegexNextMatch(0); more == 1 && found.size() < 100;) {
    TakenMatch match = TakeMatch(0);
    found.push_back({match.text, match.position, match.length});
    more = match.next;
  }
  return found;
}

TEST(RegexScan, SuccessiveMatches) {
  std::vector<Found> expected{{u"a", 2, 1}, {u"a", 4, 1}, {u"a", 6, 1}};
  EXPECT_EQ(ScanAll(u"a", u"banana"), expected);
}

TEST(RegexScan, EmptyMatchesAreReportedOnceEach) {
  std::vector<Found> boundaries{{u"", 1, 0}, {u"", 3, 0}, {u"", 4, 0}, {u"", 6, 0}};
  EXPECT_EQ(ScanAll(u"\\b", u"ab cd"), boundaries);
  std::vector<Found> end{{u"", 3, 0}};
  EXPECT_EQ(ScanAll(u"$", u"ab"), end);
}

TEST(RegexScan, EmptyMatchAdvancesByAWholeCharacter) {
  std::vector<Found> one{{u"", 1, 0}};
  EXPECT_EQ(ScanAll(u"x*", u"é"), one);
  std::vector<Found> astral{{u"", 1, 0}, {u"", 2, 0}};
  EXPECT_EQ(ScanAll(u"x*", u"\U0001F600a"), astral);
}

TEST(RegexScan, EmptySubjectIsNeverSearched) {
  ASSERT_NE(RegexCreate(0, u"x*", 0), 0);
  ASSERT_EQ(RegexExamine(0, u""), 1);
  EXPECT_EQ(RegexNextMatch(0), 0);
  ASSERT_EQ(RegexExamine(0, nullptr), 1);
  EXPECT_EQ(RegexNextMatch(0), 0);
}

TEST(RegexScan, PositionsCountCodePoints) {
  std::vector<Found> after{{u"b", 3, 1}};
  EXPECT_EQ(ScanAll(u"b", u"\U0001F600ab"), after);
  std::vector<Found> inside{{u"a\U0001F600b", 2, 3}};
  EXPECT_EQ(ScanAll(u"a.b", u"xa\U0001F600b"), inside);
  std::vector<Found> mixed{{u"d", 4, 1}, {u"d", 7, 1}};
  EXPECT_EQ(ScanAll(u"d", u"é\u20ACxdé\U00010000d"), mixed);
}

TEST(RegexScan, PositionsStayRightWhenReadOutOfOrder) {
  ASSERT_NE(RegexCreate(0, u"(b)", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"ébéébé"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexMatchPosition(0), 5);
  EXPECT_EQ(RegexMatchPosition(0), 5) << "a second reading counts nothing twice";
  ASSERT_EQ(RegexExamine(0, u"béb"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexMatchPosition(0), 1) << "a new subject restarts the count";
}

TEST(RegexScan, AfterTheLastMatchNothingIsCurrentAndExamineRestarts) {
  ASSERT_NE(RegexCreate(0, u"a", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"xa"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexNextMatch(0), 0);
  const TakenMatch none = TakeMatch(0);
  EXPECT_EQ(none.text, u"");
  EXPECT_EQ(none.position, 0);
  EXPECT_EQ(none.length, 0);
  EXPECT_EQ(RegexNextMatch(0), 0);
  ASSERT_EQ(RegexExamine(0, u"xa"), 1);
  EXPECT_EQ(TakeMatch(0).text, u"") << "examined, but no match yet";
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexMatchPosition(0), 2);
}

TEST(RegexScan, AssertionsThatEndBeforeTheScanPositionDoNotStallTheScan) {
  // \K in a lookbehind makes every search from position 1 report the same match again.
  std::vector<Found> found = ScanAll(u"(?<=\\Ka)", u"aa");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], (Found{u"a", 1, 1}));
  // Here the match starts after its end.
  EXPECT_LT(ScanAll(u"(?=ab\\K)", u"xabab").size(), 5u);
}

TEST(RegexGroups, MatchPositionsCountFromOne) {
  ASSERT_NE(RegexCreate(0, u"x(y)", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"axy"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexMatchPosition(0), 2);
  EXPECT_EQ(TakeMatch(0, 1).groups[0], u"y");
}

TEST(RegexGroups, UnsetAndOutOfRangeGroups) {
  ASSERT_NE(RegexCreate(0, u"(a)|(b)", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"b"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  const TakenMatch match = TakeMatch(0, 3);
  EXPECT_EQ(match.groups, (std::vector<std::u16string>{u"", u"b", u""}))
      << "group 1 took no part, group 3 does not exist";
}

TEST(RegexGroups, GroupTextsWithWideCharacters) {
  ASSERT_NE(RegexCreate(0, u"(\\S+) (\\S+)", 0), 0);
  ASSERT_EQ(RegexExamine(0, u"€ é\U0001F600ü x"), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  const TakenMatch match = TakeMatch(0, 2);
  EXPECT_EQ(match.groups[1], u"é\U0001F600ü");
  EXPECT_EQ(match.length, 5);
}

// The texts of a match are handed over in order, without the match's own when it is not
// wanted, also with unset, trailing unset and nonexistent groups; nothing without a current
// match.
TEST(RegexGroups, TextsOfAMatchInOrder) {
  const auto take = [](bool withMatch, std::int64_t lastGroup) {
    std::vector<std::u16string> texts;
    const auto keep = [](void* context, const char* bytes, std::int64_t length) {
      static_cast<std::vector<std::u16string>*>(context)->push_back(
          Utf8ToUtf16(std::string_view(bytes ? bytes : "", static_cast<std::size_t>(length))));
    };
    std::int64_t taken = 0;
    RegexTakeMatches(0, withMatch, lastGroup, keep, &texts, 1, 1 << 20, taken);
    return texts;
  };
  using Texts = std::vector<std::u16string>;
  const struct {
    const char16_t* pattern;
    const char16_t* subject;
    Texts texts;  // the match's, then those of its groups and two more
  } cases[] = {
      {u"(a)|(b)", u"b", {u"b", u"", u"b", u"", u""}},
      {u"(x)(y)?(z)?", u"x", {u"x", u"x", u"", u"", u"", u""}},
      {u"(\\S+) (\\S+)", u"€ é\U0001F600ü x", {u"€ é\U0001F600ü", u"€", u"é\U0001F600ü", u"", u""}},
      {u"", u"q", {u"", u"", u""}}};
  for (const auto& test : cases) {
    SCOPED_TRACE(&test - cases);
    ASSERT_NE(RegexCreate(0, test.pattern, 0), 0);
    const std::int64_t groups = RegexGroupCount(0);
    for (bool withMatch : {true, false}) {
      for (std::int64_t lastGroup : {groups, groups + 2}) {
        ASSERT_EQ(RegexExamine(0, test.subject), 1);
        ASSERT_EQ(RegexNextMatch(0), 1);
        const auto first = test.texts.begin() + (withMatch ? 0 : 1);
        EXPECT_EQ(take(withMatch, lastGroup), Texts(first, test.texts.begin() + lastGroup + 1))
            << withMatch << " " << lastGroup;
      }
    }
  }
  while (RegexNextMatch(0) == 1) {
  }
  EXPECT_EQ(take(true, 1), Texts{});
}

TEST(RegexLineEnds, MultilineEndsWithAnyNewline) {
  std::vector<Found> expected{{u"", 2, 0}, {u"", 3, 0}, {u"", 5, 0}};
  EXPECT_EQ(ScanAll(u"$", u"a\r\nb", RegexMultiline | RegexNewlineAnyCrLf), expected);
}

TEST(RegexLineEnds, MultilineStartsAfterEveryNewline) {
  std::vector<Found> expected{{u"a", 1, 1}, {u"b", 4, 1}, {u"c", 6, 1}};
  EXPECT_EQ(ScanAll(u"^\\w", u"a\r\nb\rc", RegexMultiline | RegexNewlineAnyCrLf), expected);
  std::vector<Found> onlyLf{{u"a", 1, 1}};
  EXPECT_EQ(ScanAll(u"^\\w", u"a\r\rb\rc", RegexMultiline), onlyLf);
}

}  // namespace

// A search given up for its length changes nothing: the one after it finds what an
// unlimited search would have found, at the same place.
TEST(RegexScan, ASearchGivenUpLeavesTheScanWhereItWas) {
  const std::u16string subject = u"c" + std::u16string(18, u'a') + u"c";
  ASSERT_NE(RegexCreate(0, u"(a+)+b|c", 0), 0);
  ASSERT_EQ(RegexExamine(0, subject.c_str()), 1);
  ASSERT_EQ(RegexNextMatch(0), 1);
  const TakenMatch first = TakeMatch(0, 0, 1000);
  EXPECT_EQ(first.text, u"c");
  EXPECT_EQ(first.next, -1);  // the a's take 2^18
  EXPECT_EQ(TakeMatch(0).text, u"") << "no match is current";
  EXPECT_EQ(RegexLastError(0), 0);
  ASSERT_EQ(RegexNextMatch(0), 1);
  const TakenMatch last = TakeMatch(0, 0, 1000);
  EXPECT_EQ(last.text, u"c");
  EXPECT_EQ(last.position, 20);
  EXPECT_EQ(last.next, 0);
}

// Matches taken in one call are handed over as they would be taken one by one, and the
// call stops where a scan searching with the same steps one match at a time would: at a
// search given up, after the most asked for (with the next match current), at the scan's end.
TEST(RegexScan, MatchesTakenInOneCallStopWhereTheScanWould) {
  const std::u16string subject = u"c1 c2 " + std::u16string(18, u'a') + u" c3 c4 c5";
  ASSERT_NE(RegexCreate(0, u"(a+)+b|(c)(\\d)", 0), 0);
  ASSERT_EQ(RegexExamine(0, subject.c_str()), 1);
  std::vector<std::string> texts;
  const auto keep = [](void* context, const char* bytes, std::int64_t length) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(bytes,
                                                                  static_cast<std::size_t>(length));
  };
  std::int64_t taken = -1;
  EXPECT_EQ(RegexTakeMatches(0, true, 3, keep, &texts, 10, 1000, taken), 0) << "none current";
  EXPECT_EQ(taken, 0);
  ASSERT_EQ(RegexNextMatch(0), 1);
  EXPECT_EQ(RegexTakeMatches(0, true, 3, keep, &texts, 10, 1000, taken), -1);  // the a's
  EXPECT_EQ(taken, 2);
  EXPECT_EQ(texts, (std::vector<std::string>{"c1", "", "c", "1", "c2", "", "c", "2"}));
  ASSERT_EQ(RegexNextMatch(0), 1);
  texts.clear();
  EXPECT_EQ(RegexTakeMatches(0, false, 3, keep, &texts, 2, 1000, taken), 1);
  EXPECT_EQ(taken, 2);
  EXPECT_EQ(RegexMatchPosition(0), 32) << "c5 is current";
  EXPECT_EQ(RegexTakeMatches(0, false, 3, keep, &texts, 10, 1000, taken), 0);
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(texts, (std::vector<std::string>{"", "c", "3", "", "c", "4", "", "c", "5"}));
  EXPECT_EQ(RegexLastError(0), 0);
}

struct ScanEnd {
  std::vector<Found> found;
  std::int64_t error = 0;
  bool operator==(const ScanEnd&) const = default;
};

enum class Helper { Finishes, IsStopped, Races };

// The whole scan of subject; with a fraction, a helper searches ahead from there, taking
// over parts of at least leastTakenOver bytes once done, and finishes, is stopped, or races
// the scan.
ScanEnd ScanWhole(const char16_t* pattern, const std::u16string& subject, double fraction = -1,
                  Helper helper = Helper::Finishes, std::int64_t leastTakenOver = 1 << 20) {
  ScanEnd end;
  EXPECT_NE(RegexCreate(0, pattern, 0), 0);
  EXPECT_EQ(RegexExamine(0, subject.c_str()), 1);
  if (fraction >= 0) {
    const std::int64_t thread = RegexSearchAhead(0, fraction, leastTakenOver);
    EXPECT_NE(thread, 0) << fraction;
    if (helper == Helper::IsStopped) ThreadKill(thread);
    while (helper != Helper::Races && ThreadIsRunning(thread)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (std::int64_t more = RegexNextMatch(0); more == 1;) {
    TakenMatch match = TakeMatch(0);
    end.found.push_back({match.text, match.position, match.length});
    more = match.next;
  }
  end.error = RegexLastError(0);
  return end;
}

// Findings of a stride that leaves room for few in a block, taken while more come and
// until the queue is empty twice: each comes back once, whole and in order.
TEST(RegexScan, FindingsComeBackInOrderAcrossBlocks) {
  FindingQueue queue;
  const std::size_t stride = 2 + 2 * 20000;  // 160 KB a finding: six in a block
  queue.SetStride(stride);
  std::vector<std::int32_t> offsets(stride - 2);
  std::int32_t pushed = 0;
  std::int32_t taken = 0;
  const auto push = [&](int count) {
    for (int i = 0; i < count; ++i, ++pushed) {
      offsets.front() = pushed * 3;
      offsets.back() = -pushed;
      ASSERT_TRUE(queue.Push(pushed, pushed % 5, offsets.data()));
    }
  };
  const auto take = [&](int count) {
    for (int i = 0; i < count; ++i, ++taken) {
      const std::int32_t* finding = queue.Front();
      ASSERT_NE(finding, nullptr);
      EXPECT_EQ(finding[0], taken);
      EXPECT_EQ(finding[1], taken % 5);
      EXPECT_EQ(finding[2], taken * 3);
      EXPECT_EQ(finding[stride - 1], -taken);
      queue.PopFront();
    }
  };
  push(14);
  take(9);
  push(3);
  take(8);
  EXPECT_EQ(queue.Front(), nullptr);
  EXPECT_EQ(queue.Values(), 0u);
  push(7);
  take(2);
  EXPECT_EQ(queue.Values(), 5 * stride);
  take(5);
  EXPECT_EQ(queue.Front(), nullptr);
}

// A scan that takes up what a helper found ahead finds exactly what it finds alone,
// wherever the helper starts: empty matches, lookbehind, \G, line anchors, characters of
// every width, a helper stopped at once or taking over parts of the scan's own, and a
// search that ends the scan with the match limit in the helper's part.
TEST(RegexScan, SearchingAheadFindsWhatTheScanFindsAlone) {
  std::u16string subject;
  for (int line = 0; line < 60; ++line) {
    subject += u"ab x\u00e9y \U0001F600" + std::u16string(line % 4, u'a') + u"b\n\n x" +
               std::u16string(line % 3, u'x') + u"y 12\n";
  }
  for (const char16_t* pattern :
       {u"\\w+", u"(?m)^\\w*", u"(?<=a)b*", u"\\Gx|y", u"", u"(\\d)(x)?", u"\u00e9|\U0001F600|$"}) {
    const ScanEnd alone = ScanWhole(pattern, subject);
    ASSERT_FALSE(alone.found.empty());
    for (double fraction : {0.0, 0.3, 0.5, 0.97}) {
      EXPECT_EQ(ScanWhole(pattern, subject, fraction), alone) << fraction;
    }
    EXPECT_EQ(ScanWhole(pattern, subject, 0.5, Helper::IsStopped), alone);
    // Done before the scan starts, the helper takes over ever smaller parts before its own.
    EXPECT_EQ(ScanWhole(pattern, subject, 0.5, Helper::Finishes, 8), alone);
    for (int round = 0; round < 20; ++round) {
      EXPECT_EQ(ScanWhole(pattern, subject, 0.6, Helper::Races, 8), alone) << round;
    }
  }
  const std::u16string limited = u"c\nc\n" + std::u16string(25, u'a') + u"c";
  const ScanEnd alone = ScanWhole(u"(a+)+b|c", limited);
  EXPECT_EQ(alone.error, RegexErrorMatchLimit);
  EXPECT_EQ(ScanWhole(u"(a+)+b|c", limited, 0.1), alone);
}

// Study adds start-up optimisations that can skip the positions where a backtracking verb
// would have ended the search. A pattern with a verb stays unstudied and reports what PCRE
// reports without study: the (*COMMIT) at the subject's start ends the whole search.
TEST(RegexStudy, PatternsWithControlVerbsStayUnstudiedWithTheSameResults) {
  ASSERT_NE(RegexCreate(0, u"(*COMMIT)(?:A|B)C", 0), 0);
  EXPECT_EQ(FindRegex(0)->studyData, nullptr);
  ASSERT_EQ(RegexExamine(0, u"xyzAC"), 1);
  EXPECT_EQ(RegexNextMatch(0), 0);

  ASSERT_NE(RegexCreate(0, u"(?:A|B)C", 0), 0);
  EXPECT_NE(FindRegex(0)->studyData, nullptr);
  ASSERT_EQ(RegexExamine(0, u"xyzAC BC"), 1);
  std::vector<std::int64_t> positions;
  while (RegexNextMatch(0) == 1) positions.push_back(RegexMatchPosition(0));
  EXPECT_EQ(positions, (std::vector<std::int64_t>{4, 7}));
  RegexFree(0);
  EXPECT_EQ(RegexIsValid(0), 0);
}
