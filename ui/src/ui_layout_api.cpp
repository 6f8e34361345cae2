// The status line, window timers and the operations that lay gadgets out again when the
// window changes its size.
#include <QLabel>
#include <QRect>

#include "gadgets.h"
#include "text.h"
#include "ui/ui.h"
#include "ui_objects.h"
#include "ui_thread.h"
#include "window.h"

namespace {

template <typename Result, typename Operation>
Result OnWindow(ObjectNumber number, Result fallback, Operation operation) {
  return ui_thread::Call<Result>(fallback, [=]() mutable -> Result {
    TopLevelWindow* window = ui_objects::FindWindow(number);
    return window ? operation(*window) : fallback;
  });
}

template <typename Result, typename Operation>
Result OnGadgetOf(ObjectNumber number, Result fallback, Operation operation) {
  return ui_thread::Call<Result>(fallback, [=]() mutable -> Result {
    Gadget* gadget = ui_objects::FindGadget(number);
    return gadget && gadget->Widget() ? operation(*gadget) : fallback;
  });
}

int Logical(std::int64_t value) { return static_cast<int>(value); }

}  // namespace

void UiAddStatusLine(ObjectNumber window, std::int64_t parts) {
  OnWindow(window, false, [parts](TopLevelWindow& found) {
    found.AddStatusLine(parts);
    return true;
  });
}

void UiSetStatusText(ObjectNumber window, std::int64_t part, const char16_t* text) {
  const std::u16string content = OwnedText(text);
  OnWindow(window, false, [part, content](TopLevelWindow& found) {
    QLabel* label = found.StatusPart(part);
    if (label) label->setText(QString::fromStdU16String(content));
    return label != nullptr;
  });
}

const char16_t* UiGetStatusText(ObjectNumber window, std::int64_t part) {
  return ReturnText(OnWindow<std::u16string>(window, {}, [part](TopLevelWindow& found) {
    QLabel* label = found.StatusPart(part);
    return label ? label->text().toStdU16String() : std::u16string();
  }));
}

void UiAddWindowTimer(ObjectNumber window, std::int64_t timer, std::int64_t milliseconds) {
  OnWindow(window, false, [=](TopLevelWindow& found) {
    found.AddTimer(timer, milliseconds);
    return true;
  });
}

void UiRemoveWindowTimer(ObjectNumber window, std::int64_t timer) {
  OnWindow(window, false, [timer](TopLevelWindow& found) {
    found.RemoveTimer(timer);
    return true;
  });
}

void UiResizeGadget(ObjectNumber gadget, std::int64_t x, std::int64_t y, std::int64_t width,
                    std::int64_t height) {
  OnGadgetOf(gadget, false, [=](Gadget& found) {
    const QRect now = found.Widget()->geometry();
    auto pick = [](std::int64_t value, int kept) { return value == UiIgnore ? kept : Logical(value); };
    found.Place(QRect(pick(x, now.x()), pick(y, now.y()), pick(width, now.width()),
                      pick(height, now.height())));
    return true;
  });
}

std::int64_t UiGadgetRequiredWidth(ObjectNumber gadget) {
  return OnGadgetOf<std::int64_t>(gadget, 0, [](Gadget& found) -> std::int64_t {
    return found.RequiredWidth();
  });
}

std::int64_t UiGadgetInnerWidth(ObjectNumber gadget) {
  return OnGadgetOf<std::int64_t>(gadget, 0, [](Gadget& found) -> std::int64_t {
    return found.InnerSize().width();
  });
}

std::int64_t UiGadgetInnerHeight(ObjectNumber gadget) {
  return OnGadgetOf<std::int64_t>(gadget, 0, [](Gadget& found) -> std::int64_t {
    return found.InnerSize().height();
  });
}

void UiSetToolTip(ObjectNumber gadget, const char16_t* text) {
  const std::u16string content = OwnedText(text);
  OnGadgetOf(gadget, false, [content](Gadget& found) {
    found.Widget()->setToolTip(QString::fromStdU16String(content));
    return true;
  });
}
