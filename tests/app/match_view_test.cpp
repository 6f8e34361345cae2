// The input view beside the result tree: the selected row's match and groups highlighted
// where they lie in the input, and a selection in the input leading back to its row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator_test_support.h"
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
  static void Settle() { RunLoopUntil([] { return true; }); }

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
  const std::u16string path = folder.Write(
      "input.txt", "\xC3\xA9\r\na\xC3\xB1" "b \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80x\nx");
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

}  // namespace
}  // namespace evaluator_test
