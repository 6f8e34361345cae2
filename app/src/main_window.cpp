#include "main_window.h"

#include <array>
#include <cmath>

#include "app/evaluator.h"
#include "regex/regex.h"
#include "state.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

constexpr std::int64_t EnterKey = 0x0D;
constexpr std::int64_t EscKey = 0x1B;
constexpr std::int64_t F1Key = 0x70;

struct Shortcut {
  std::int64_t word;
  std::int64_t event;
};

// The Alt shortcuts raise the number of the gadget they focus as their event.
constexpr std::array Shortcuts{
    Shortcut{F1Key, HelpCommand},
    Shortcut{EscKey, AbortCommand},
    Shortcut{EnterKey, EnterCommand},
    Shortcut{AltKey + 'P', PatternField},
    Shortcut{AltKey + 'S', InputField},
    Shortcut{AltKey + 'O', OptionsList},
    Shortcut{AltKey + 'R', ResultsTree},
    Shortcut{ControlKey + 'O', ChooseFileCommand},
    Shortcut{ControlKey + 'S', SaveCommand},
    Shortcut{ControlKey + 'B', OpenInputFileCommand},
    Shortcut{ShiftKey + EnterKey, CopyAllCommand},
};

struct OptionItem {
  const char16_t* text;
  std::int64_t flag;
  bool initiallyTicked;
};

// In item order: ProcessMatchesItem, ProcessGroupsItem, then the flags from FirstFlagItem.
constexpr std::array OptionItems{
    OptionItem{u"process matches", 0, true},
    OptionItem{u"process groups", 0, true},
    OptionItem{u"match as case-insensitive", RegexCaseless, true},
    OptionItem{u"match all newlines", RegexNewlineAnyCrLf, false},
    OptionItem{u"match anything including newlines with . (dot)", RegexDotAll, false},
    OptionItem{u"match newlines with ^ and $", RegexMultiline, false},
};

// Multi-line, scrolling and word-wrapping text field style of the toolkit.
constexpr std::int64_t TextFieldStyle = 0x2000C7;

// The next gadget of the current tab goes into column `column` of `columnCount`.
ColumnArea NextColumn(int columnCount, int column) {
  return ColumnRect(UiWindowClientWidth(MainWindow), UiWindowClientHeight(MainWindow),
                    columnCount, column);
}

void LayOutMainTab() {
  constexpr int columns = 6;
  ColumnArea r = NextColumn(columns, 0);
  UiCreateLabel(PatternLabel, r.x, r.y, r.width, r.height, u"pattern");
  r = NextColumn(columns, 1);
  UiCreateTextField(PatternField, r.x, r.y, r.width, r.height, u"", TextFieldStyle);
  r = NextColumn(columns, 2);
  UiCreateLabel(InputLabel, r.x, r.y, r.width, r.height, u"string");
  r = NextColumn(columns, 3);
  UiCreateTextField(InputField, r.x, r.y, r.width, r.height, u"", TextFieldStyle);
  r = NextColumn(columns, 4);
  UiCreateLabel(OptionsLabel, r.x, r.y, r.width, r.height, u"options");
  r = NextColumn(columns, 5);
  UiCreateCheckList(OptionsList, r.x, r.y, r.width, r.height, u"", r.width, 1);
}

void LayOutResultTab() {
  constexpr int columns = 2;
  ColumnArea r = NextColumn(columns, 0);
  UiCreateLabel(ResultsLabel, r.x, r.y, r.width, r.height, u"results");
  r = NextColumn(columns, 1);
  // The tree's column holds the tree and, beside it, the input its matches were found in.
  UiCreateSplitter(ResultsSplitter, r.x, r.y, r.width, r.height);
  UiCreateTree(ResultsTree, r.x, r.y, r.width, r.height);
  UiCreateInputView(InputView, r.x, r.y, r.width, r.height);
  UiCloseGadgetList();
}

void LayOutExportTab() {
  constexpr int columns = 11;
  constexpr std::array<const char16_t*, 5> titles{
      u"comma delimited txt", u"new line delimited txt", u"tab delimited txt", u"json",
      u"xml"};
  for (int column = 0; column < static_cast<int>(titles.size()); ++column) {
    ColumnArea r = NextColumn(columns, column);
    UiCreateButton(ExportCommaButton + column, r.x, r.y, r.width, r.height, titles[column]);
  }
}

void OpenMainWindow() {
  UiOpenWindow(MainWindow, UiIgnore, UiIgnore, UiIgnore, UiIgnore,
               u"regular expression evaluator", WindowCentred | WindowMaximised);
  ApplicationState& state = State();
  state.mainPanel = UiCreatePanel(AnyHandle, 0, 0, UiWindowClientWidth(MainWindow),
                                  UiWindowClientHeight(MainWindow));
  UiAddItem(state.mainPanel, -1, u"main");
  LayOutMainTab();
  UiAddItem(state.mainPanel, -1, u"result");
  LayOutResultTab();
  UiAddItem(state.mainPanel, -1, u"export");
  LayOutExportTab();
  UiCloseGadgetList();
  UiSetFocus(PatternField);
}

void BindShortcuts() {
  for (const Shortcut& shortcut : Shortcuts) {
    UiAddShortcut(MainWindow, shortcut.word, shortcut.event);
  }
}

void FillOptions() {
  for (std::size_t item = 0; item < OptionItems.size(); ++item) {
    UiAddItem(OptionsList, -1, OptionItems[item].text);
    const std::int64_t index = UiCountItems(OptionsList) - 1;
    if (OptionItems[item].initiallyTicked) {
      UiSetItemState(OptionsList, index, UiItemSelected | UiItemChecked);
    }
    if (index >= FirstFlagItem) UiSetItemData(OptionsList, index, OptionItems[item].flag);
  }
  UiSetState(OptionsList, 0);
}

// The desktop entry and the icon are both named after the program.
void MakeKnownToTheDesktop() { UiSetDesktopName(u"regex-evaluator"); }

}  // namespace

Tab TabOf(std::int64_t gadget) {
  if (gadget <= OptionsList) return MainTab;
  if (gadget <= ResultsTree || gadget == InputView || gadget == ResultsSplitter) return ResultTab;
  return ExportTab;
}

bool IsFocusCommand(std::int64_t command) {
  return command >= PatternField && command <= ResultsTree;
}

ColumnArea ColumnRect(std::int64_t width, std::int64_t height, int columnCount, int column) {
  const double columnWidth = static_cast<double>(width) / columnCount;
  return ColumnArea{
      column == 0 ? 0 : static_cast<std::int64_t>(std::trunc(columnWidth * column)),
      0,
      static_cast<std::int64_t>(std::trunc(columnWidth - 5)),
      height,
  };
}

void BuildMainWindow() {
  MakeKnownToTheDesktop();
  OpenMainWindow();
  BindShortcuts();
  UiEnableFileDrop(InputField);  // a file dropped from a file manager becomes the input
  FillOptions();
}

}  // namespace evaluator
