// Contents of text fields, the check-box list, labels and the tree, on real widgets.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include "tree_model.h"

#include "ui_test_support.h"

using namespace ui_test;

namespace {

class GadgetTest : public testing::Test {
 protected:
  void SetUp() override { panel_ = OpenEvaluatorLikeWindow(); }

  static QTreeView* TreeView() { return qobject_cast<QTreeView*>(WidgetOf(Results)); }

  ObjectNumber panel_ = 0;
};

TEST_F(GadgetTest, TextFieldKeepsWhatWasSetWithLfLineBreaks) {
  const std::u16string text = u"a\u00a0b\tc\n\nline \U0001F600";
  UiSetText(InputField, text.c_str());
  EXPECT_EQ(Text(UiGetText(InputField)), text);  // the no-break space stays one
  UiSetText(InputField, u"one\r\ntwo");
  EXPECT_EQ(Text(UiGetText(InputField)), u"one\ntwo");
  UiSetText(InputField, nullptr);
  EXPECT_EQ(Text(UiGetText(InputField)), u"");
}

TEST_F(GadgetTest, TextFieldIsAnUnwrappedSunkenEditorWhoseTabMovesTheFocus) {
  auto* edit = qobject_cast<QPlainTextEdit*>(WidgetOf(PatternField));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(edit->tabChangesFocus());
  EXPECT_EQ(edit->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  UiCreateTextField(20, 0, 0, 50, 50, u"start", 0x20000);
  auto* plain = qobject_cast<QPlainTextEdit*>(WidgetOf(20));
  EXPECT_EQ(plain->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(plain->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Text(UiGetText(20)), u"start");
}

TEST_F(GadgetTest, LabelShowsItsTextAsTyped) {
  UiCreateLabel(21, 0, 0, 100, 20, u"a & b");
  auto* label = qobject_cast<QLabel*>(WidgetOf(21));
  EXPECT_EQ(label->text(), QString("a & b"));
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
}

TEST_F(GadgetTest, CheckListIsASingleSelectionListWithCheckedBits) {
  auto* list = qobject_cast<QTreeWidget*>(WidgetOf(Options));
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(list->isHeaderHidden());
  EXPECT_EQ(list->header()->sectionSize(0), 300);
  for (const char16_t* text : {u"process matches", u"process groups", u"case", u"dot"}) {
    UiAddItem(Options, -1, text);
    const std::int64_t index = UiCountItems(Options) - 1;
    if (index < 3) UiSetItemState(Options, index, 3);
    if (index >= 2) UiSetItemData(Options, index, index * 10);
  }
  UiSetState(Options, 0);
  EXPECT_EQ(UiCountItems(Options), 4);
  EXPECT_EQ(UiGetItemState(Options, 0), 3);  // selected and checked
  EXPECT_EQ(UiGetItemState(Options, 1), 2);  // checked; selecting 2 and 0 deselected it
  EXPECT_EQ(UiGetItemState(Options, 2), 2);
  EXPECT_EQ(UiGetItemState(Options, 3), 0);
  EXPECT_EQ(UiGetState(Options), 0);
  EXPECT_EQ(UiGetItemData(Options, 1), 0);
  EXPECT_EQ(UiGetItemData(Options, 3), 30);
  EXPECT_EQ(Text(UiGetItemText(Options, 1, 0)), u"process groups");
  EXPECT_EQ(Text(UiGetItemText(Options, 1, 1)), u"");
  EXPECT_EQ(Text(UiGetItemText(Options, 9, 0)), u"");
  EXPECT_EQ(list->selectedItems().size(), 1);
}

TEST_F(GadgetTest, CheckListStatesFollowTheUser) {
  UiAddItem(Options, -1, u"first");
  UiAddItem(Options, -1, u"second");
  UiAddItem(Options, 0, u"inserted");
  EXPECT_EQ(Text(UiGetItemText(Options, 0, 0)), u"inserted");
  auto* list = qobject_cast<QTreeWidget*>(WidgetOf(Options));
  list->topLevelItem(2)->setCheckState(0, Qt::Checked);  // as a click on its box does
  list->setCurrentItem(list->topLevelItem(1));
  EXPECT_EQ(UiGetItemState(Options, 2), 2);
  EXPECT_EQ(UiGetItemState(Options, 1), 1);
  EXPECT_EQ(UiGetState(Options), 1);
  UiSetItemState(Options, 2, 0);
  EXPECT_EQ(UiGetItemState(Options, 2), 0);
  UiClearItems(Options);
  EXPECT_EQ(UiCountItems(Options), 0);
  EXPECT_EQ(UiGetState(Options), -1);
}

TEST_F(GadgetTest, UnknownGadgetsAnswerNothing) {
  EXPECT_EQ(UiAddItem(33, -1, u"x"), 0);
  EXPECT_EQ(UiCountItems(33), 0);
  EXPECT_EQ(Text(UiGetText(33)), u"");
  EXPECT_EQ(UiGetItemData(33, 0), 0);
  EXPECT_EQ(UiAddItem(Label, -1, u"x"), 0);  // a label has no items
  UiSetText(33, u"nothing");
}

TEST_F(GadgetTest, TreeFedLevelsZeroOneOneZeroOneShowsTwoRootsWithTwoAndOneChildren) {
  ModelFailureCounter failures;
  QAbstractItemModelTester tester(TreeView()->model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  const std::int64_t levels[] = {0, 1, 1, 0, 1};
  for (int row = 0; row < 5; ++row) {
    const std::u16string text = u"row" + std::u16string(1, static_cast<char16_t>(u'0' + row));
    EXPECT_EQ(UiAddItem(Results, -1, text.c_str(), 0, levels[row]), 1);
  }
  EXPECT_EQ(UiCountItems(Results), 5);  // before the view has seen any of them
  EXPECT_EQ(Text(UiGetItemText(Results, 3, 0)), u"row3");
  QAbstractItemModel* model = TreeView()->model();
  ASSERT_TRUE(ProcessUntil([model] { return model->rowCount({}) == 2; }));
  const QModelIndex first = model->index(0, 0, {});
  const QModelIndex second = model->index(1, 0, {});
  EXPECT_EQ(model->rowCount(first), 2);
  EXPECT_EQ(model->rowCount(second), 1);
  EXPECT_EQ(model->index(1, 0, first).data().toString(), QString("row2"));
  EXPECT_EQ(model->index(0, 0, second).data().toString(), QString("row4"));
  EXPECT_EQ(model->parent(model->index(0, 0, second)), second);
  EXPECT_EQ(ModelFailureCounter::failures(), 0);
}

TEST_F(GadgetTest, TreeSelectionCountsRowsInTheOrderAdded) {
  UiAddItem(Results, -1, u"match", 0, 0);
  UiAddItem(Results, -1, u"group", 0, 1);
  UiAddItem(Results, -1, u"next", 0, 0);
  EXPECT_EQ(Text(UiGetText(Results)), u"");  // nothing selected yet
  UiSetState(Results, 1);                    // selects at once, published or not
  EXPECT_EQ(Text(UiGetText(Results)), u"group");
  EXPECT_EQ(UiGetState(Results), 1);
  EXPECT_TRUE(TreeView()->isExpanded(TreeView()->model()->index(0, 0, {})));
  UiSetState(Results, 3);
  EXPECT_EQ(Text(UiGetText(Results)), u"");
  EXPECT_EQ(UiGetState(Results), -1);
}

TEST_F(GadgetTest, TreeTextsReadBackAtMost4095Characters) {
  const std::u16string longText(5000, u'm');
  UiAddItem(Results, -1, longText.c_str());
  UiSetState(Results, 0);
  EXPECT_EQ(Text(UiGetText(Results)).size(), 4095u);
  EXPECT_EQ(Text(UiGetItemText(Results, 0, 0)), longText.substr(0, 4095));
  EXPECT_EQ(Text(UiGetItemText(Results, 1, 0)), u"");
  EXPECT_EQ(Text(UiGetItemText(Results, -1, 0)), u"");
}

TEST_F(GadgetTest, ClearingTheTreeEmptiesStoreAndView) {
  ModelFailureCounter failures;
  QAbstractItemModelTester tester(TreeView()->model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  for (int row = 0; row < 10; ++row) UiAddItem(Results, -1, u"r", 0, row % 2);
  UiSetState(Results, 4);
  UiClearItems(Results);
  EXPECT_EQ(UiCountItems(Results), 0);
  EXPECT_EQ(TreeView()->model()->rowCount({}), 0);
  EXPECT_EQ(Text(UiGetText(Results)), u"");
  UiAddItem(Results, -1, u"after", 0, 1);
  ASSERT_TRUE(ProcessUntil([] { return TreeView()->model()->rowCount({}) == 1; }));
  EXPECT_EQ(Text(UiGetItemText(Results, 0, 0)), u"after");
  EXPECT_EQ(ModelFailureCounter::failures(), 0);
}

// A big tree reaches the view in steps as the user gets to the end of what it shows; the
// keys work on what is shown, and each Ctrl+End or PgDn at the end brings more rows.
TEST_F(GadgetTest, KeysNavigateAndExpandATreeThatIsShownInSteps) {
  constexpr int Matches = 6000;  // 12,000 rows: more than one step of the view's feed
  ModelFailureCounter failures;
  QTreeView* view = TreeView();
  QAbstractItemModelTester tester(view->model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  for (int match = 0; match < Matches; ++match) {
    const std::u16string text = (u'm' + QString::number(match)).toStdU16String();
    UiAddItem(Results, -1, text.c_str(), 0, 0);
    UiAddItem(Results, -1, u"g", 0, 1);
  }
  UiSetState(panel_, 1);
  UiSetFocus(Results);
  QAbstractItemModel* model = view->model();
  ASSERT_TRUE(ProcessUntil([&] { return model->rowCount({}) > 0 && !model->canFetchMore({}); }));
  const int shownFirst = model->rowCount({});
  EXPECT_LT(shownFirst, Matches);  // only a first step is shown

  UiSetState(Results, 0);
  QTest::keyClick(view, Qt::Key_Right);  // expands the match row
  EXPECT_TRUE(view->isExpanded(model->index(0, 0, {})));
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(Text(UiGetText(Results)), u"g");
  QTest::keyClick(view, Qt::Key_Left);  // to the parent, then collapse it
  QTest::keyClick(view, Qt::Key_Left);
  EXPECT_EQ(Text(UiGetText(Results)), u"m0");
  EXPECT_FALSE(view->isExpanded(model->index(0, 0, {})));

  QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
  const std::u16string lastShown = u"m" + QString::number(shownFirst - 1).toStdU16String();
  EXPECT_EQ(Text(UiGetText(Results)), lastShown);
  // Being at the end, the view is shown the next step; End goes on from there.
  ASSERT_TRUE(ProcessUntil([&] { return model->rowCount({}) > shownFirst; }));
  for (int presses = 0; presses < 10 && model->rowCount({}) < Matches; ++presses) {
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    ProcessUntil([] { return false; }, 20);
  }
  EXPECT_EQ(model->rowCount({}), Matches);
  QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Text(UiGetText(Results)), (u'm' + QString::number(Matches - 1)).toStdU16String());
  QTest::keyClick(view, Qt::Key_PageUp);
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_EQ(UiGetState(Results), 0);
  // A row not shown yet is selected by its number all the same.
  UiClearItems(Results);
  for (int row = 0; row < 3 * static_cast<int>(TreeModel::FetchStep); ++row)
    UiAddItem(Results, -1, u"r", 0, 0);
  UiSetState(Results, 3 * static_cast<int>(TreeModel::FetchStep) - 1);
  EXPECT_EQ(UiGetState(Results), 3 * static_cast<int>(TreeModel::FetchStep) - 1);
  EXPECT_EQ(ModelFailureCounter::failures(), 0);
}

TEST_F(GadgetTest, ClearingABigTreeLeavesAWorkingTreeInItsPlace) {
  UiSetState(panel_, 1);
  for (int row = 0; row < 150000; ++row) UiAddItem(Results, -1, u"r", 0, row % 2);
  UiSetState(Results, 149999);  // the view has laid out every row
  UiSetFocus(Results);
  const QRect place = TreeView()->geometry();
  UiClearItems(Results);
  EXPECT_EQ(UiFocusedGadget(), Results);
  EXPECT_EQ(TreeView()->geometry(), place);
  EXPECT_TRUE(TreeView()->isVisible());
  EXPECT_EQ(TreeView()->model()->rowCount({}), 0);
  UiAddItem(Results, -1, u"after");
  UiSetState(Results, 0);
  EXPECT_EQ(Text(UiGetText(Results)), u"after");
  EXPECT_EQ(TreeView()->model()->rowCount({}), 1);
  // The fresh view is fed in steps as the user reaches its end, as the first one was.
  constexpr int More = 3 * static_cast<int>(TreeModel::FetchStep);
  for (int row = 0; row < More; ++row) UiAddItem(Results, -1, u"r");
  QAbstractItemModel* model = TreeView()->model();
  ASSERT_TRUE(ProcessUntil([&] { return model->rowCount({}) > 1 && !model->canFetchMore({}); }));
  const int shown = model->rowCount({});
  EXPECT_LT(shown, More + 1);
  for (int presses = 0; presses < 10 && model->rowCount({}) < More + 1; ++presses) {
    QTest::keyClick(TreeView(), Qt::Key_End, Qt::ControlModifier);
    ProcessUntil([] { return false; }, 20);
  }
  EXPECT_EQ(model->rowCount({}), More + 1);
}

}  // namespace
