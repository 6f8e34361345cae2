// Windows, the gadget list, shortcuts and the keyboard, on real widgets.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "ui_test_support.h"

using namespace ui_test;

namespace {

class WindowTest : public testing::Test {
 protected:
  void SetUp() override { panel_ = OpenEvaluatorLikeWindow(); }

  // The next queued event once Qt's pending events are handled, or 0.
  static int NextEvent() {
    QCoreApplication::processEvents();
    return NextQueuedEvent();
  }

  static void PressKey(ObjectNumber gadget, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(WidgetOf(gadget), key, modifiers);
  }

  ObjectNumber panel_ = 0;
};

TEST_F(WindowTest, GadgetsGoIntoTheTabAddedLastUntilTheListCloses) {
  auto* tabs = qobject_cast<QTabWidget*>(WidgetOf(panel_));
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(UiCountItems(panel_), 3);
  EXPECT_EQ(Text(UiGetItemText(panel_, 1, 0)), u"result");
  EXPECT_EQ(WidgetOf(PatternField)->parentWidget(), tabs->widget(0));
  EXPECT_EQ(WidgetOf(Results)->parentWidget(), tabs->widget(1));
  EXPECT_EQ(WidgetOf(Button)->parentWidget(), tabs->widget(2));
  UiCreateButton(9, 0, 0, 50, 20, u"after");
  EXPECT_EQ(WidgetOf(9)->parentWidget(), ui_objects::FindWindow(0));
  EXPECT_EQ(WidgetOf(PatternField)->geometry(), QRect(0, 30, 300, 100));
}

TEST_F(WindowTest, PanelStateIsTheFrontTab) {
  EXPECT_EQ(UiGetState(panel_), 0);
  UiSetState(panel_, 2);
  EXPECT_EQ(UiGetState(panel_), 2);
  EXPECT_TRUE(WidgetOf(Button)->isVisible());
  UiSetState(panel_, 7);  // no such tab: stays
  EXPECT_EQ(UiGetState(panel_), 2);
}

TEST_F(WindowTest, ClientSizeIsTheWindowsInnerSize) {
  EXPECT_EQ(UiWindowClientWidth(0), 800);
  EXPECT_EQ(UiWindowClientHeight(0), 600);
  EXPECT_EQ(UiWindowClientWidth(12), 0);  // no such window
}

TEST_F(WindowTest, MaximisedWindowFillsTheScreenAtOnce) {
  UiOpenWindow(0, UiIgnore, UiIgnore, UiIgnore, UiIgnore, u"big", WindowMaximised | WindowCentred);
  // Read right after opening, the client size is already that of the maximised window.
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  TopLevelWindow* window = ui_objects::FindWindow(0);
  EXPECT_EQ(window->frameGeometry(), available);
  EXPECT_EQ(UiWindowClientWidth(0), window->width());
  EXPECT_EQ(UiWindowClientHeight(0), window->height());
  EXPECT_GT(UiWindowClientWidth(0), available.width() * 9 / 10);
  EXPECT_EQ(ui_objects::FindWindow(0)->windowTitle(), QString("big"));
}

TEST_F(WindowTest, ReopeningAWindowNumberFreesItsGadgets) {
  UiSetText(PatternField, u"old");
  UiOpenWindow(0, 0, 0, 300, 200, u"again", 0);
  EXPECT_EQ(ui_objects::FindGadget(PatternField), nullptr);
  EXPECT_EQ(Text(UiGetText(PatternField)), u"");
  EXPECT_EQ(UiCountItems(Results), 0);
}

TEST_F(WindowTest, CloseButtonRaisesCloseEventAndTheWindowStaysOpen) {
  TopLevelWindow* window = ui_objects::FindWindow(0);
  EXPECT_FALSE(window->close());  // what the title bar's close button asks for
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(NextEvent(), CloseEvent);
  EXPECT_EQ(UiEventObject(), 0);
  EXPECT_EQ(UiEventWindow(), 0);
}

TEST_F(WindowTest, ButtonClickRaisesOneGadgetEventPerClickTaken) {
  UiSetState(panel_, 2);
  auto* button = qobject_cast<QPushButton*>(WidgetOf(Button));
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseClick(button, Qt::LeftButton);  // merged: the same event is still pending
  EXPECT_EQ(NextEvent(), GadgetEvent);
  EXPECT_EQ(UiEventObject(), Button);
  EXPECT_EQ(NextEvent(), 0);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(NextEvent(), GadgetEvent);
}

TEST_F(WindowTest, EnterInATextFieldRaisesMenuEvent102WithoutALineBreak) {
  UiAddShortcut(0, 0x0D, 102);
  UiSetText(PatternField, u"ab");
  UiSetFocus(PatternField);
  auto* edit = qobject_cast<QPlainTextEdit*>(WidgetOf(PatternField));
  edit->moveCursor(QTextCursor::End);
  PressKey(PatternField, Qt::Key_Return);
  PressKey(PatternField, Qt::Key_Enter);  // the keypad's Enter too
  EXPECT_EQ(Text(UiGetText(PatternField)), u"ab");
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 102);
}

TEST_F(WindowTest, ShiftEnterIsBoundApartFromEnter) {
  UiAddShortcut(0, 0x0D, 102);
  UiAddShortcut(0, 0x1000D, 106);
  UiSetFocus(InputField);
  PressKey(InputField, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 106);
  EXPECT_EQ(Text(UiGetText(InputField)), u"");
}

TEST_F(WindowTest, UnboundEnterStillBreaksTheLine) {
  UiSetFocus(InputField);
  QTest::keyClicks(WidgetOf(InputField), "a");
  PressKey(InputField, Qt::Key_Return);
  QTest::keyClicks(WidgetOf(InputField), "b");
  EXPECT_EQ(Text(UiGetText(InputField)), u"a\nb");
  EXPECT_EQ(NextEvent(), 0);
}

TEST_F(WindowTest, TabAndShiftTabMoveTheFocusAndInsertNothing) {
  UiSetFocus(PatternField);
  PressKey(PatternField, Qt::Key_Tab);
  EXPECT_EQ(UiFocusedGadget(), InputField);
  PressKey(InputField, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(UiFocusedGadget(), PatternField);
  EXPECT_EQ(Text(UiGetText(PatternField)), u"");
  EXPECT_EQ(Text(UiGetText(InputField)), u"");
  EXPECT_EQ(NextEvent(), 0);
}

TEST_F(WindowTest, AltLetterShortcutsFireBeforeTheFocusedGadget) {
  UiAddShortcut(0, 0x40050, 1);  // Alt+P
  UiAddShortcut(0, 0x4004F, 5);  // Alt+O
  UiAddShortcut(0, 0x70, 100);   // F1
  UiSetFocus(InputField);
  PressKey(InputField, Qt::Key_P, Qt::AltModifier);
  PressKey(InputField, Qt::Key_O, Qt::AltModifier);
  PressKey(InputField, Qt::Key_F1);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 1);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 5);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 100);
  EXPECT_EQ(Text(UiGetText(InputField)), u"");
}

TEST_F(WindowTest, BindingABoundKeyAgainReplacesItsEventNumber) {
  UiAddShortcut(0, 0x2004F, 103);  // Ctrl+O
  UiAddShortcut(0, 0x2004F, 104);
  UiAddShortcut(0, 0x09, 55);  // even the built-in Tab
  UiSetFocus(PatternField);
  PressKey(PatternField, Qt::Key_O, Qt::ControlModifier);
  PressKey(PatternField, Qt::Key_Tab);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 104);
  EXPECT_EQ(NextEvent(), MenuEvent);
  EXPECT_EQ(UiEventObject(), 55);
  EXPECT_EQ(NextEvent(), 0);
  EXPECT_EQ(UiFocusedGadget(), PatternField);
}

TEST_F(WindowTest, ShortcutWordsOfKeyEvents) {
  auto word = [](int key, Qt::KeyboardModifiers modifiers) {
    return ShortcutWordOf(QKeyEvent(QEvent::KeyPress, key, modifiers));
  };
  EXPECT_EQ(word(Qt::Key_B, Qt::ControlModifier), 0x20042);
  EXPECT_EQ(word(Qt::Key_S, Qt::AltModifier), 0x40053);
  EXPECT_EQ(word(Qt::Key_Escape, Qt::NoModifier), 0x1B);
  EXPECT_EQ(word(Qt::Key_F12, Qt::ShiftModifier), 0x1007B);
  EXPECT_EQ(word(Qt::Key_Backtab, Qt::NoModifier), 0x10009);
  EXPECT_EQ(word(Qt::Key_7, Qt::ControlModifier | Qt::AltModifier), 0x60037);
  EXPECT_EQ(word(Qt::Key_Shift, Qt::ShiftModifier), 0);
  EXPECT_NE(word(Qt::Key_Return, Qt::MetaModifier), 0x0D);
}

TEST_F(WindowTest, FocusQueryClimbsToTheGadgetAndMinusOneClearsIt) {
  UiSetFocus(Options);
  EXPECT_EQ(UiFocusedGadget(), Options);
  // The tab strip is an inner part of the panel.
  auto* tabs = qobject_cast<QTabWidget*>(WidgetOf(panel_));
  tabs->tabBar()->setFocus();
  EXPECT_EQ(UiFocusedGadget(), panel_);
  UiSetFocus(-1);
  EXPECT_EQ(UiFocusedGadget(), -1);
  UiSetFocus(40);  // no such gadget: nothing changes
  EXPECT_EQ(UiFocusedGadget(), -1);
}

}  // namespace
