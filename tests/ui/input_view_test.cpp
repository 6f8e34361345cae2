// The input view and the splitter it shares with a tree, on real widgets.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QFontMetrics>
#include <QSplitter>
#include <QTest>
#include <string>
#include <vector>

#include "ui_test_support.h"

using namespace ui_test;

namespace {

constexpr ObjectNumber Splitter = 20;
constexpr ObjectNumber Tree = 21;
constexpr ObjectNumber View = 22;

// The selection events queued so far, as the gadgets that raised them.
std::vector<ObjectNumber> SelectionEvents() {
  QCoreApplication::processEvents();
  std::vector<ObjectNumber> gadgets;
  while (const std::int32_t code = NextQueuedEvent()) {
    if (code == SelectionEvent) gadgets.push_back(UiEventObject());
  }
  return gadgets;
}

class InputViewTest : public testing::Test {
 protected:
  void SetUp() override {
    UiOpenWindow(0, 10, 10, 800, 600, u"test window", 0);
    const ObjectNumber panel = UiCreatePanel(AnyHandle, 0, 0, 800, 600);
    UiAddItem(panel, -1, u"result");
    UiCreateSplitter(Splitter, 0, 0, 780, 560);
    UiCreateTree(Tree, 0, 0, 100, 100);
    UiCreateInputView(View, 0, 0, 100, 100);
    UiCloseGadgetList();
    UiCreateButton(Button, 0, 0, 100, 30, u"after");
    UiCloseGadgetList();
    QCoreApplication::processEvents();
    SelectionEvents();
  }

  static QAbstractScrollArea* ScrollArea() {
    return WidgetOf(View)->findChild<QAbstractScrollArea*>();
  }
};

TEST_F(InputViewTest, TheSplitterHoldsTheTreeLeftOfTheViewAlsoOnceTheTreeIsRebuilt) {
  auto* splitter = qobject_cast<QSplitter*>(WidgetOf(Splitter));
  ASSERT_NE(splitter, nullptr);
  ASSERT_EQ(splitter->count(), 2);
  EXPECT_EQ(splitter->widget(0), WidgetOf(Tree));
  EXPECT_EQ(splitter->widget(1), WidgetOf(View));
  // Closing the splitter's gadget list went back to the panel's tab.
  EXPECT_EQ(WidgetOf(Button)->parentWidget(), splitter->parentWidget());

  // A cleared tree of more than 100,000 rows is a new view: it takes the old one's pane and
  // still tells its selection changes.
  std::vector<UiTreeItem> rows(100'001, UiTreeItem{u"r", 1, 0});
  ASSERT_EQ(UiAddItems(Tree, rows.data(), static_cast<std::int64_t>(rows.size())), 100'001);
  UiSetState(Tree, 100'000);
  QWidget* before = WidgetOf(Tree);
  UiClearItems(Tree);
  ASSERT_NE(WidgetOf(Tree), before);
  EXPECT_EQ(splitter->widget(0), WidgetOf(Tree));
  EXPECT_EQ(splitter->widget(1), WidgetOf(View));
  SelectionEvents();
  UiAddItem(Tree, -1, u"a");
  UiSetState(Tree, 0);
  EXPECT_EQ(SelectionEvents(), std::vector<ObjectNumber>{Tree});
}

TEST_F(InputViewTest, HighlightsScrollIntoViewAndAMouseDragSelectsBytes) {
  std::string text;
  for (int line = 0; line < 2000; ++line) text += "line \xC3\xA9 " + std::to_string(line) + "\n";
  const SharedUtf8 shared = ShareUtf8(text);
  UiSetViewText(View, shared);
  EXPECT_EQ(UiGetState(View), 0);

  const auto lineStart = static_cast<std::int64_t>(text.find("line \xC3\xA9 1500\n"));
  const std::vector<UiTextRange> shown{{lineStart, lineStart + 9}, {lineStart + 5, lineStart + 7}};
  UiSetViewHighlights(View, shown.data(), 2);
  std::vector<UiTextRange> read(4);
  ASSERT_EQ(UiGetViewHighlights(View, read.data(), 4), 2);
  read.resize(2);
  EXPECT_EQ(read, shown);
  const std::int64_t first = UiGetState(View);
  const qreal cell = QFontMetricsF(ScrollArea()->font()).horizontalAdvance(QLatin1Char('M'));
  const int lineHeight = ScrollArea()->fontMetrics().height();
  const std::int64_t visible = ScrollArea()->viewport()->height() / lineHeight;
  EXPECT_LE(first, 1500);
  EXPECT_GT(first + visible, 1500);

  // Dragging over the first shown line's first seven characters: "line é", 7 bytes.
  UiSetState(View, 10);
  QWidget* viewport = ScrollArea()->viewport();
  const int y = lineHeight / 2;
  QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(1, y));
  const QPoint end(static_cast<int>(6 * cell) + 1, y);
  QTest::mouseMove(viewport, end);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, end);
  const auto tenth = static_cast<std::int64_t>(text.find("line \xC3\xA9 10\n"));
  EXPECT_EQ(UiGetViewSelection(View), (UiTextRange{tenth, tenth + 7}));
  EXPECT_EQ(SelectionEvents(), std::vector<ObjectNumber>{View});

  // A new text clears what was shown and selected.
  UiSetViewText(View, ShareUtf8("short"));
  EXPECT_EQ(UiGetViewHighlights(View, nullptr, 0), 0);
  EXPECT_EQ(UiGetViewSelection(View), (UiTextRange{0, 0}));
  EXPECT_EQ(UiGetState(View), 0);
}

}  // namespace
