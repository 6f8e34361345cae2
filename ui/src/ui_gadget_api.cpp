// Gadget contents, focus, dialogs, clipboard and launching. Every operation may be called
// from any thread: the rows of a tree are read and appended directly, everything else is
// carried out on the UI thread.
#include "ui/ui.h"

#include <QApplication>
#include <QClipboard>
#include <algorithm>
#include <vector>

#include "dialogs.h"
#include "file_chooser_request.h"
#include "gadgets.h"
#include "input_view.h"
#include "on_objects.h"
#include "text.h"
#include "tree_model.h"
#include "ui_objects.h"
#include "ui_thread.h"

namespace {

const char16_t* TextOf(ObjectNumber number, QString (*read)(Gadget&)) {
  return ReturnText(OnGadget<std::u16string>(
      number, {}, [read](Gadget& found) { return read(found).toStdU16String(); }));
}

std::u16string ChooseFileFor(bool save, const char16_t* title, const char16_t* defaultFile,
                             const char16_t* pattern, std::int64_t patternIndex) {
  const FileChooserRequest request = BuildFileChooserRequest(
      save, ToQString(title).toStdU16String(), ToQString(defaultFile).toStdU16String(),
      ToQString(pattern).toStdU16String(), patternIndex);
  return ui_thread::Call<std::u16string>(
      {}, [request] { return ChooseFile(request).toStdU16String(); });
}

}  // namespace

std::int64_t UiAddItem(ObjectNumber gadget, std::int64_t position, const char16_t* text,
                       std::int64_t, std::int64_t level) {
  if (const auto& rows = ui_objects::FindTreeRowsRemembered(gadget)) {
    // Straight into the row store: the one copy of the text that a tree keeps.
    const std::u16string_view content(text ? text : u"",
                                      static_cast<std::size_t>(StringLength(text)));
    return AppendTreeRow(rows, content, level) ? 1 : 0;
  }
  std::u16string content = OwnedText(text);
  return OnGadget<std::int64_t>(gadget, 0, [=](Gadget& found) -> std::int64_t {
    return found.AddItem(position, QString::fromStdU16String(content), level) ? 1 : 0;
  });
}

std::int64_t UiAddItems(ObjectNumber gadget, const UiTreeItem* items, std::int64_t count) {
  if (!items || count <= 0) return 0;
  const auto& rows = ui_objects::FindTreeRowsRemembered(gadget);
  if (!rows) {
    std::int64_t added = 0;
    for (; added < count; ++added) {
      const UiTreeItem& item = items[added];
      const std::u16string text(item.text ? item.text : u"", item.text ? item.length : 0);
      if (!UiAddItem(gadget, -1, text.c_str(), 0, item.level)) break;
    }
    return added;
  }
  return AppendTreeRows(rows, items, count);
}

void UiClearItems(ObjectNumber gadget) {
  OnGadget(gadget, [](Gadget& found) { found.ClearItems(); });
}

std::int64_t UiCountItems(ObjectNumber gadget) {
  if (auto rows = ui_objects::FindTreeRows(gadget)) return rows->store.Count();
  return OnGadget<std::int64_t>(gadget, 0, [](Gadget& found) { return found.CountItems(); });
}

std::int64_t UiGetState(ObjectNumber gadget) {
  return OnGadget<std::int64_t>(gadget, 0, [](Gadget& found) { return found.GetState(); });
}

void UiSetState(ObjectNumber gadget, std::int64_t index) {
  OnGadget(gadget, [index](Gadget& found) { found.SetState(index); });
}

const char16_t* UiGetText(ObjectNumber gadget) {
  return TextOf(gadget, [](Gadget& found) { return found.GetText(); });
}

void UiSetText(ObjectNumber gadget, const char16_t* text) {
  OnGadget(gadget, [content = OwnedText(text)](Gadget& found) {
    found.SetText(QString::fromStdU16String(content));
  });
}

const char16_t* UiGetItemText(ObjectNumber gadget, std::int64_t index, std::int64_t column) {
  if (auto rows = ui_objects::FindTreeRows(gadget)) {
    std::u16string& buffer = ReturnBuffer();
    rows->store.CopyText(index, buffer);
    return buffer.c_str();
  }
  return ReturnText(OnGadget<std::u16string>(gadget, {}, [=](Gadget& found) {
    return found.GetItemText(index, column).toStdU16String();
  }));
}

const char16_t* UiGetAllItemTexts(ObjectNumber gadget, const char16_t* terminator) {
  const std::u16string_view end(terminator ? terminator : u"",
                                static_cast<std::size_t>(StringLength(terminator)));
  if (auto rows = ui_objects::FindTreeRows(gadget)) {
    // Its own string rather than the reused buffer, so that the next text returned on this
    // thread gives the memory of a big copy back.
    std::u16string all;
    rows->store.AppendAllTexts(all, end);
    return ReturnText(std::move(all));
  }
  return ReturnText(OnGadget<std::u16string>(gadget, {}, [end](Gadget& found) {
    std::u16string all;
    const std::int64_t count = found.CountItems();
    for (std::int64_t index = 0; index < count; ++index) {
      all += found.GetItemText(index, 0).toStdU16String();
      all += end;
    }
    return all;
  }));
}

void UiSetViewText(ObjectNumber gadget, const SharedUtf8& text) {
  OnGadget(gadget, [text](Gadget& found) {
    if (InputTextView* view = InputViewOf(&found)) view->SetText(text);
  });
}

void UiSetViewHighlights(ObjectNumber gadget, const UiTextRange* ranges, std::int64_t count) {
  std::vector<UiTextRange> shown;
  if (ranges && count > 0) shown.assign(ranges, ranges + count);
  OnGadget(gadget, [shown](Gadget& found) {
    if (InputTextView* view = InputViewOf(&found)) view->SetHighlights(shown);
  });
}

std::int64_t UiGetViewHighlights(ObjectNumber gadget, UiTextRange* ranges, std::int64_t capacity) {
  const std::vector<UiTextRange> shown =
      OnGadget<std::vector<UiTextRange>>(gadget, {}, [](Gadget& found) {
        InputTextView* view = InputViewOf(&found);
        return view ? view->Highlights() : std::vector<UiTextRange>{};
      });
  const auto count = static_cast<std::int64_t>(shown.size());
  if (ranges) std::copy_n(shown.begin(), std::clamp<std::int64_t>(capacity, 0, count), ranges);
  return count;
}

void UiSetViewSelection(ObjectNumber gadget, UiTextRange range) {
  OnGadget(gadget, [range](Gadget& found) {
    if (InputTextView* view = InputViewOf(&found)) view->SetSelection(range);
  });
}

UiTextRange UiGetViewSelection(ObjectNumber gadget) {
  return OnGadget<UiTextRange>(gadget, {0, 0}, [](Gadget& found) {
    InputTextView* view = InputViewOf(&found);
    return view ? view->Selection() : UiTextRange{0, 0};
  });
}

std::int64_t UiGetItemState(ObjectNumber gadget, std::int64_t index) {
  return OnGadget<std::int64_t>(gadget, 0,
                                [index](Gadget& found) { return found.GetItemState(index); });
}

void UiSetItemState(ObjectNumber gadget, std::int64_t index, std::int64_t state) {
  OnGadget(gadget, [=](Gadget& found) { found.SetItemState(index, state); });
}

std::int64_t UiGetItemData(ObjectNumber gadget, std::int64_t index) {
  return OnGadget<std::int64_t>(gadget, 0,
                                [index](Gadget& found) { return found.GetItemData(index); });
}

void UiSetItemData(ObjectNumber gadget, std::int64_t index, std::int64_t value) {
  OnGadget(gadget, [=](Gadget& found) { found.SetItemData(index, value); });
}

void UiEnableFileDrop(ObjectNumber gadget) {
  OnGadget(gadget, [](Gadget& found) { found.EnableFileDrop(); });
}

void UiSetFocus(ObjectNumber gadget) {
  ui_thread::Run([gadget] {
    if (gadget == -1) {
      if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
      return;
    }
    Gadget* found = ui_objects::FindGadget(gadget);
    if (found && found->Widget()) found->Widget()->setFocus(Qt::OtherFocusReason);
  });
}

ObjectNumber UiFocusedGadget() {
  return ui_thread::Call<ObjectNumber>(-1, [] {
    const ObjectNumber number = GadgetOfWidget(QApplication::focusWidget());
    // The number a widget carries counts only while its gadget still lives.
    return number != -1 && ui_objects::FindGadget(number) ? number : ObjectNumber{-1};
  });
}

std::int64_t UiMessageBox(const char16_t* title, const char16_t* text, std::int64_t flags) {
  return ui_thread::Call<std::int64_t>(
      0, [caption = OwnedText(title), message = OwnedText(text), flags] {
        return ShowMessageBox(QString::fromStdU16String(caption),
                              QString::fromStdU16String(message), flags);
      });
}

const char16_t* UiAskOpenFile(const char16_t* title, const char16_t* defaultFile,
                              const char16_t* pattern, std::int64_t patternIndex) {
  return ReturnText(ChooseFileFor(false, title, defaultFile, pattern, patternIndex));
}

const char16_t* UiAskSaveFile(const char16_t* title, const char16_t* defaultFile,
                              const char16_t* pattern, std::int64_t patternIndex) {
  return ReturnText(ChooseFileFor(true, title, defaultFile, pattern, patternIndex));
}

void UiSetClipboardText(const char16_t* text) {
  if (ui_thread::IsUiThread()) {
    // Straight into the QString: a copy of all rows is tens of megabytes.
    const auto length = static_cast<qsizetype>(StringLength(text));
    QGuiApplication::clipboard()->setText(QString::fromUtf16(text ? text : u"", length));
    return;
  }
  ui_thread::Run([content = OwnedText(text)] {
    QGuiApplication::clipboard()->setText(QString::fromStdU16String(content));
  });
}

const char16_t* UiGetClipboardText() {
  return ReturnText(ui_thread::Call<std::u16string>(
      {}, [] { return QGuiApplication::clipboard()->text().toStdU16String(); }));
}

std::int64_t UiRunProgram(const char16_t* program, const char16_t* parameters,
                          const char16_t* directory) {
  return ui_thread::Call<std::int64_t>(
      0,
      [name = OwnedText(program), arguments = OwnedText(parameters),
       folder = OwnedText(directory)]() -> std::int64_t {
        return RunProgram(QString::fromStdU16String(name), QString::fromStdU16String(arguments),
                          QString::fromStdU16String(folder))
                   ? 1
                   : 0;
      });
}
