#include "commands.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "app/evaluator.h"
#include "evaluation.h"
#include "evaluation_request.h"
#include "messages.h"
#include "runtime/file_stream.h"
#include "runtime/text_encoding.h"
#include "state.h"
#include "status_line.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

// The input file as the worker read it: a relative reference names a file in the working
// folder. Handed on with its full path, no opener takes it for an address or an option.
std::u16string FullPath(const std::u16string& path) {
  if (path.starts_with(u"/")) return path;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  if (error) return {};
  return Utf8ToUtf16((folder / Utf16ToUtf8(path)).string());
}

}  // namespace

void CopySelectedRow() { UiSetClipboardText(UiGetText(ResultsTree)); }

void CopyAllRows() {
  if (UiFocusedGadget() != ResultsTree) return;
  UiSetClipboardText(UiGetAllItemTexts(ResultsTree, u"\r\n"));
}

// A cancelled chooser changes nothing: the file chosen before stays for Ctrl+B and export.
void ChooseInputFile() {
  const std::u16string path = UiAskOpenFile(u"input file", u"", u"all | *.*", 0);
  if (!path.empty()) TakeInputFile(path);
}

void TakeInputFile(const std::u16string& path) {
  SetInputFilePath(path);
  if (ProbeFileSize(path.c_str()) < 0) {
    ShowUserMessage(FileNotOpenedMessage());
    return;
  }
  const std::u16string reference = FileReferencePrefix + path + FileReferenceEnd;
  UiSetText(InputField, reference.c_str());
}

// xdg-open on a Linux desktop, open where that is the platform's opener; each is started
// only from PATH's own folders.
void OpenInputFile() {
  const std::u16string path = InputFilePath();
  if (path.empty()) return;
  const std::u16string document = FullPath(path);
  if (document.empty() || (UiRunProgram(u"xdg-open", document.c_str(), u"") == 0 &&
                           UiRunProgram(u"open", document.c_str(), u"") == 0)) {
    ShowUserMessage(NoFileOpenerMessage(path));
  }
}

void AbortEvaluation() {
  ApplicationState& state = State();
  if (!ThreadIsRunning(state.workerThread)) return;
  StopWorker();
  StatusLineStopped();
  ShowUserMessage(EvaluationAbortedMessage());
}

void OpenHelpPage() {
  if (UiRunProgram(HelpAddress, u"", u"") != 0) return;
  ShowUserMessage(NoAddressOpenerMessage(HelpAddress));
}

}  // namespace evaluator
