// One evaluation as the user asked for it when Enter was pressed: the process mode, the
// compile flags, the pattern and the input (a typed text, or the path of the file the input
// field refers to). It is gathered on the UI thread in one go and handed to the worker,
// which reads nothing of the window, so an edit made after Enter never reaches a running
// evaluation. The leaf of the app's headers: it includes no other app header.
#pragma once

#include <cstdint>
#include <string>

namespace evaluator {

// Which rows a match gets in the result tree, from the first two option items.
enum class EvaluationMode { Neither, MatchesOnly, GroupsOnly, MatchesAndGroups };

// Whether a mode shows the match texts, and the group texts.
inline bool ModeKeepsMatches(EvaluationMode mode) {
  return mode == EvaluationMode::MatchesOnly || mode == EvaluationMode::MatchesAndGroups;
}
inline bool ModeKeepsGroups(EvaluationMode mode) {
  return mode == EvaluationMode::GroupsOnly || mode == EvaluationMode::MatchesAndGroups;
}

// An input field text of the form <file://path> refers to the file at path.
inline constexpr char16_t FileReferencePrefix[] = u"<file://";
inline constexpr char16_t FileReferenceEnd[] = u">";

struct Evaluation {
  EvaluationMode mode = EvaluationMode::MatchesAndGroups;
  std::int32_t flags = 0;  // PCRE compile options
  std::u16string pattern;
  // The typed text, or, when fromFile, the path of the file to read.
  std::u16string input;
  bool fromFile = false;
};

}  // namespace evaluator
