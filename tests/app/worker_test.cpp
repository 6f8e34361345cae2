#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "runtime/text_encoding.h"

#include "evaluator_test_support.h"
#include "state.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator_test {
namespace {

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }

  static void ExpectOneBox(const std::u16string& title, const std::u16string& text,
                           MessageIcon icon) {
    ASSERT_EQ(Modal().boxes.size(), 1u);
    EXPECT_EQ(Narrow(Modal().boxes[0].title), Narrow(title));
    EXPECT_EQ(Narrow(Modal().boxes[0].text), Narrow(text));
    EXPECT_EQ(Modal().boxes[0].icon, icon);
  }
};

TEST_F(WorkerTest, MatchesAndGroupsFillTheTreeAndTheResultList) {
  Evaluate(u"(a)(b)?", u"ab a");
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"ab", u"a", u"b", u"a", u"a", u""}));
  // ab with its two groups, a with its group, then the unset group's empty root row.
  EXPECT_EQ(RootChildCounts(), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(ResultRecords(),
            (std::vector<RecordTexts>{{u"ab", {u"a", u"b"}}, {u"a", {u"a", u""}}}));
  // The done event brought the result tab to the front with the first row selected.
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 1);
  EXPECT_EQ(UiFocusedGadget(), evaluator::ResultsTree);
  EXPECT_EQ(std::u16string(UiGetText(evaluator::ResultsTree)), u"ab");
}

// Characters beyond U+FFFF, CR LF, unset groups and group-less patterns in every mode: the
// rows and records come out as the worker has always made them, one record per match, and
// a record that never had a group reads as one with no groups.
TEST_F(WorkerTest, MixedCorpusGivesTheSameRowsAndRecordsInEveryMode) {
  const std::u16string input = u"\u00e9x \U0001F600\r\n\u00e9";
  const std::u16string pattern = u"(\u00e9|\U0001F600)(x)?";
  Evaluate(pattern, input);
  EXPECT_EQ(TreeRows(),
            (std::vector<std::u16string>{u"\u00e9x", u"\u00e9", u"x", u"\U0001F600", u"\U0001F600",
                                         u"", u"\u00e9", u"\u00e9", u""}));
  EXPECT_EQ(RootChildCounts(), (std::vector<int>{2, 1, 0, 1, 0}));
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"\u00e9x", {u"\u00e9", u"x"}},
                                                       {u"\U0001F600", {u"\U0001F600", u""}},
                                                       {u"\u00e9", {u"\u00e9", u""}}}));
  Evaluate(pattern, input, {.matches = true, .groups = false});
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"\u00e9x", u"\U0001F600", u"\u00e9"}));
  EXPECT_EQ(ResultRecords(),
            (std::vector<RecordTexts>{{u"\u00e9x", {}}, {u"\U0001F600", {}}, {u"\u00e9", {}}}));
  Evaluate(u"\\d+", u"a1\r\n22", {.matches = true, .groups = true});
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"1", u"22"}));
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"1", {}}, {u"22", {}}}));
  // The records of the evaluations before were handed to the worker, which released them.
  std::lock_guard guard(evaluator::State().retiredResultsLock);
  EXPECT_EQ(ListCount(evaluator::State().retiredResults), 0);
}

TEST_F(WorkerTest, OnlyGroupsPlacesEachRowByItsLevel) {
  Evaluate(u"(a)(b)?", u"ab a", {.matches = false, .groups = true});
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"a", u"b", u"a", u""}));
  // The first group row is a root (the tree was empty), b and a hang under it, and the
  // unset group is a root of its own.
  EXPECT_EQ(RootChildCounts(), (std::vector<int>{2, 0}));
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"", {u"a", u"b"}}, {u"", {u"a", u""}}}));
}

TEST_F(WorkerTest, NeitherOptionKeepsEmptyRecordsAndStillShowsTheResultTab) {
  UiSetState(evaluator::State().mainPanel, 2);
  Evaluate(u"(a)(b)?", u"ab a", {.matches = false, .groups = false});
  EXPECT_TRUE(TreeRows().empty());
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"", {}}, {u"", {}}}));
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 1);
}

TEST_F(WorkerTest, TickedOptionsBecomeCompileFlags) {
  Evaluate(u"A", u"a", {.caseInsensitive = true});
  EXPECT_EQ(TreeRows(), std::vector<std::u16string>{u"a"});
  ResetEvaluator();
  Evaluate(u"A", u"a", {.caseInsensitive = false});
  ExpectOneBox(u"error", u"no matches found", MessageIcon::Error);
  ResetEvaluator();
  UiSetItemState(evaluator::OptionsList, 5, 2);  // ^ and $ at every line
  Evaluate(u"^b$", u"a\nb\nc");
  EXPECT_EQ(TreeRows(), std::vector<std::u16string>{u"b"});
}

TEST_F(WorkerTest, EmptyInputReportsOnThePatternAlone) {
  Evaluate(u"a+", u"");
  ExpectOneBox(u"ok", u"pattern is valid", MessageIcon::Information);
  ResetEvaluator();
  Evaluate(u"(", u"");
  ExpectOneBox(u"error", u"missing )", MessageIcon::Error);
  EXPECT_TRUE(TreeRows().empty());
}

TEST_F(WorkerTest, ReferencedFilesAreReadWholeAndTheLastCharacterIsAlwaysDropped) {
  TemporaryFolder folder;
  folder.Write("lines.tx", "one 1\r\ntwo 22\nthree 333");
  // No closing ">": the path still loses its last character, naming lines.tx.
  Evaluate(u"\\d+", u"<file://" + folder.PathOf("lines.txt"));
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"1", u"22", u"333"}));
  EXPECT_EQ(evaluator::InputFilePath(), folder.PathOf("lines.tx"));

  ResetEvaluator();
  const std::u16string empty = folder.Write("empty.txt", "");
  Evaluate(u"x", u"<file://" + empty + u">");
  ExpectOneBox(u"ok", u"pattern is valid", MessageIcon::Information);
}

// A file's bytes go to the engine undecoded unless a sequence is broken; either way the
// rows and records are those of the text decoded, here with broken sequences on both
// sides of the first check slice and more matches than a batch holds.
TEST_F(WorkerTest, AFileGivesTheRowsOfItsDecodedTextBrokenSequencesIncluded) {
  const std::u16string r = u"\uFFFD";
  std::string bytes;
  std::vector<RecordTexts> expected;
  for (int i = 0; i < 700; ++i) {
    const std::u16string number = Utf8ToUtf16(std::to_string(i));
    const std::u16string accent = i % 3 ? u"\u00e9" : u"";
    bytes += "x" + std::to_string(i) + (i % 3 ? "\xC3\xA9 " : " ");
    expected.push_back({u"x" + number + accent, {number, accent}});
    if (i % 100 == 7) {
      // An encoded surrogate; an overlong form and a value above U+10FFFF; a cut-off one.
      bytes += "x\xED\xA0\x80 x\xC0\xAF\xF4\x90\x80\x80 x\xE2\x82 ";
      for (const std::u16string& broken : {r + r + r, r + r + r + r + r + r, r}) {
        expected.push_back({u"x" + broken, {u"", broken}});
      }
    }
    if (i == 350) bytes += std::string(300000, '-') + " ";
  }
  std::vector<std::u16string> rows;
  for (const RecordTexts& record : expected) {
    rows.push_back(record.m);
    rows.insert(rows.end(), record.g.begin(), record.g.end());
  }
  TemporaryFolder folder;
  Evaluate(u"x(\\d*)(\\S*)", u"<file://" + folder.Write("broken.txt", bytes) + u">");
  ASSERT_EQ(Modal().boxes.size(), 1u);  // the user learns what was replaced, and where
  EXPECT_NE(Modal().boxes[0].text.find(
                u"28 places could not be read as characters, the first at byte offset " +
                Utf8ToUtf16(std::to_string(bytes.find('\xED')))),
            std::u16string::npos);
  EXPECT_EQ(ResultRecords(), expected);
  EXPECT_EQ(TreeRows(), rows);
}

// A large input with few matches has a helper search its far part ahead of the worker:
// the rows are still every match in order.
TEST_F(WorkerTest, ALargeInputWithFewMatchesGivesEveryMatchInOrder) {
  std::string bytes;
  std::vector<std::u16string> rows;
  for (int line = 0; line < 120000; ++line) {
    bytes += "line " + std::to_string(line) + " of the log\n";
    if (line % 10 == 9 && line > 9) {
      rows.push_back(Utf8ToUtf16(std::to_string(line)));
      rows.push_back(Utf8ToUtf16(std::to_string(line / 10)));
    }
  }
  TemporaryFolder folder;
  Evaluate(u"(\\d+)9\\b", u"<file://" + folder.Write("large.txt", bytes) + u">");
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_NE(evaluator::State().searchThread.load(), 0);
  EXPECT_EQ(TreeRows(), rows);
}

TEST_F(WorkerTest, AFileThatCannotBeOpenedIsReportedByTheWorker) {
  Evaluate(u"x", u"<file://");
  ExpectOneBox(u"error", u"can't open ", MessageIcon::Error);
  ResetEvaluator();
  TemporaryFolder folder;
  const std::u16string missing = folder.PathOf("missing.txt");
  Evaluate(u"x", u"<file://" + missing + u">");
  ExpectOneBox(u"error", u"can't open " + missing, MessageIcon::Error);
  EXPECT_TRUE(TreeRows().empty());
}

TEST_F(WorkerTest, PatternThatExhaustsTheMatchLimitIsNotReportedAsNoMatch) {
  // Over 1000 characters PCRE no longer rules the match out by the missing "b" first.
  Evaluate(u"(a+)+b", std::u16string(2000, u'a'));
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"error");
  EXPECT_NE(Modal().boxes[0].text.find(u"could not be evaluated"), std::u16string::npos);
  EXPECT_NE(Modal().boxes[0].text.find(u"backtracking"), std::u16string::npos);
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Error);
}

TEST_F(WorkerTest, ScanCutShortKeepsItsResultsAndWarnsThatTheyAreIncomplete) {
  Evaluate(u"(a+)+b", u"ab" + std::u16string(2000, u'a'), {.matches = true, .groups = false});
  EXPECT_EQ(TreeRows(), std::vector<std::u16string>{u"ab"});
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Warning);
  EXPECT_NE(Modal().boxes[0].text.find(u"incomplete"), std::u16string::npos);
  // The warning came before the done event, which still showed the results.
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 1);
}

// The evaluation is taken from the window when Enter is handled: what is typed or ticked
// while the worker runs belongs to the next evaluation.
TEST_F(WorkerTest, EditsAfterEnterDoNotReachTheRunningEvaluation) {
  UiSetText(evaluator::PatternField, u"(b)");
  UiSetText(evaluator::InputField, u"abc");
  Press(Qt::Key_Return);
  RunLoopUntil([] { return true; });  // handles the key: the worker starts
  UiSetText(evaluator::PatternField, u"(c)");
  UiSetText(evaluator::InputField, u"ccc");
  UiSetItemState(evaluator::OptionsList, 1, 0);  // groups off
  ASSERT_TRUE(RunLoopUntilWorkerDone());
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"b", u"b"}));
}

// The process's control group has less room than a scan keeps free: the scan stops after
// its first stretch of results, keeps them in order and says why in the usual words.
TEST_F(WorkerTest, ResultsThatWouldOutgrowTheControlGroupStopTheScanAndKeepTheirRows) {
  std::u16string input;
  for (int repeat = 0; repeat < 20000; ++repeat) input += u"ab ";
  {
    const ControlGroupRoom room(std::int64_t{1} << 20);
    Evaluate(u"a(b)", input);
  }
  ExpectOneBox(u"incomplete",
               u"The results are incomplete: the scan stopped early because there was not "
               u"enough memory.",
               MessageIcon::Warning);
  const std::vector<RecordTexts> kept = ResultRecords();
  EXPECT_GE(kept.size(), 1u);
  EXPECT_LT(kept.size(), 20000u);
  EXPECT_EQ(kept, std::vector<RecordTexts>(kept.size(), RecordTexts{u"ab", {u"b"}}));
  EXPECT_EQ(TreeRows().size(), 2 * kept.size());
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 1);  // the done event still came

  // With room to spare the same scan keeps every match.
  ResetEvaluator();
  {
    const ControlGroupRoom room(std::int64_t{1} << 30);
    Evaluate(u"a(b)", input);
  }
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(ResultRecords().size(), 20000u);
}

// The first evaluation backtracks for minutes at every start position of its runs of "a",
// so it is still running, whatever the machine, when the second Enter comes.
TEST_F(WorkerTest, ASecondEnterWhileEvaluatingIsRefused) {
  std::u16string input;
  for (int repetition = 0; repetition < 1000; ++repetition)
    input += std::u16string(18, u'a') + u"!";
  UiSetText(evaluator::PatternField, u"(a+)+b");
  UiSetText(evaluator::InputField, input.c_str());
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntil([] { return ThreadIsRunning(evaluator::State().workerThread) == 1; }));
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntil([] { return !Modal().boxes.empty(); }));
  EXPECT_EQ(Modal().boxes[0].title, u"In progress");
  EXPECT_EQ(Modal().boxes[0].text, u"Evaluating is already in progress.");
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Warning);
}

}  // namespace
}  // namespace evaluator_test
