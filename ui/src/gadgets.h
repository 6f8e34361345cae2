// Gadgets: the C++ objects behind gadget numbers, one per widget, used on the UI thread.
// Every content operation has a neutral default, so that an operation that makes no sense
// for a kind of gadget does nothing and answers 0 or "".
#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "runtime/object_registry.h"

// Marks the widget a gadget created, so that the focus query can climb to it.
inline constexpr char GadgetNumberProperty[] = "uiGadgetNumber";

class TreeRowStore;
struct TreeShared;

class Gadget {
 public:
  Gadget(ObjectNumber number, ObjectNumber window, QWidget* widget);
  virtual ~Gadget();
  Gadget(const Gadget&) = delete;
  Gadget& operator=(const Gadget&) = delete;

  [[nodiscard]] ObjectNumber Number() const { return number_; }
  [[nodiscard]] ObjectNumber Window() const { return window_; }
  // Null once Qt destroyed the widget with its parent (a removed tab, a closed window).
  [[nodiscard]] QWidget* Widget() const { return widget_.data(); }

  virtual bool AddItem(std::int64_t position, const QString& text, std::int64_t level);
  virtual void ClearItems() {}
  virtual std::int64_t CountItems() { return 0; }
  virtual std::int64_t GetState() { return 0; }
  virtual void SetState(std::int64_t) {}
  virtual QString GetText() { return {}; }
  virtual void SetText(const QString&) {}
  virtual QString GetItemText(std::int64_t, std::int64_t) { return {}; }
  virtual std::int64_t GetItemState(std::int64_t) { return 0; }
  virtual void SetItemState(std::int64_t, std::int64_t) {}
  virtual std::int64_t GetItemData(std::int64_t) { return 0; }
  virtual void SetItemData(std::int64_t, std::int64_t) {}
  virtual void EnableFileDrop() {}
  // See UiGadgetRequiredWidth and UiGadgetInnerWidth.
  virtual int RequiredWidth() { return 0; }
  virtual QSize InnerSize();
  virtual void Place(const QRect& area);

 protected:
  // Puts fresh, a child of the same parent, where the gadget's widget is (place, visibility,
  // tab order and focus) and deletes the old widget.
  void ReplaceWidget(QWidget* fresh);

 private:
  ObjectNumber number_;
  ObjectNumber window_;
  QPointer<QWidget> widget_;
};

// Where a new gadget goes and what it is told: the window whose gadget list is open and the
// widget that is the parent of the gadgets created now.
struct GadgetPlace {
  ObjectNumber window = 0;
  QWidget* parent = nullptr;
};

struct GadgetRect {
  std::int64_t x, y, width, height;
};

std::unique_ptr<Gadget> MakeLabel(ObjectNumber number, const GadgetPlace& place,
                                  const QString& text);
std::unique_ptr<Gadget> MakeButton(ObjectNumber number, const GadgetPlace& place,
                                   const QString& text);
std::unique_ptr<Gadget> MakePanel(ObjectNumber number, const GadgetPlace& place);
std::unique_ptr<Gadget> MakeTextField(ObjectNumber number, const GadgetPlace& place,
                                      const QString& text, std::int64_t flags);
std::unique_ptr<Gadget> MakeCheckList(ObjectNumber number, const GadgetPlace& place,
                                      const QString& columnTitle, std::int64_t columnWidth,
                                      std::int64_t flags);
std::unique_ptr<Gadget> MakeTree(ObjectNumber number, const GadgetPlace& place);
std::unique_ptr<Gadget> MakeInputView(ObjectNumber number, const GadgetPlace& place);
std::unique_ptr<Gadget> MakeSplitter(ObjectNumber number, const GadgetPlace& place);

// Positions a widget in logical units; UiIgnore keeps the toolkit's own value.
void PlaceWidget(QWidget* widget, const GadgetRect& rect);

// The gadget that owns widget or one of its ancestors, or -1.
ObjectNumber GadgetOfWidget(const QWidget* widget);
