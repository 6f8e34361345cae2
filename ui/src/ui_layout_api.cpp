// The status line, window timers and the operations that lay gadgets out again when the
// window changes its size.
#include "ui/ui.h"

#include <QLabel>
#include <QRect>

#include "on_objects.h"
#include "text.h"

void UiAddStatusLine(ObjectNumber window, std::int64_t parts) {
  OnWindow(window, [parts](TopLevelWindow& found) { found.AddStatusLine(parts); });
}

void UiSetStatusText(ObjectNumber window, std::int64_t part, const char16_t* text) {
  const std::u16string content = OwnedText(text);
  OnWindow(window, [part, content](TopLevelWindow& found) {
    if (QLabel* label = found.StatusPart(part)) label->setText(QString::fromStdU16String(content));
  });
}

const char16_t* UiGetStatusText(ObjectNumber window, std::int64_t part) {
  return ReturnText(ui_thread::Call<std::u16string>({}, [=] {
    TopLevelWindow* found = ui_objects::FindWindow(window);
    QLabel* label = found ? found->StatusPart(part) : nullptr;
    return label ? label->text().toStdU16String() : std::u16string();
  }));
}

void UiAddWindowTimer(ObjectNumber window, std::int64_t timer, std::int64_t milliseconds) {
  OnWindow(window, [=](TopLevelWindow& found) { found.AddTimer(timer, milliseconds); });
}

void UiRemoveWindowTimer(ObjectNumber window, std::int64_t timer) {
  OnWindow(window, [timer](TopLevelWindow& found) { found.RemoveTimer(timer); });
}

void UiResizeGadget(ObjectNumber gadget, std::int64_t x, std::int64_t y, std::int64_t width,
                    std::int64_t height) {
  OnGadget(gadget, [=](Gadget& found) {
    if (!found.Widget()) return;
    const QRect now = found.Widget()->geometry();
    auto pick = [](std::int64_t value, int kept) {
      return value == UiIgnore ? kept : static_cast<int>(value);
    };
    found.Place(QRect(pick(x, now.x()), pick(y, now.y()), pick(width, now.width()),
                      pick(height, now.height())));
  });
}

std::int64_t UiGadgetRequiredWidth(ObjectNumber gadget) {
  return OnGadget<std::int64_t>(
      gadget, 0, [](Gadget& found) -> std::int64_t { return found.RequiredWidth(); });
}

std::int64_t UiGadgetInnerWidth(ObjectNumber gadget) {
  return OnGadget<std::int64_t>(
      gadget, 0, [](Gadget& found) -> std::int64_t { return found.InnerSize().width(); });
}

std::int64_t UiGadgetInnerHeight(ObjectNumber gadget) {
  return OnGadget<std::int64_t>(
      gadget, 0, [](Gadget& found) -> std::int64_t { return found.InnerSize().height(); });
}

void UiSetToolTip(ObjectNumber gadget, const char16_t* text) {
  const std::u16string content = OwnedText(text);
  OnGadget(gadget, [content](Gadget& found) {
    if (found.Widget()) found.Widget()->setToolTip(QString::fromStdU16String(content));
  });
}
