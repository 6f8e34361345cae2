// The event loop's dispatch: gadget events (the export buttons), shortcut events, the close
// event and the two events the worker posts.
#include "app/evaluator.h"
#include "commands.h"
#include "export.h"
#include "regex/regex.h"
#include "runtime/strings.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker.h"

namespace evaluator {
namespace {

// A message without "|" is an error; otherwise its fields are title, text and flags.
void ShowMessage(const std::u16string& message) {
  if (message.find(u'|') == std::u16string::npos) {
    UiMessageBox(u"error", message.c_str(), IconError);
    return;
  }
  const String title = TakeResult([&](std::int64_t at) { FieldAt(message.c_str(), 1, u"|", at); });
  const String text = TakeResult([&](std::int64_t at) { FieldAt(message.c_str(), 2, u"|", at); });
  const String flags = TakeResult([&](std::int64_t at) { FieldAt(message.c_str(), 3, u"|", at); });
  UiMessageBox(title.data(), text.data(), ParseInteger(flags.data()));
}

void ShowResults() {
  ApplicationState& state = State();
  UiSetState(state.mainPanel, ResultTab);
  UiSetState(ResultsTree, 0);
  UiSetFocus(ResultsTree);
  if (RegexIsValid(0)) RegexFree(0);
  SetInputText(nullptr);
}

void HandleUserEvent(int code) {
  ApplicationState& state = State();
  state.eventMessageText.clear();
  if (UiEventData() != 0) state.eventMessageText = reinterpret_cast<const char16_t*>(UiEventData());
  if (code == MessageEvent) ShowMessage(state.eventMessageText);
  if (code == DoneEvent) ShowResults();
}

void HandleEnter() {
  if (UiFocusedGadget() == ResultsTree) {
    CopySelectedRow();
  } else if (ThreadIsRunning(State().workerThread)) {
    UiMessageBox(u"In progress", u"Evaluating is already in progress.", IconWarning);
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
  // Alt+P, Alt+S, Alt+O and Alt+R: the event number is the gadget to focus.
  if (command >= 1 && command <= ResultsTree) {
    ShowAndFocus(command);
    return;
  }
  switch (command) {
    case HelpCommand: OpenHelpPage(); break;
    case AbortCommand: AbortEvaluation(); break;
    case EnterCommand: HandleEnter(); break;
    case ChooseFileCommand: ChooseInputFile(); break;
    case OpenInputFileCommand: OpenInputFile(); break;
    case CopyAllCommand: CopyAllRows(); break;
    case SaveCommand: ShowAndFocus(ExportCommaButton); break;  // the save buttons
    default: break;
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
  if (code == GadgetEvent && object >= ExportCommaButton && object <= ExportXmlButton) Export(object);
  if (code == FileDropEvent) HandleFileDrop(object);
  return code != CloseEvent;
}

}  // namespace evaluator
