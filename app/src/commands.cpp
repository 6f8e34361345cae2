#include "commands.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "app/evaluator.h"
#include "runtime/file_stream.h"
#include "state.h"
#include "status_line.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker.h"

namespace evaluator {
namespace {

// Whether PATH (or the usual folders when it is unset) holds an executable program.
bool OnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t end = folders.find(':');
    const std::string candidate = std::string(folders.substr(0, end)) + "/" + std::string(program);
    if (access(candidate.c_str(), X_OK) == 0) return true;
    folders = end == std::string_view::npos ? std::string_view() : folders.substr(end + 1);
  }
  return false;
}

// The opener that hands a document to its associated application: xdg-open on a Linux
// desktop, open where that is the platform's opener; null when neither is installed.
const char16_t* DocumentOpener() {
  if (OnPath("xdg-open")) return u"xdg-open";
  if (OnPath("open")) return u"open";
  return nullptr;
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
    UiMessageBox(u"error", u"can't open file", IconError);
    return;
  }
  const std::u16string reference = FileReferencePrefix + path + u">";
  UiSetText(InputField, reference.c_str());
}

void OpenInputFile() {
  const std::u16string path = InputFilePath();
  if (path.empty()) return;
  const char16_t* opener = DocumentOpener();
  if (!opener) {
    // Handing the opener's name on would have the desktop look for a document called so.
    const std::u16string message =
        u"can't open " + path + u": no program to open files was found (xdg-open or open).";
    UiMessageBox(u"error", message.c_str(), IconError);
    return;
  }
  UiRunProgram(opener, path.c_str(), u"");
}

void AbortEvaluation() {
  ApplicationState& state = State();
  if (!ThreadIsRunning(state.workerThread)) return;
  StopWorker();
  StatusLineStopped();
  UiMessageBox(u"aborted", u"Evaluation aborted", IconInformation);
}

void OpenHelpPage() { UiRunProgram(HelpAddress, u"", u""); }

}  // namespace evaluator
