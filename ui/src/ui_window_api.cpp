// Start-up, windows, gadget creation, shortcuts and the event wait.
#include "ui/ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <memory>

#include "gadgets.h"
#include "text.h"
#include "threads/posted_events.h"
#include "ui_objects.h"
#include "ui_thread.h"
#include "window.h"

namespace {

std::unique_ptr<QApplication> ownedApplication;

constexpr int ShowTimeoutMilliseconds = 1000;
constexpr int AnswerIntervalMilliseconds = 5;

QApplication* MakeApplication() {
  static int argc = 1;
  static char name[] = "regex-evaluator";
  static char* argv[] = {name, nullptr};
  ownedApplication = std::make_unique<QApplication>(argc, argv);
  return ownedApplication.get();
}

// The caller reads the client size right after opening; give the platform (and a window
// manager that maximises) a moment to settle it first.
void WaitUntilShown(QWidget* window) {
  QElapsedTimer waited;
  waited.start();
  while (!(window->windowHandle() && window->windowHandle()->isExposed()) &&
         waited.elapsed() < ShowTimeoutMilliseconds) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    QThread::msleep(5);
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ShowWindow(QWidget* window, const GadgetRect& rect, std::int64_t flags) {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  if (flags & WindowMaximised) {
    // Filled from the start, also where no window manager maximises it.
    window->setGeometry(available);
    window->showMaximized();
    return WaitUntilShown(window);
  }
  QSize size = window->size();
  if (rect.width != UiIgnore) size.setWidth(static_cast<int>(rect.width));
  if (rect.height != UiIgnore) size.setHeight(static_cast<int>(rect.height));
  window->resize(size);
  if (flags & WindowCentred) {
    window->move(available.center() - QPoint(size.width() / 2, size.height() / 2));
  } else if (rect.x != UiIgnore && rect.y != UiIgnore) {
    window->move(static_cast<int>(rect.x), static_cast<int>(rect.y));
  }
  window->show();
  WaitUntilShown(window);
}

using GadgetMaker = std::function<std::unique_ptr<Gadget>(ObjectNumber, const GadgetPlace&)>;

// Gadgets go where the open gadget list says, looked up only once an older gadget of the
// same number (perhaps the very panel tab the list points into) is gone.
ObjectNumber CreateGadget(ObjectNumber number, const GadgetRect& rect, const GadgetMaker& make,
                          ObjectNumber* known = nullptr) {
  return ui_thread::Call<ObjectNumber>(0, [=] {
    return ui_objects::AddGadget(number, [&](ObjectNumber assigned) -> std::unique_ptr<Gadget> {
      const GadgetPlace place = gadget_list::Current();
      if (!place.parent) return nullptr;
      std::unique_ptr<Gadget> gadget = make(assigned, place);
      PlaceWidget(gadget->Widget(), rect);
      if (known) *known = assigned;
      return gadget;
    });
  });
}

}  // namespace

void UiInit() {
  if (!QApplication::instance()) MakeApplication();
  ui_objects::CreateTables();
  ui_thread::Start();
  InstallShortcutFilter();
}

void UiEnd() {
  if (!ui_thread::IsUiThread()) return;
  ui_objects::FreeAll();
  RemoveShortcutFilter();
  ui_thread::Stop();
  ownedApplication.reset();
}

ObjectNumber UiOpenWindow(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                          std::int64_t height, const char16_t* title, std::int64_t flags) {
  const QString caption = ToQString(title);
  return ui_thread::Call<ObjectNumber>(0, [=] {
    return ui_objects::AddWindow(number, [&](ObjectNumber assigned) {
      auto window = std::make_unique<TopLevelWindow>(assigned);
      window->setWindowTitle(caption);
      ShowWindow(window.get(), {x, y, width, height}, flags);
      gadget_list::StartWindow(assigned, window.get());
      return window;
    });
  });
}

std::int64_t UiWindowClientWidth(ObjectNumber window) {
  return ui_thread::Call<std::int64_t>(0, [=]() -> std::int64_t {
    TopLevelWindow* found = ui_objects::FindWindow(window);
    return found ? found->ClientSize().width() : 0;
  });
}

std::int64_t UiWindowClientHeight(ObjectNumber window) {
  return ui_thread::Call<std::int64_t>(0, [=]() -> std::int64_t {
    TopLevelWindow* found = ui_objects::FindWindow(window);
    return found ? found->ClientSize().height() : 0;
  });
}

ObjectNumber UiCreatePanel(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                           std::int64_t height) {
  return ui_thread::Call<ObjectNumber>(0, [=] {
    ObjectNumber panel = 0;
    const ObjectNumber result = CreateGadget(number, {x, y, width, height}, MakePanel, &panel);
    if (result) gadget_list::OpenPanel(panel);
    return result;
  });
}

ObjectNumber UiCreateSplitter(ObjectNumber number, std::int64_t x, std::int64_t y,
                              std::int64_t width, std::int64_t height) {
  return ui_thread::Call<ObjectNumber>(0, [=] {
    ObjectNumber splitter = 0;
    const ObjectNumber result =
        CreateGadget(number, {x, y, width, height}, MakeSplitter, &splitter);
    if (result) {
      gadget_list::OpenPanel(splitter);
      gadget_list::TabAdded(splitter, ui_objects::FindGadget(splitter)->Widget());
    }
    return result;
  });
}

ObjectNumber UiCreateInputView(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height) {
  return CreateGadget(number, {x, y, width, height}, MakeInputView);
}

ObjectNumber UiCreateLabel(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                           std::int64_t height, const char16_t* text) {
  const QString content = ToQString(text);
  return CreateGadget(number, {x, y, width, height},
                      [content](ObjectNumber assigned, const GadgetPlace& place) {
                        return MakeLabel(assigned, place, content);
                      });
}

ObjectNumber UiCreateTextField(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height, const char16_t* text,
                               std::int64_t flags) {
  const QString content = ToQString(text);
  return CreateGadget(number, {x, y, width, height},
                      [content, flags](ObjectNumber assigned, const GadgetPlace& place) {
                        return MakeTextField(assigned, place, content, flags);
                      });
}

ObjectNumber UiCreateCheckList(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height, const char16_t* columnTitle,
                               std::int64_t columnWidth, std::int64_t flags) {
  const QString title = ToQString(columnTitle);
  return CreateGadget(number, {x, y, width, height},
                      [=](ObjectNumber assigned, const GadgetPlace& place) {
                        return MakeCheckList(assigned, place, title, columnWidth, flags);
                      });
}

ObjectNumber UiCreateTree(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                          std::int64_t height) {
  return CreateGadget(number, {x, y, width, height}, MakeTree);
}

ObjectNumber UiCreateButton(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                            std::int64_t height, const char16_t* text) {
  const QString content = ToQString(text);
  return CreateGadget(number, {x, y, width, height},
                      [content](ObjectNumber assigned, const GadgetPlace& place) {
                        return MakeButton(assigned, place, content);
                      });
}

void UiCloseGadgetList() {
  ui_thread::Run([] { gadget_list::Close(); });
}

void UiAddShortcut(ObjectNumber window, std::int64_t shortcutWord, std::int64_t eventNumber) {
  ui_thread::Run([=] {
    if (TopLevelWindow* found = ui_objects::FindWindow(window)) {
      found->AddShortcut(shortcutWord, eventNumber);
    }
  });
}

void UiSetDesktopName(const char16_t* name) {
  const QString desktopName = ToQString(name);
  ui_thread::Run([desktopName] {
    QGuiApplication::setDesktopFileName(desktopName);
    const QIcon own(QStringLiteral(":/icons/%1.svg").arg(desktopName));
    QApplication::setWindowIcon(QIcon::fromTheme(desktopName, own));
  });
}

void UiKeepAnsweringUntil(const std::function<bool()>& done) {
  if (!ui_thread::IsUiThread()) {
    while (!done()) QThread::msleep(AnswerIntervalMilliseconds);
    return;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // The ticks end each wait for more events, so that the end of the work is seen soon.
  QTimer tick;
  tick.start(AnswerIntervalMilliseconds);
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

int UiWaitEvent() {
  for (;;) {
    if (const int code = NextQueuedEvent()) return code;
    // Only the UI thread has anything to wait for.
    if (!ui_thread::IsUiThread()) return 0;
    ui_thread::TakePostedEventDelivered();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (ui_thread::TakePostedEventDelivered()) return UiPostedEventNotice;
  }
}
