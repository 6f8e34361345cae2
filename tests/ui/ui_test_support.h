// Helpers shared by the UI layer's tests: a window laid out like the evaluator's, event
// processing with a deadline, and access to the widgets behind gadget numbers.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <functional>
#include <string>

#include "threads/posted_events.h"
#include "ui/ui.h"
#include "ui_objects.h"
#include "window.h"

namespace ui_test {

inline constexpr ObjectNumber Label = 0;
inline constexpr ObjectNumber PatternField = 1;
inline constexpr ObjectNumber InputField = 3;
inline constexpr ObjectNumber Options = 5;
inline constexpr ObjectNumber Results = 7;
inline constexpr ObjectNumber Button = 8;

// Processes Qt events until condition holds or timeoutMs passed; whether it holds.
inline bool ProcessUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  QElapsedTimer waited;
  waited.start();
  while (!condition()) {
    if (waited.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

inline void DrainQueuedEvents() {
  QCoreApplication::processEvents();
  while (NextQueuedEvent() != 0) {
  }
}

// Window 0 (opening it again frees the previous one with its gadgets) with a panel of three
// tabs: label 0, fields 1 and 3 and check list 5 on "main", tree 7 on "result", button 8
// on "export". The panel's handle is returned.
inline ObjectNumber OpenEvaluatorLikeWindow() {
  UiOpenWindow(0, 10, 10, 800, 600, u"test window", 0);
  const ObjectNumber panel = UiCreatePanel(AnyHandle, 0, 0, 800, 600);
  UiAddItem(panel, -1, u"main");
  UiCreateLabel(Label, 0, 0, 100, 20, u"pattern");
  UiCreateTextField(PatternField, 0, 30, 300, 100, u"", 0x2000C7);
  UiCreateTextField(InputField, 0, 140, 300, 100, u"", 0x2000C7);
  UiCreateCheckList(Options, 320, 0, 300, 200, u"", 300, 1);
  UiAddItem(panel, -1, u"result");
  UiCreateTree(Results, 0, 0, 700, 500);
  UiAddItem(panel, -1, u"export");
  UiCreateButton(Button, 0, 0, 100, 30, u"json");
  UiCloseGadgetList();
  TopLevelWindow* window = ui_objects::FindWindow(0);
  window->activateWindow();
  ProcessUntil([window] { return QApplication::activeWindow() == window; }, 2000);
  DrainQueuedEvents();
  return panel;
}

inline QWidget* WidgetOf(ObjectNumber gadget) {
  Gadget* found = ui_objects::FindGadget(gadget);
  return found ? found->Widget() : nullptr;
}

inline std::u16string Text(const char16_t* text) { return text ? std::u16string(text) : u""; }

// Counts the failures a QAbstractItemModelTester reports (as warnings) while it lives.
class ModelFailureCounter {
 public:
  ModelFailureCounter() : previous_(qInstallMessageHandler(Count)) { failures() = 0; }
  ~ModelFailureCounter() { qInstallMessageHandler(previous_); }
  ModelFailureCounter(const ModelFailureCounter&) = delete;
  ModelFailureCounter& operator=(const ModelFailureCounter&) = delete;
  static int& failures() {
    static int count = 0;
    return count;
  }

 private:
  static void Count(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.contains(QLatin1String("FAIL"))) ++failures();
  }
  QtMessageHandler previous_;
};

}  // namespace ui_test
