// The event loop: waits for events and dispatches gadget events (the export buttons),
// shortcut events, file drops, the close event and the two events the worker posts.
#include "app/evaluator.h"
#include "commands.h"
#include "evaluation_request.h"
#include "export.h"
#include "main_window.h"
#include "match_view.h"
#include "messages.h"
#include "runtime/strings.h"
#include "state.h"
#include "status_line.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

void ShowResults() {
  ApplicationState& state = State();
  UiSetState(state.mainPanel, ResultTab);
  UiSetState(ResultsTree, 0);
  UiSetFocus(ResultsTree);
  StatusLineDone();
}

bool IsExportButton(std::int64_t gadget) {
  return gadget >= ExportCommaButton && gadget <= ExportCsvTableButton;
}

void HandleUserEvent(int code) {
  ApplicationState& state = State();
  state.eventMessageText.clear();
  if (UiEventData() != 0) state.eventMessageText = reinterpret_cast<const char16_t*>(UiEventData());
  if (code == MessageEvent) {
    StatusLineCleared();
    ShowPostedMessage(state.eventMessageText);
  }
  if (code == DoneEvent) ShowResults();
}

// Enter on a focused export button presses it, as after Ctrl+S brought the user there.
void HandleEnter() {
  const std::int64_t focused = UiFocusedGadget();
  if (focused == ResultsTree) {
    CopySelectedRow();
  } else if (IsExportButton(focused)) {
    Export(focused);
  } else if (ThreadIsRunning(State().workerThread)) {
    ShowUserMessage(EvaluationInProgressMessage());
  } else {
    StartEvaluation();
  }
}

// A focus shortcut brings the gadget's tab to the front first: the focus on a hidden tab
// would send what the user types nowhere visible.
void ShowAndFocus(std::int64_t gadget) {
  UiSetState(State().mainPanel, TabOf(gadget));
  UiSetFocus(gadget);
}

void HandleMenuEvent(std::int64_t command) {
  if (IsFocusCommand(command)) {
    ShowAndFocus(command);
    return;
  }
  switch (command) {
    case HelpCommand:
      OpenHelpPage();
      break;
    case AbortCommand:
      AbortEvaluation();
      break;
    case EnterCommand:
      HandleEnter();
      break;
    case ChooseFileCommand:
      ChooseInputFile();
      break;
    case OpenInputFileCommand:
      OpenInputFile();
      break;
    case CopyAllCommand:
      CopyAllRows();
      break;
    case SaveCommand:
      ShowAndFocus(ExportCommaButton);
      break;  // the save buttons
    default:
      break;
  }
}

// Only the input field takes dropped files (see StartUp); the data word is the path.
void HandleFileDrop(std::int64_t gadget) {
  if (gadget != InputField || UiEventData() == 0) return;
  TakeInputFile(reinterpret_cast<const char16_t*>(UiEventData()));
}

}  // namespace

bool HandleEvent(int code) {
  const std::int64_t object = UiEventObject();
  if (code >= UserEventBase) HandleUserEvent(code);
  if (code == MenuEvent) HandleMenuEvent(object);
  if (code == GadgetEvent && IsExportButton(object)) Export(object);
  if (code == FileDropEvent) HandleFileDrop(object);
  if (code == SizeWindowEvent && object == MainWindow) LayOutWindow();
  if (code == TimerEvent) StatusLineTick();
  if (code == SelectionEvent && object == ResultsTree) ShowSelectedMatch();
  if (code == SelectionEvent && object == InputView) SelectCoveringMatch();
  return code != CloseEvent;
}

int Run() {
  StartUp();
  while (HandleEvent(UiWaitEvent())) {
  }
  ShutDown();
  return 0;
}

}  // namespace evaluator
