#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>

#include "evaluator_test_support.h"
#include "startup_snapshot.h"
#include "state.h"
#include "threads/posted_events.h"
#include "ui/ui.h"

namespace evaluator_test {
namespace {

using evaluator::ColumnArea;
using evaluator::ColumnRect;

TEST(StartUpLayout, ColumnRuleOnAFullHdClientArea) {
  const std::vector<std::int64_t> mainX{0, 320, 640, 960, 1280, 1600};
  for (int column = 0; column < 6; ++column) {
    EXPECT_EQ(ColumnRect(1920, 1000, 6, column), (ColumnArea{mainX[column], 0, 315, 1000}));
  }
  EXPECT_EQ(ColumnRect(1920, 1000, 2, 0), (ColumnArea{0, 0, 955, 1000}));
  EXPECT_EQ(ColumnRect(1920, 1000, 2, 1), (ColumnArea{960, 0, 955, 1000}));
  const std::vector<std::int64_t> exportX{0, 174, 349, 523, 698};
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(ColumnRect(1920, 1000, 11, column), (ColumnArea{exportX[column], 0, 169, 1000}));
  }
}

TEST(StartUpLayout, GadgetsFillTheColumnsOfTheirTabsPageWideEnoughForTheirTexts) {
  const StartUpSnapshot& start = StartUpState();
  ASSERT_EQ(start.gadgetRects.size(), 14u);
  const std::int64_t panel = evaluator::State().mainPanel;
  const std::int64_t width = UiGadgetInnerWidth(panel);
  const std::int64_t height = UiGadgetInnerHeight(panel);
  struct Tab {
    std::int64_t first, last;
    int columns;
  };
  for (const Tab& tab : {Tab{0, 5, 6}, Tab{6, 7, 2}, Tab{8, 13, 11}}) {
    std::vector<std::int64_t> needed;
    for (std::int64_t gadget = tab.first; gadget <= tab.last; ++gadget) {
      needed.push_back(UiGadgetRequiredWidth(gadget));
    }
    const std::vector<ColumnArea> areas =
        evaluator::FittedColumns(width, height, tab.columns, needed);
    for (std::int64_t gadget = tab.first; gadget <= tab.last; ++gadget) {
      EXPECT_EQ(start.gadgetRects[gadget], areas[gadget - tab.first]) << gadget;
      EXPECT_GE(start.gadgetRects[gadget].width, needed[gadget - tab.first]) << gadget;
    }
  }
  // The options list needs more than a sixth of the offscreen screen's width.
  EXPECT_GT(UiGadgetRequiredWidth(evaluator::OptionsList), width / 6);
}

TEST(StartUpState, WindowOptionsAndFocusAreAsTheProgramLeavesThem) {
  const StartUpSnapshot& start = StartUpState();
  EXPECT_EQ(start.windowTitle, u"regular expression evaluator");
  EXPECT_TRUE(start.maximised);
  EXPECT_EQ(start.focused, evaluator::PatternField);
  EXPECT_EQ(start.frontTab, 0);
  EXPECT_EQ(start.optionTexts,
            (std::vector<std::u16string>{u"process matches", u"process groups",
                                         u"match as case-insensitive", u"match all newlines",
                                         u"match anything including newlines with . (dot)",
                                         u"match newlines with ^ and $"}));
  // The first three are ticked; single selection leaves only "process matches" selected.
  EXPECT_EQ(start.optionStates, (std::vector<std::int64_t>{3, 2, 2, 0, 0, 0}));
  EXPECT_EQ(start.optionData, (std::vector<std::int64_t>{0, 0, 1, 0x500000, 4, 2}));
  EXPECT_EQ(start.currentOption, 0);
}

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }
};

TEST_F(ShortcutTest, FocusShortcutsBringTheTabOfTheirGadgetToTheFront) {
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::int64_t gadget;
    std::int64_t tab;
  };
  // Each step starts from a tab other than the one of its gadget.
  const Step steps[] = {
      {Qt::Key_R, Qt::AltModifier, evaluator::ResultsTree, evaluator::ResultTab},
      {Qt::Key_P, Qt::AltModifier, evaluator::PatternField, evaluator::MainTab},
      {Qt::Key_S, Qt::ControlModifier, evaluator::ExportCommaButton, evaluator::ExportTab},
      {Qt::Key_S, Qt::AltModifier, evaluator::InputField, evaluator::MainTab},
      {Qt::Key_R, Qt::AltModifier, evaluator::ResultsTree, evaluator::ResultTab},
      {Qt::Key_O, Qt::AltModifier, evaluator::OptionsList, evaluator::MainTab},
  };
  for (const Step& step : steps) {
    Press(step.key, step.modifiers);
    EXPECT_TRUE(RunLoopUntil([&] { return UiFocusedGadget() == step.gadget; })) << step.gadget;
    EXPECT_EQ(UiGetState(evaluator::State().mainPanel), step.tab) << step.gadget;
    EXPECT_TRUE(WidgetOf(step.gadget)->isVisible()) << step.gadget;
  }
  EXPECT_TRUE(Modal().boxes.empty());
}

TEST(StartUpState, TheWindowShowsTheProgramsOwnIcon) {
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("regex-evaluator"));
  EXPECT_FALSE(WidgetOf(evaluator::PatternField)->window()->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(ShortcutTest, EnterInAFieldEvaluatesAndInsertsNoLineBreak) {
  QTest::keyClicks(WidgetOf(evaluator::PatternField), "x+");
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntilWorkerDone());
  EXPECT_EQ(std::u16string(UiGetText(evaluator::PatternField)), u"x+");
  // The input is empty, so the evaluation ends with the valid-pattern message.
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"ok");
}

}  // namespace
}  // namespace evaluator_test
