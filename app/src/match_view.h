// The input view beside the result tree: the selected row's match and its groups seen in
// the input, and a selection in the input leading back to its match's row.
#pragma once

namespace evaluator {

// On the UI thread, when the tree's selection changed: shows the selected row's match and
// its groups in the input view, scrolled into view, and where the match lies.
void ShowSelectedMatch();

// On the UI thread, when the user selected text in the input view: selects the row of the
// match that covers it.
void SelectCoveringMatch();

// On the UI thread, before an evaluation: the view lets the last input go.
void ForgetShownInput();

}  // namespace evaluator
