// The window a newcomer meets: its layout at smaller sizes, the status line and the keys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "evaluator_test_support.h"
#include "main_window.h"
#include "startup_snapshot.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "ui/widget_seam.h"

namespace evaluator_test {
namespace {

using evaluator::ColumnArea;
using evaluator::ColumnRect;
using evaluator::FittedColumns;

TEST(FittedColumns, EqualColumnsWhileEveryGadgetFitsItsShare) {
  const std::vector<ColumnArea> areas = FittedColumns(1920, 1000, 6, {50, 0, 50, 0, 50, 310});
  ASSERT_EQ(areas.size(), 6u);
  for (int column = 0; column < 6; ++column) {
    EXPECT_EQ(areas[column], ColumnRect(1920, 1000, 6, column)) << column;
  }
}

TEST(FittedColumns, AColumnTooNarrowTakesWhatItNeedsAndTheRestShareWhatIsLeft) {
  // 250 each at first; the second column needs 400, the other three share 595.
  EXPECT_EQ(FittedColumns(1000, 700, 4, {0, 400, 0, 0}),
            (std::vector<ColumnArea>{
                {0, 0, 193, 700}, {198, 0, 400, 700}, {603, 0, 193, 700}, {801, 0, 193, 700}}));
  // Fixing the first column (300) leaves the others 231 each, too little for the third (250).
  EXPECT_EQ(FittedColumns(1000, 700, 4, {300, 0, 250, 0}),
            (std::vector<ColumnArea>{
                {0, 0, 300, 700}, {305, 0, 215, 700}, {525, 0, 250, 700}, {780, 0, 215, 700}}));
  // Empty columns after the gadgets give up their room first; only the gadgets get areas.
  const std::vector<ColumnArea> buttons = FittedColumns(1000, 700, 11, {140, 150, 120, 80, 80});
  ASSERT_EQ(buttons.size(), 5u);
  for (std::size_t column = 0; column < buttons.size(); ++column) {
    EXPECT_EQ(buttons[column].width, (std::vector<std::int64_t>{140, 150, 120, 80, 80})[column]);
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }
  // The next tests find the window as large as start-up left it.
  void TearDown() override {
    const StartUpSnapshot& start = StartUpState();
    ResizeWindow(static_cast<int>(start.clientWidth),
                 static_cast<int>(start.clientHeight) + Window()->height() -
                     static_cast<int>(UiWindowClientHeight(evaluator::MainWindow)));
  }

  static QWidget* Window() { return UiWindowWidget(evaluator::MainWindow); }
  static QTabWidget* PanelWidget() {
    return static_cast<QTabWidget*>(UiGadgetWidget(evaluator::State().mainPanel));
  }
  static std::u16string Status(std::int64_t part = 0) {
    return UiGetStatusText(evaluator::MainWindow, part);
  }

  static void ResizeWindow(int width, int height) {
    Window()->showNormal();
    Window()->resize(width, height);
    ASSERT_TRUE(RunLoopUntil([] {
      return PanelWidget()->width() == UiWindowClientWidth(evaluator::MainWindow) &&
             PanelWidget()->height() == UiWindowClientHeight(evaluator::MainWindow);
    }));
    RunLoopUntil([] { return HasQueuedEvent() == 0; });
  }
};

// Every place where the window would show less than a whole text, or a gadget that ends
// outside the window.
std::vector<std::string> ClippedTexts() {
  std::vector<std::string> clipped;
  auto note = [&](const QString& what) { clipped.push_back(what.toStdString()); };
  QWidget* window = UiWindowWidget(evaluator::MainWindow);
  for (std::int64_t gadget = evaluator::PatternLabel; gadget <= evaluator::ExportCsvTableButton;
       ++gadget) {
    QWidget* widget = UiGadgetWidget(gadget);
    const QRect inPage = UiGadgetWidget(evaluator::ColumnHolder(gadget))->geometry();
    const std::int64_t panel = evaluator::State().mainPanel;
    const QRect page(0, 0, static_cast<int>(UiGadgetInnerWidth(panel)),
                     static_cast<int>(UiGadgetInnerHeight(panel)));
    if (!page.contains(inPage)) note(QStringLiteral("gadget %1 leaves its page").arg(gadget));
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width()) {
        note(QStringLiteral("label ") + label->text());
      }
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      if (button->sizeHint().width() > button->width()) {
        note(QStringLiteral("button ") + button->text());
      }
    }
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
      const int shown = std::min(list->viewport()->width(), list->header()->sectionSize(0));
      for (int row = 0; row < list->topLevelItemCount(); ++row) {
        const QModelIndex index = list->model()->index(row, 0);
        if (list->sizeHintForIndex(index).width() > shown) {
          note(QStringLiteral("option ") + index.data().toString());
        }
      }
    }
  }
  const QTabBar* tabs =
      static_cast<QTabWidget*>(UiGadgetWidget(evaluator::State().mainPanel))->tabBar();
  for (int tab = 0; tab < tabs->count(); ++tab) {
    if (tabs->fontMetrics().horizontalAdvance(tabs->tabText(tab)) > tabs->tabRect(tab).width()) {
      note(QStringLiteral("tab ") + tabs->tabText(tab));
    }
  }
  for (const QLabel* part : window->findChild<QStatusBar*>()->findChildren<QLabel*>()) {
    if (part->fontMetrics().horizontalAdvance(part->text()) > part->contentsRect().width()) {
      note(QStringLiteral("status ") + part->text());
    }
  }
  return clipped;
}

TEST_F(WindowTest, EveryTextIsShownInFullFromTheSmallestSupportedSizeUpAndResizingLaysOutAgain) {
  for (const QSize size : {QSize(1024, 700), QSize(1280, 720), QSize(1920, 1050)}) {
    ResizeWindow(size.width(), size.height());
    EXPECT_EQ(ClippedTexts(), std::vector<std::string>()) << size.width() << "x" << size.height();
    // The options list ends at the page's right edge, neither past it nor far before it.
    const QWidget* options = UiGadgetWidget(evaluator::OptionsList);
    EXPECT_GT(options->geometry().right(), options->parentWidget()->width() - 12) << size.width();
  }
}

TEST_F(WindowTest, TheStatusLineSitsBelowTheTabsAndEndsWithTheCountAndTheTime) {
  const QWidget* status = Window()->findChild<QStatusBar*>();
  EXPECT_GE(status->geometry().top(), PanelWidget()->geometry().bottom());
  EXPECT_EQ(status->geometry().bottom(), Window()->height() - 1);

  Evaluate(u"(\\w)(\\w*)", u"one two three");
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^3 matches in \\d+\\.\\d\\d s$"))
                  .match(QString::fromStdU16String(Status()))
                  .hasMatch())
      << Narrow(Status());
  Evaluate(u"x", u"x");
  EXPECT_TRUE(Status().starts_with(u"1 match in ")) << Narrow(Status());
  // An evaluation that ends with a message leaves no progress behind.
  Evaluate(u"x", u"none here");
  RunLoopUntil([] { return Status().empty(); }, 2000);
  EXPECT_EQ(Status(), u"");
}

TEST_F(WindowTest, WhileAFileIsReadTheStatusLineShowsTheBytesReadSoFar) {
  TemporaryFolder folder;
  const std::u16string fifo = folder.PathOf("slow-input");
  const std::string fifoPath = Narrow(fifo);
  ASSERT_EQ(mkfifo(fifoPath.c_str(), 0600), 0);
  std::atomic<bool> release{false};
  std::thread writer([&] {
    std::ofstream out(fifoPath, std::ios::binary);
    out << std::string(1 << 20, 'a') << std::flush;
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out << "b";
  });
  const std::u16string reference = u"<file://" + fifo + u">";
  UiSetText(evaluator::PatternField, u"b");
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetFocus(evaluator::PatternField);
  Press(Qt::Key_Return);
  // A pipe tells no size, so there is no total to show.
  const bool shown = RunLoopUntil([] { return Status().starts_with(u"reading: 1.0 MB, "); }, 10000);
  release.store(true);
  writer.join();
  EXPECT_TRUE(shown) << Narrow(Status());
  ASSERT_TRUE(RunLoopUntilWorkerDone());
  EXPECT_TRUE(Status().starts_with(u"1 match in ")) << Narrow(Status());
}

TEST_F(WindowTest, EnterOnAnExportButtonPressesItInsteadOfEvaluating) {
  Evaluate(u"\\w+", u"one two");
  const std::int64_t evaluated = evaluator::State().workerThread;
  Modal().chosenFile = u"";  // the chooser is cancelled: only that it opened matters
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(RunLoopUntil([] { return UiFocusedGadget() == evaluator::ExportCommaButton; }));
  Press(Qt::Key_Tab);
  ASSERT_TRUE(RunLoopUntil([] { return UiFocusedGadget() == evaluator::ExportNewlineButton; }));
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntil([] { return !Modal().choosers.empty(); }));
  EXPECT_TRUE(Modal().choosers[0].save);
  EXPECT_EQ(evaluator::State().workerThread, evaluated);  // no evaluation was started
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"one", u"two"}));
  EXPECT_TRUE(Modal().boxes.empty());
}

TEST_F(WindowTest, EveryShortcutIsNamedInTheTooltipsOfTheGadgetsItActsOn) {
  QString shown;
  for (std::int64_t gadget = evaluator::PatternLabel; gadget <= evaluator::ExportCsvTableButton;
       ++gadget) {
    shown += QLatin1Char('\n') + UiGadgetWidget(gadget)->toolTip();
  }
  for (const char* keys : {"Alt+P", "Alt+S", "Alt+O", "Alt+R", "Ctrl+S", "Ctrl+B", "Ctrl+O",
                           "Shift+Enter", "Esc", "Enter", "F1"}) {
    EXPECT_TRUE(shown.contains(QLatin1String(keys))) << keys;
  }
}

}  // namespace
}  // namespace evaluator_test
