#include "main_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "app/evaluator.h"
#include "regex/regex.h"
#include "state.h"
#include "status_line.h"
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

// The gadgets of each tab, in column order, and the columns the tab is divided into.
struct TabColumns {
  std::int64_t firstGadget;
  std::int64_t lastGadget;
  int columns;
};
constexpr std::array TabsColumns{
    TabColumns{PatternLabel, OptionsList, 6},
    TabColumns{ResultsLabel, ResultsTree, 2},
    TabColumns{ExportCommaButton, ExportCsvTableButton, 11},
};

// The room between two columns.
constexpr std::int64_t ColumnGap = 5;

// Multi-line text field style of the toolkit with a vertical scroll bar that scrolls
// sideways too: the field never wraps its lines, so a long line is scrolled to.
constexpr std::int64_t TextFieldStyle = 0x2000C7;

// The next gadget of the current tab goes into column `column` of `columnCount`.
ColumnArea NextColumn(int columnCount, int column) {
  return ColumnRect(UiWindowClientWidth(MainWindow), UiWindowClientHeight(MainWindow), columnCount,
                    column);
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
  constexpr std::array<const char16_t*, 6> titles{u"comma delimited txt",
                                                  u"new line delimited txt",
                                                  u"tab delimited txt",
                                                  u"json",
                                                  u"xml",
                                                  u"csv table"};
  for (int column = 0; column < static_cast<int>(titles.size()); ++column) {
    ColumnArea r = NextColumn(columns, column);
    UiCreateButton(ExportCommaButton + column, r.x, r.y, r.width, r.height, titles[column]);
  }
}

void OpenMainWindow() {
  UiOpenWindow(MainWindow, UiIgnore, UiIgnore, UiIgnore, UiIgnore, u"regular expression evaluator",
               WindowCentred | WindowMaximised);
  // Below the tabs, which share the window above it.
  UiAddStatusLine(MainWindow, PositionPart + 1);
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

struct GadgetTip {
  std::int64_t gadget;
  const char16_t* tip;
};

// Where a newcomer looks for the keys: every gadget names those that act on it.
constexpr std::array GadgetTips{
    GadgetTip{PatternLabel, u"the regular expression: Alt+P"},
    GadgetTip{PatternField,
              u"the regular expression (Alt+P). Enter evaluates it over the "
              u"string; Esc stops a running evaluation; F1 opens a help page"},
    GadgetTip{InputLabel, u"the string to search: Alt+S"},
    GadgetTip{InputField,
              u"the string to search (Alt+S), or <file://path> for a file: Ctrl+O "
              u"chooses one (or drop it here), Ctrl+B opens it. Enter evaluates"},
    GadgetTip{OptionsLabel, u"matching options: Alt+O"},
    GadgetTip{OptionsList, u"matching options (Alt+O): Space ticks the current one"},
    GadgetTip{ResultsLabel, u"the matches and their groups: Alt+R"},
    GadgetTip{ResultsTree,
              u"the matches and their groups (Alt+R): Enter copies the selected "
              u"row, Shift+Enter copies all rows"},
    GadgetTip{ExportCommaButton,
              u"writes the results to a file (Ctrl+S comes here; Enter or "
              u"Space presses the focused button)"},
};

void ShowKeysInTooltips() {
  for (const GadgetTip& tip : GadgetTips) UiSetToolTip(tip.gadget, tip.tip);
  for (std::int64_t button = ExportNewlineButton; button <= ExportCsvTableButton; ++button) {
    UiSetToolTip(button, GadgetTips.back().tip);
  }
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

std::vector<ColumnArea> FittedColumns(std::int64_t width, std::int64_t height, int columnCount,
                                      const std::vector<std::int64_t>& needed) {
  const auto count = static_cast<std::size_t>(columnCount);
  auto neededAt = [&](std::size_t column) {
    return column < needed.size() ? needed[column] : std::int64_t{0};
  };
  std::vector<ColumnArea> areas;
  const double equal = static_cast<double>(width) / columnCount;
  bool allFit = true;
  for (std::size_t column = 0; column < count; ++column) {
    allFit = allFit && neededAt(column) <= static_cast<std::int64_t>(std::trunc(equal - ColumnGap));
  }
  if (allFit) {
    const int gadgets = std::min<int>(columnCount, static_cast<int>(needed.size()));
    for (int column = 0; column < gadgets; ++column) {
      areas.push_back(ColumnRect(width, height, columnCount, column));
    }
    return areas;
  }
  // Columns that need more than an equal share get what they need; the others share the
  // rest equally. Each column fixed may push the share of the rest below another's need.
  std::vector<double> slot(count, 0);
  std::vector<bool> fixed(count, false);
  double share = equal;
  for (bool changed = true; changed;) {
    changed = false;
    double rest = static_cast<double>(width);
    std::size_t sharing = 0;
    for (std::size_t column = 0; column < count; ++column) {
      if (fixed[column]) {
        rest -= slot[column];
      } else {
        ++sharing;
      }
    }
    if (sharing == 0) break;
    share = rest / static_cast<double>(sharing);
    for (std::size_t column = 0; column < count; ++column) {
      if (!fixed[column] && static_cast<double>(neededAt(column) + ColumnGap) > share) {
        fixed[column] = true;
        slot[column] = static_cast<double>(neededAt(column) + ColumnGap);
        changed = true;
      }
    }
  }
  double x = 0;
  for (std::size_t column = 0; column < std::min(count, needed.size()); ++column) {
    const double columnWidth = fixed[column] ? slot[column] : share;
    areas.push_back({static_cast<std::int64_t>(std::trunc(x)), 0,
                     static_cast<std::int64_t>(std::trunc(columnWidth - ColumnGap)), height});
    x += columnWidth;
  }
  return areas;
}

std::int64_t ColumnHolder(std::int64_t gadget) {
  return gadget == ResultsTree ? ResultsSplitter : gadget;
}

void LayOutWindow() {
  const ObjectNumber panel = State().mainPanel;
  UiResizeGadget(panel, 0, 0, UiWindowClientWidth(MainWindow), UiWindowClientHeight(MainWindow));
  // The gadgets fill a tab's page, which the panel's tab strip and frame leave them.
  const std::int64_t pageWidth = UiGadgetInnerWidth(panel);
  const std::int64_t pageHeight = UiGadgetInnerHeight(panel);
  for (const TabColumns& tab : TabsColumns) {
    std::vector<std::int64_t> needed;
    for (std::int64_t gadget = tab.firstGadget; gadget <= tab.lastGadget; ++gadget) {
      needed.push_back(UiGadgetRequiredWidth(gadget));
    }
    const std::vector<ColumnArea> areas = FittedColumns(pageWidth, pageHeight, tab.columns, needed);
    std::int64_t gadget = tab.firstGadget;
    for (const ColumnArea& r : areas) {
      UiResizeGadget(ColumnHolder(gadget++), r.x, r.y, r.width, r.height);
    }
  }
}

ColumnArea ColumnRect(std::int64_t width, std::int64_t height, int columnCount, int column) {
  const double columnWidth = static_cast<double>(width) / columnCount;
  return ColumnArea{
      column == 0 ? 0 : static_cast<std::int64_t>(std::trunc(columnWidth * column)),
      0,
      static_cast<std::int64_t>(std::trunc(columnWidth - ColumnGap)),
      height,
  };
}

void BuildMainWindow() {
  MakeKnownToTheDesktop();
  OpenMainWindow();
  BindShortcuts();
  UiEnableFileDrop(InputField);  // a file dropped from a file manager becomes the input
  FillOptions();
  ShowKeysInTooltips();
  LayOutWindow();  // once the texts are in, so that every column fits its texts
  ShowKeyHints();
}

}  // namespace evaluator
