#include "match_view.h"

#include <string>
#include <vector>

#include "app/evaluator.h"
#include "state.h"
#include "status_line.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

// The view takes the input when a row is first shown, not before: an evaluation stopped
// part way shows its rows' matches too.
bool viewHasInput = false;
PositionCounter positions;

// Above the view, next to the highlight, and in the status line, where a user looks for
// where they are.
void ShowPosition(const std::u16string& text) {
  UiSetText(InputView, text.c_str());
  UiSetStatusText(MainWindow, PositionPart, text.c_str());
}

}  // namespace

void ShowSelectedMatch() {
  const MatchPlaces& places = State().matchPlaces;
  const std::int64_t match = places.MatchOfRow(UiGetState(ResultsTree));
  const std::vector<UiTextRange> ranges = places.Ranges(match);
  if (ranges.empty()) {
    UiSetViewHighlights(InputView, nullptr, 0);
    ShowPosition(u"");
    return;
  }
  const SharedUtf8 input = places.Input();
  if (!viewHasInput) {
    UiSetViewText(InputView, input);
    viewHasInput = true;
  }
  UiSetViewHighlights(InputView, ranges.data(), static_cast<std::int64_t>(ranges.size()));
  ShowPosition(positions.PositionText(input, ranges.front().start));
}

void SelectCoveringMatch() {
  const MatchPlaces& places = State().matchPlaces;
  const std::int64_t row = places.FirstRowOf(places.Covering(UiGetViewSelection(InputView)));
  // The tree tells its own selection change, which shows the match.
  if (row >= 0 && places.MatchOfRow(UiGetState(ResultsTree)) != places.MatchOfRow(row)) {
    UiSetState(ResultsTree, row);
  }
}

void ForgetShownInput() {
  UiSetViewText(InputView, SharedUtf8{});
  ShowPosition(u"");
  viewHasInput = false;
  positions = PositionCounter{};
  State().matchPlaces.Clear();
}

}  // namespace evaluator
