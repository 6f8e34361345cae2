#include <cmath>

#include "app/evaluator.h"

namespace evaluator {

Tab TabOf(std::int64_t gadget) {
  if (gadget <= OptionsList) return MainTab;
  if (gadget <= ResultsTree) return ResultTab;
  return ExportTab;
}

GadgetRect ColumnRect(std::int64_t width, std::int64_t height, int columnCount, int column) {
  const double columnWidth = static_cast<double>(width) / columnCount;
  return GadgetRect{
      column == 0 ? 0 : static_cast<std::int64_t>(std::trunc(columnWidth * column)),
      0,
      static_cast<std::int64_t>(std::trunc(columnWidth - 5)),
      height,
  };
}

}  // namespace evaluator
