// Top-level windows with their keyboard shortcut tables.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "runtime/object_registry.h"

class QKeyEvent;

// The shortcut word of a key event: the virtual-key code of the key plus ShiftKey,
// ControlKey and AltKey; 0 for a key that has no code.
std::int64_t ShortcutWordOf(const QKeyEvent& event);

class TopLevelWindow : public QWidget {
 public:
  explicit TopLevelWindow(ObjectNumber number);

  ObjectNumber Number() const { return number_; }
  void AddShortcut(std::int64_t word, std::int64_t eventNumber);
  bool HandlesShortcut(std::int64_t word) const;
  // Acts on a key bound in this window; false for a key that is not bound.
  bool HandleShortcut(std::int64_t word);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class Action { RaiseMenuEvent, FocusNext, FocusPrevious };
  struct Shortcut {
    std::int64_t word;
    std::int64_t eventNumber;
    Action action;
  };

  ObjectNumber number_;
  std::vector<Shortcut> shortcuts_;
};

// Sees every key event of the application before its receiver does, so that a bound key
// fires before the focused gadget gets it. Installed once by UiInit.
void InstallShortcutFilter();
void RemoveShortcutFilter();
