#include "startup_snapshot.h"

#include <QWidget>

#include "evaluator_test_support.h"
#include "main_window.h"
#include "state.h"
#include "ui/ui.h"
#include "ui/widget_seam.h"

namespace evaluator_test {
namespace {
StartUpSnapshot snapshot;
}

const StartUpSnapshot& StartUpState() { return snapshot; }

void TakeStartUpSnapshot() {
  snapshot.focused = UiFocusedGadget();
  for (std::int64_t item = 0; item < UiCountItems(evaluator::OptionsList); ++item) {
    snapshot.optionStates.push_back(UiGetItemState(evaluator::OptionsList, item));
    snapshot.optionData.push_back(UiGetItemData(evaluator::OptionsList, item));
    snapshot.optionTexts.emplace_back(UiGetItemText(evaluator::OptionsList, item, 0));
  }
  snapshot.currentOption = UiGetState(evaluator::OptionsList);
  snapshot.frontTab = UiGetState(evaluator::State().mainPanel);
  QWidget* window = UiWindowWidget(evaluator::MainWindow);
  snapshot.windowTitle = window->windowTitle().toStdU16String();
  snapshot.maximised = window->isMaximized();
  snapshot.clientWidth = UiWindowClientWidth(evaluator::MainWindow);
  snapshot.clientHeight = UiWindowClientHeight(evaluator::MainWindow);
  for (std::int64_t gadget = evaluator::PatternLabel; gadget <= evaluator::ExportCsvTableButton;
       ++gadget) {
    const QRect placed = WidgetOf(evaluator::ColumnHolder(gadget))->geometry();
    snapshot.gadgetRects.push_back({placed.x(), placed.y(), placed.width(), placed.height()});
  }
}

}  // namespace evaluator_test
