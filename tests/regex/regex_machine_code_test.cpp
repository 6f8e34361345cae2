// The machine code that PCRE's JIT makes of a pattern finds what the interpreter finds. A
// pattern that starts with (*UTF8), which changes nothing here (every pattern is UTF-8),
// is left to the interpreter, so each case is scanned both ways.
#include <pcre.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex_test_support.h"
#include "threads/threads.h"

namespace {

struct Found {
  std::int64_t position;
  std::int64_t length;
  std::u16string texts;  // the match's, then each group's, each closed by '|'
  bool operator==(const Found&) const = default;
};

struct Scan {
  bool machineCode = false;
  std::vector<Found> found;
  std::int64_t error = 0;
  bool operator==(const Scan&) const = default;
};

Scan ScanAll(const std::u16string& pattern, const std::u16string& subject, std::int32_t flags) {
  Scan scan;
  const ObjectNumber regex = RegexCreate(AnyHandle, pattern.c_str(), flags);
  EXPECT_NE(regex, 0) << std::string(pattern.begin(), pattern.end());
  scan.machineCode = RegexRunsMachineCode(regex) == 1;
  EXPECT_EQ(RegexExamine(regex, subject.c_str()), 1);
  for (std::int64_t more = RegexNextMatch(regex); more == 1 && scan.found.size() < 200;) {
    const TakenMatch match = TakeMatch(regex, RegexGroupCount(regex));
    Found found{match.position, match.length, match.text + u'|'};
    for (const std::u16string& group : match.groups) found.texts += group + u'|';
    scan.found.push_back(found);
    more = match.next;
  }
  scan.error = RegexLastError(regex);
  RegexFree(regex);
  return scan;
}

// Empty matches next to CR LF and to characters of two, three and four bytes, line anchors
// under every newline convention, \K, lookbehind, caseless matching beyond ASCII, groups
// that take no part, and a search after a match that needs more work than the searches a
// scan makes ahead in one call may take.
TEST(RegexMachineCode, FindsWhatTheInterpreterFinds) {
  const std::u16string subject =
      u"ab\r\n\r\nx\u00e9y \u20ac\U0001F600z\n\u00c9T\u00c9 \u00e9t\u00e9\r12 a1b\r\n"
      u"c aaaaaaaaaaaaaaaaa!b c";
  struct Case {
    const char16_t* pattern;
    std::int32_t flags;
  };
  for (const Case& c : {Case{u"", 0}, Case{u"x*", 0}, Case{u"$", RegexMultiline},
                        Case{u"^", RegexMultiline | RegexNewlineAnyCrLf},
                        Case{u"$", RegexMultiline | RegexNewlineAnyCrLf}, Case{u".", RegexDotAll},
                        Case{u".?", RegexNewlineAnyCrLf}, Case{u"\u00e9t\u00e9", RegexCaseless},
                        Case{u"\\w+", 0}, Case{u"a\\K\\d?", 0}, Case{u"(?<=\\r)\\n?", 0},
                        Case{u"(\\w)(\\d)?|(\\s)", 0}, Case{u"\\b", 0}, Case{u"(a+)+b|c", 0}}) {
    const Scan machine = ScanAll(c.pattern, subject, c.flags);
    const Scan interpreted = ScanAll(std::u16string(u"(*UTF8)") + c.pattern, subject, c.flags);
    EXPECT_TRUE(machine.machineCode);
    EXPECT_FALSE(interpreted.machineCode);
    EXPECT_FALSE(machine.found.empty());
    EXPECT_EQ(machine.found, interpreted.found) << std::string(c.pattern, c.pattern + 1);
    EXPECT_EQ(machine.error, interpreted.error);
  }
}

std::u16string Alternating(std::size_t length) {
  std::u16string text(length, u'a');
  for (std::size_t i = 1; i < length; i += 2) text[i] = u'b';
  return text;
}

// The machine code's own stack holds some 130,000 steps of (a|b)*, about as many as the
// interpreter takes on a worker's stack. Deeper, the search is the interpreter's: it ends
// with the interpreter's nesting failure, not with one of the machine code's own.
TEST(RegexMachineCode, TooDeepForItsOwnStackItEndsAsTheInterpreterDoes) {
  for (std::size_t length : {100'000, 200'000}) {
    const std::u16string subject = Alternating(length);
    Scan machine;
    Scan interpreted;
    RunOnThread([&] { machine = ScanAll(u"(a|b)*", subject, 0); }, WorkerStackSize);
    RunOnThread([&] { interpreted = ScanAll(u"(*UTF8)(a|b)*", subject, 0); }, WorkerStackSize);
    EXPECT_TRUE(machine.machineCode);
    interpreted.machineCode = true;
    EXPECT_EQ(machine, interpreted) << length;
    EXPECT_EQ(machine.error, length < 130'000 ? 0 : RegexErrorRecursionLimit);
  }
}

TEST(RegexMachineCode, ItsStackLimitReadsAsTheNestingFailure) {
  const String nesting =
      TakeResult([](std::int64_t at) { RegexFailureReason(RegexErrorRecursionLimit, at); });
  const String jitStack =
      TakeResult([](std::int64_t at) { RegexFailureReason(PCRE_ERROR_JIT_STACKLIMIT, at); });
  EXPECT_EQ(jitStack.view(), nesting.view());
  EXPECT_EQ(nesting.view(), u"the pattern nests too deeply for this input");
}

}  // namespace
