// Start-up and shut-down: the runtime libraries come up and go down in fixed orders, listed
// here side by side. Libraries the evaluator links but does not use have empty steps.
#include <malloc.h>

#include <array>

#include "app/evaluator.h"
#include "commands.h"
#include "json/json.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/thread_data.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker.h"
#include "xml/xml.h"

namespace evaluator {
namespace {

struct LibraryStep {
  const char* library;
  void (*step)();
};

void Nothing() {}

// The program's heap: an evaluation allocates millions of small blocks (records, strings,
// group lists) on the worker thread, so the heap grows in large steps rather than one
// system call every few hundred blocks.
void CreateProgramHeap() { mallopt(M_TOP_PAD, 64 << 20); }

constexpr std::array StartUpOrder{
    LibraryStep{"string manager", StringManagerInit},
    LibraryStep{"arrays", Nothing},
    LibraryStep{"maps", Nothing},
    LibraryStep{"posted events", PostEventInit},
    LibraryStep{"file streams", FileStreamInit},
    LibraryStep{"fonts", Nothing},
    LibraryStep{"memory blocks", Nothing},
    LibraryStep{"vector drawing", Nothing},
    LibraryStep{"image saving", Nothing},
    LibraryStep{"image decoders", Nothing},
    LibraryStep{"linked lists", Nothing},  // its tables are complete before main runs
    LibraryStep{"images", Nothing},
    LibraryStep{"2D drawing", Nothing},
    LibraryStep{"desktop scaling", Nothing},
    LibraryStep{"windows", UiInit},  // windows and gadgets, with the posted-event receiver
    LibraryStep{"gadgets", Nothing},
    LibraryStep{"JSON", JsonInit},
    LibraryStep{"programs", Nothing},
    LibraryStep{"regular expressions", RegexInit},
    LibraryStep{"dialogs", Nothing},
    LibraryStep{"threads", ThreadInit},
    LibraryStep{"XML", XmlInit},
};

constexpr std::array ShutDownOrder{
    LibraryStep{"XML", XmlEnd},
    LibraryStep{"threads", ThreadEnd},
    LibraryStep{"regular expressions", RegexEnd},
    LibraryStep{"keyboard input", Nothing},
    LibraryStep{"mouse input", Nothing},
    LibraryStep{"full-screen drawing", Nothing},
    LibraryStep{"sprites", Nothing},
    LibraryStep{"JSON", JsonEnd},  // frees every document
    LibraryStep{"gadgets", Nothing},
    LibraryStep{"windows", UiEnd},
    LibraryStep{"desktop scaling", Nothing},
    LibraryStep{"2D drawing", Nothing},
    LibraryStep{"images", Nothing},
    LibraryStep{"vector drawing", Nothing},
    LibraryStep{"fonts", Nothing},
    LibraryStep{"file streams", FileStreamEnd},
    LibraryStep{"posted events", PostEventEnd},
    LibraryStep{"per-thread data", PerThreadDataEnd},
    LibraryStep{"input devices", Nothing},
    LibraryStep{"memory blocks", Nothing},
    LibraryStep{"string manager", StringManagerEnd},
};

template <std::size_t N>
void RunSteps(const std::array<LibraryStep, N>& steps) {
  for (const LibraryStep& library : steps) library.step();
}

struct Shortcut {
  std::int64_t word;
  std::int64_t event;
};

constexpr std::array Shortcuts{
    Shortcut{0x70, HelpCommand},                  // F1
    Shortcut{0x1B, AbortCommand},                 // Esc
    Shortcut{0x0D, EnterCommand},                 // Enter
    Shortcut{AltKey + 'P', PatternField},         // Alt+P
    Shortcut{AltKey + 'S', InputField},           // Alt+S
    Shortcut{AltKey + 'O', OptionsList},          // Alt+O
    Shortcut{AltKey + 'R', ResultsTree},          // Alt+R
    Shortcut{ControlKey + 'O', ChooseFileCommand},
    Shortcut{ControlKey + 'S', SaveCommand},
    Shortcut{ControlKey + 'B', OpenInputFileCommand},
    Shortcut{ShiftKey + 0x0D, CopyAllCommand},    // Shift+Enter
};

struct OptionItem {
  const char16_t* text;
  std::int64_t data;
  bool initiallyTicked;
};

// Items 2 to 5 carry the compile flags the worker ORs together.
constexpr std::array OptionItems{
    OptionItem{u"process matches", 0, true},
    OptionItem{u"process groups", 0, true},
    OptionItem{u"match as case-insensitive", 1, true},
    OptionItem{u"match all newlines", 0x500000, false},
    OptionItem{u"match anything including newlines with . (dot)", 4, false},
    OptionItem{u"match newlines with ^ and $", 2, false},
};

constexpr std::int64_t TextFieldStyle = 0x2000C7;

// The next gadget of the current tab goes into column `column` of `columnCount`.
GadgetRect NextColumn(int columnCount, int column) {
  return ColumnRect(UiWindowClientWidth(MainWindow), UiWindowClientHeight(MainWindow),
                    columnCount, column);
}

void LayOutMainTab() {
  constexpr int columns = 6;
  GadgetRect r = NextColumn(columns, 0);
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
  GadgetRect r = NextColumn(columns, 0);
  UiCreateLabel(ResultsLabel, r.x, r.y, r.width, r.height, u"results");
  r = NextColumn(columns, 1);
  UiCreateTree(ResultsTree, r.x, r.y, r.width, r.height);
}

void LayOutExportTab() {
  constexpr int columns = 11;
  constexpr std::array<const char16_t*, 5> titles{
      u"comma delimited txt", u"new line delimited txt", u"tab delimited txt", u"json",
      u"xml"};
  for (int column = 0; column < static_cast<int>(titles.size()); ++column) {
    GadgetRect r = NextColumn(columns, column);
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
    if (OptionItems[item].initiallyTicked) UiSetItemState(OptionsList, index, 3);
    if (item >= 2) UiSetItemData(OptionsList, index, OptionItems[item].data);
  }
  UiSetState(OptionsList, 0);
}

void CreateResultList() {
  ApplicationState& state = State();
  state.resultList = CreateLazyMatchRecordList(&state.resultListSlot);
}

// The desktop entry and the icon are both named after the program.
void MakeKnownToTheDesktop() { UiSetDesktopName(u"regex-evaluator"); }

}  // namespace

void StartUp() {
  CreateProgramHeap();
  RunSteps(StartUpOrder);
  MakeKnownToTheDesktop();
  OpenMainWindow();
  BindShortcuts();
  UiEnableFileDrop(InputField);  // a file dropped from a file manager becomes the input
  FillOptions();
  CreateResultList();
}

void ShutDown() {
  StopWorker();
  RunSteps(ShutDownOrder);
}

int Run() {
  StartUp();
  while (HandleEvent(UiWaitEvent())) {
  }
  ShutDown();
  return 0;
}

}  // namespace evaluator
