// The commands around an evaluation, each run on the UI thread from a shortcut.
#pragma once

#include <string>

namespace evaluator {

inline constexpr char16_t HelpAddress[] = u"https://www.rexegg.com/regex-disambiguation.html";

void CopySelectedRow();  // Enter on the result tree
void CopyAllRows();      // Shift+Enter on the result tree
void ChooseInputFile();  // Ctrl+O
// Makes path the input file, as a choice in the chooser does: a file dropped on the field.
void TakeInputFile(const std::u16string& path);
void OpenInputFile();    // Ctrl+B
void AbortEvaluation();  // Esc
void OpenHelpPage();     // F1

}  // namespace evaluator
