// The commands around an evaluation, each run on the UI thread from a shortcut.
#pragma once

namespace evaluator {

inline constexpr char16_t FileReferencePrefix[] = u"<file://";
inline constexpr char16_t HelpAddress[] = u"https://www.rexegg.com/regex-disambiguation.html";

void CopySelectedRow();  // Enter on the result tree
void CopyAllRows();      // Shift+Enter on the result tree
void ChooseInputFile();  // Ctrl+O
void OpenInputFile();    // Ctrl+B
void AbortEvaluation();  // Esc
void OpenHelpPage();     // F1

}  // namespace evaluator
