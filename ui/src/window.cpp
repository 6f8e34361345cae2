#include "window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "threads/posted_events.h"
#include "ui/ui.h"

namespace {

constexpr std::int64_t TabKeyCode = 0x09;
// Qt knows a Meta key that the shortcut words don't: with it held, no shortcut matches.
constexpr std::int64_t UnmatchableModifier = 0x80000;

struct KeyCode {
  int qtKey;
  std::int64_t code;
};

// Virtual-key codes of the keys that aren't letters, digits or function keys.
constexpr KeyCode NamedKeys[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},   {Qt::Key_Backtab, 0x09},
    {Qt::Key_Return, 0x0D},    {Qt::Key_Enter, 0x0D}, {Qt::Key_Pause, 0x13},
    {Qt::Key_Escape, 0x1B},    {Qt::Key_Space, 0x20}, {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},  {Qt::Key_End, 0x23},   {Qt::Key_Home, 0x24},
    {Qt::Key_Left, 0x25},      {Qt::Key_Up, 0x26},    {Qt::Key_Right, 0x27},
    {Qt::Key_Down, 0x28},      {Qt::Key_Print, 0x2C}, {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
};

std::int64_t KeyCodeOf(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
    return key;  // letters and digits are their upper-case character codes in both
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  for (const KeyCode& named : NamedKeys) {
    if (named.qtKey == key) return named.code;
  }
  return 0;
}

std::int64_t ModifierBitsOf(Qt::KeyboardModifiers modifiers) {
  std::int64_t bits = 0;
  if (modifiers & Qt::ShiftModifier) bits |= ShiftKey;
  if (modifiers & Qt::ControlModifier) bits |= ControlKey;
  if (modifiers & Qt::AltModifier) bits |= AltKey;
  if (modifiers & Qt::MetaModifier) bits |= UnmatchableModifier;
  return bits;
}

class ShortcutFilter : public QObject {
 public:
  // Events for objects other than widgets (among them the work other threads hand over)
  // pass untouched: their fields are read only by their receiver.
  bool eventFilter(QObject* receiver, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget) return false;
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
      return false;
    }
    auto* window = dynamic_cast<TopLevelWindow*>(widget->window());
    if (!window) return false;
    const std::int64_t word = ShortcutWordOf(*static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::ShortcutOverride) {
      // Claiming the override makes Qt deliver the key press itself, which we take below.
      if (!window->HandlesShortcut(word)) return false;
      event->accept();
      return true;
    }
    return window->HandleShortcut(word);
  }
};

std::unique_ptr<ShortcutFilter> installedFilter;

}  // namespace

std::int64_t ShortcutWordOf(const QKeyEvent& event) {
  const std::int64_t code = KeyCodeOf(event.key());
  if (code == 0) return 0;
  // Qt names Shift+Tab as a key of its own, not always with the Shift modifier set.
  const std::int64_t backtab = event.key() == Qt::Key_Backtab ? ShiftKey : 0;
  return code | backtab | ModifierBitsOf(event.modifiers());
}

TopLevelWindow::TopLevelWindow(ObjectNumber number)
    : number_(number),
      shortcuts_{{TabKeyCode, 0, Action::FocusNext},
                 {TabKeyCode | ShiftKey, 0, Action::FocusPrevious}} {}

void TopLevelWindow::AddShortcut(std::int64_t word, std::int64_t eventNumber) {
  auto bound = std::find_if(shortcuts_.begin(), shortcuts_.end(),
                            [word](const Shortcut& shortcut) { return shortcut.word == word; });
  if (bound != shortcuts_.end()) {
    *bound = {word, eventNumber, Action::RaiseMenuEvent};
  } else {
    shortcuts_.push_back({word, eventNumber, Action::RaiseMenuEvent});
  }
}

bool TopLevelWindow::HandlesShortcut(std::int64_t word) const {
  return word != 0 &&
         std::any_of(shortcuts_.begin(), shortcuts_.end(),
                     [word](const Shortcut& shortcut) { return shortcut.word == word; });
}

bool TopLevelWindow::HandleShortcut(std::int64_t word) {
  if (word == 0) return false;
  auto bound = std::find_if(shortcuts_.begin(), shortcuts_.end(),
                            [word](const Shortcut& shortcut) { return shortcut.word == word; });
  if (bound == shortcuts_.end()) return false;
  switch (bound->action) {
    case Action::FocusNext:
      focusNextPrevChild(true);
      break;
    case Action::FocusPrevious:
      focusNextPrevChild(false);
      break;
    case Action::RaiseMenuEvent:
      QueueEvent(MenuEvent, bound->eventNumber, number_, 0, 0, nullptr);
      break;
  }
  return true;
}

void TopLevelWindow::closeEvent(QCloseEvent* event) {
  // The window stays open until the program ends it; closing is only a request.
  event->ignore();
  QueueEvent(CloseEvent, number_, number_, 0, 0, nullptr);
}

void TopLevelWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceStatusLine();
  // A burst of sizes while the user drags the frame merges into the one pending event.
  QueueEvent(SizeWindowEvent, number_, number_, 0, 0, nullptr);
}

QSize TopLevelWindow::ClientSize() const {
  const int statusHeight = statusLine_ ? statusLine_->height() : 0;
  return {width(), std::max(0, height() - statusHeight)};
}

void TopLevelWindow::AddStatusLine(std::int64_t parts) {
  if (statusLine_ || parts <= 0) return;
  statusLine_ = new QStatusBar(this);
  // The window requests no resizing frame, so its status line offers no grip either.
  statusLine_->setSizeGripEnabled(false);
  for (std::int64_t part = 0; part < parts; ++part) {
    auto* label = new QLabel(statusLine_);
    label->setTextFormat(Qt::PlainText);
    if (part == 0) {
      statusLine_->addWidget(label, 1);
    } else {
      statusLine_->addPermanentWidget(label);
    }
    statusParts_.push_back(label);
  }
  // As tall as a line of text needs from the start, so the client size is known at once.
  statusParts_.front()->setText(QStringLiteral(" "));
  statusLine_->resize(width(), statusLine_->sizeHint().height());
  statusParts_.front()->clear();
  statusLine_->setFixedHeight(statusLine_->height());
  PlaceStatusLine();
  statusLine_->show();
}

QLabel* TopLevelWindow::StatusPart(std::int64_t part) const {
  if (part < 0 || part >= static_cast<std::int64_t>(statusParts_.size())) return nullptr;
  return statusParts_[static_cast<std::size_t>(part)];
}

void TopLevelWindow::PlaceStatusLine() {
  if (!statusLine_) return;
  statusLine_->setGeometry(0, height() - statusLine_->height(), width(), statusLine_->height());
}

void TopLevelWindow::AddTimer(std::int64_t timer, std::int64_t milliseconds) {
  std::unique_ptr<QTimer>& slot = timers_[timer];
  if (!slot) {
    slot = std::make_unique<QTimer>();
    QObject::connect(slot.get(), &QTimer::timeout, this,
                     [this, timer] { QueueEvent(TimerEvent, timer, number_, 0, 0, nullptr); });
  }
  slot->start(static_cast<int>(std::clamp<std::int64_t>(milliseconds, 1, INT32_MAX)));
}

void TopLevelWindow::RemoveTimer(std::int64_t timer) { timers_.erase(timer); }

void InstallShortcutFilter() {
  if (installedFilter) return;
  installedFilter = std::make_unique<ShortcutFilter>();
  QCoreApplication::instance()->installEventFilter(installedFilter.get());
}

void RemoveShortcutFilter() {
  if (!installedFilter) return;
  if (QCoreApplication::instance()) {
    QCoreApplication::instance()->removeEventFilter(installedFilter.get());
  }
  installedFilter.reset();
}
