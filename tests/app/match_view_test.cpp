// The input view beside the result tree: the selected row's match and groups highlighted
// where they lie in the input, and a selection in the input leading back to its row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator_test_support.h"
#include "match_places.h"
#include "status_line.h"
#include "ui/ui.h"

namespace evaluator_test {
namespace {

using evaluator::InputView;
using evaluator::ResultsTree;

class MatchViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }

  // Handles what the last change queued (the selection events).
  static void Settle() {
    RunLoopUntil([] { return true; });
  }

  static std::vector<UiTextRange> Highlights() {
    std::vector<UiTextRange> ranges(16);
    ranges.resize(static_cast<std::size_t>(UiGetViewHighlights(InputView, ranges.data(), 16)));
    return ranges;
  }

  static std::string Caption() { return Narrow(UiGetText(InputView)); }
};

TEST_F(MatchViewTest, TheSelectedRowsMatchAndGroupsAreHighlightedWhereTheyLie) {
  // Bytes: "x " 0-1, "ab@cd" 2-6, " " 7, "ef@" 8-10, then group 2 unset.
  Evaluate(u"(\\w+)@(\\w+)?", u"x ab@cd ef@");
  Settle();
  // The done event selects the first row: its match and both groups.
  EXPECT_EQ(Highlights(), (std::vector<UiTextRange>{{2, 7}, {2, 4}, {5, 7}}));
  EXPECT_EQ(Caption(), "line 1, column 3, byte 2");

  // A group row of the second match shows that whole match; the unset group shows nothing.
  UiSetState(ResultsTree, 4);
  Settle();
  EXPECT_EQ(Highlights(), (std::vector<UiTextRange>{{8, 11}, {8, 10}, {-1, -1}}));
  EXPECT_EQ(Caption(), "line 1, column 9, byte 8");

  UiSetState(ResultsTree, -1);
  Settle();
  EXPECT_TRUE(Highlights().empty());
  EXPECT_EQ(Caption(), "");
}

TEST_F(MatchViewTest, SelectingTextInTheInputSelectsTheRowOfItsMatch) {
  Evaluate(u"(\\w)\\w*", u"one two three");
  Settle();
  // Inside "three" (bytes 8-12): its match row, the fifth row after two matches of two rows.
  UiSetViewSelection(InputView, {9, 11});
  Settle();
  EXPECT_EQ(UiGetState(ResultsTree), 4);
  EXPECT_EQ(Highlights().front(), (UiTextRange{8, 13}));
  // A click in "two" and a selection from the blank before it both find "two".
  UiSetViewSelection(InputView, {5, 5});
  Settle();
  EXPECT_EQ(UiGetState(ResultsTree), 2);
  UiSetState(ResultsTree, 0);
  UiSetViewSelection(InputView, {3, 6});
  Settle();
  EXPECT_EQ(UiGetState(ResultsTree), 2);
  // Where no match lies, the selected row stays.
  UiSetViewSelection(InputView, {7, 8});
  Settle();
  EXPECT_EQ(UiGetState(ResultsTree), 2);
  // Only groups shown: the match's group row is its first row.
  Evaluate(u"(\\w)\\w*", u"one two three", {.matches = false});
  Settle();
  UiSetViewSelection(InputView, {9, 9});
  Settle();
  EXPECT_EQ(UiGetState(ResultsTree), 2);
}

TEST_F(MatchViewTest, AFileWithMultibyteCharactersGivesLineColumnAndByte) {
  TemporaryFolder folder;
  // é is 2 bytes, ñ and ü 2, € 3, the emoji 4 and one character.
  const std::u16string path = folder.Write("input.txt",
                                           "\xC3\xA9\r\na\xC3\xB1"
                                           "b \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80x\nx");
  Evaluate(u"x", u"<file://" + path + u">");
  Settle();
  EXPECT_EQ(Highlights(), (std::vector<UiTextRange>{{18, 19}}));
  EXPECT_EQ(Caption(), "line 2, column 8, byte 18");
  EXPECT_EQ(Narrow(UiGetStatusText(evaluator::MainWindow, evaluator::PositionPart)), Caption());
  UiSetState(ResultsTree, 1);
  Settle();
  EXPECT_EQ(Caption(), "line 3, column 1, byte 20");
  UiSetState(ResultsTree, 0);  // back up: the lines are counted back
  Settle();
  EXPECT_EQ(Caption(), "line 2, column 8, byte 18");
  // A new evaluation lets the file go: nothing is shown before its rows are.
  Evaluate(u"nothing", u"<file://" + path + u">");
  Settle();
  EXPECT_TRUE(Highlights().empty());
  EXPECT_EQ(Caption(), "");
}

// The places are kept as differences in variable-length numbers, decoded from a checkpoint
// every few dozen matches: every match must come back exactly, across checkpoints and
// with the offsets the engine can give (unset groups, nested groups, a start past the end,
// far offsets).
TEST(MatchPlaces, EveryMatchComesBackAsAppendedAndIsFoundByItsPlace) {
  evaluator::MatchPlaces places;
  places.Begin({}, true, 2);
  std::vector<std::int64_t> appended;
  for (std::int64_t match = 0; match < 300; ++match) {
    const std::int64_t start = match * 1000 + (match > 200 ? 3'000'000'000 : 0);
    std::vector<std::int64_t> offsets{start, start + match % 7, start + 1, start + 2, -1, -1};
    if (match % 5 == 0) offsets = {start, start + 3, start, start, start + 2, start + 200};
    if (match % 11 == 0)
      offsets = {start, start + 5, start, start + 5, start + 1, start + 2};    // nested
    if (match == 150) offsets = {start + 2, start, -1, -1, start, start + 2};  // \K in a lookahead
    appended.insert(appended.end(), offsets.begin(), offsets.end());
  }
  // In batches of uneven size, as the store hands them over.
  const std::span<const std::int64_t> all(appended);
  ASSERT_TRUE(places.Append(all.first(600)));
  ASSERT_TRUE(places.Append(all.subspan(600, 6)));
  ASSERT_TRUE(places.Append(all.subspan(606)));
  ASSERT_EQ(places.Count(), 300);
  for (std::int64_t match = 0; match < 300; ++match) {
    const std::int64_t* offsets = appended.data() + 6 * match;
    EXPECT_EQ(places.Ranges(match),
              (std::vector<UiTextRange>{
                  {offsets[0], offsets[1]}, {offsets[2], offsets[3]}, {offsets[4], offsets[5]}}))
        << "match " << match;
  }
  EXPECT_TRUE(places.Ranges(300).empty());
  EXPECT_TRUE(places.Ranges(-1).empty());
  // Three rows a match: the match and its two groups.
  EXPECT_EQ(places.MatchOfRow(3 * 299 + 2), 299);
  EXPECT_EQ(places.MatchOfRow(3 * 300), -1);
  EXPECT_EQ(places.FirstRowOf(70), 210);
  // At the empty match 7, inside 70 and 71, in the gap before 72 (nothing), a selection
  // reaching into 72; far out, past the big jump.
  EXPECT_EQ(places.Covering({7000, 7000}), 7);
  EXPECT_EQ(places.Covering({70001, 70001}), 70);
  EXPECT_EQ(places.Covering({71000, 71000}), 71);
  EXPECT_EQ(places.Covering({71500, 71600}), -1);
  EXPECT_EQ(places.Covering({71500, 72001}), 72);
  EXPECT_EQ(places.Covering({3'000'250'001, 3'000'250'001}), 250);
  EXPECT_GT(places.Bytes(), 0);
  EXPECT_LT(places.Bytes(), 300 * 6 * 4);  // smaller than 32-bit words would be
  places.Clear();
  EXPECT_EQ(places.Count(), 0);
  EXPECT_EQ(places.Bytes(), 0);
}

}  // namespace
}  // namespace evaluator_test
