// Top-level windows with their keyboard shortcut tables.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "runtime/object_registry.h"

class QKeyEvent;
class QLabel;
class QStatusBar;

// The shortcut word of a key event: the virtual-key code of the key plus ShiftKey,
// ControlKey and AltKey; 0 for a key that has no code.
std::int64_t ShortcutWordOf(const QKeyEvent& event);

class TopLevelWindow : public QWidget {
 public:
  explicit TopLevelWindow(ObjectNumber number);

  [[nodiscard]] ObjectNumber Number() const { return number_; }
  void AddShortcut(std::int64_t word, std::int64_t eventNumber);
  [[nodiscard]] bool HandlesShortcut(std::int64_t word) const;
  // Acts on a key bound in this window; false for a key that is not bound.
  bool HandleShortcut(std::int64_t word);

  // The area the gadgets share: the whole window above the status line, if it has one.
  [[nodiscard]] QSize ClientSize() const;
  void AddStatusLine(std::int64_t parts);
  // Null for a part the window doesn't have.
  [[nodiscard]] QLabel* StatusPart(std::int64_t part) const;
  void AddTimer(std::int64_t timer, std::int64_t milliseconds);
  void RemoveTimer(std::int64_t timer);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class Action { RaiseMenuEvent, FocusNext, FocusPrevious };
  struct Shortcut {
    std::int64_t word;
    std::int64_t eventNumber;
    Action action;
  };

  void PlaceStatusLine();

  ObjectNumber number_;
  std::vector<Shortcut> shortcuts_;
  QStatusBar* statusLine_ = nullptr;  // a child: the window deletes it
  std::vector<QLabel*> statusParts_;
  std::map<std::int64_t, std::unique_ptr<QTimer>> timers_;
};

// Sees every key event of the application before its receiver does, so that a bound key
// fires before the focused gadget gets it. Installed once by UiInit.
void InstallShortcutFilter();
void RemoveShortcutFilter();
