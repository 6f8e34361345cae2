// What the window looked like right after start-up, before any test touched it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/evaluator.h"

namespace evaluator_test {

struct StartUpSnapshot {
  std::int64_t focused = -2;
  std::vector<std::int64_t> optionStates;
  std::vector<std::int64_t> optionData;
  std::vector<std::u16string> optionTexts;
  std::int64_t currentOption = -1;
  std::int64_t frontTab = -1;
  std::u16string windowTitle;
  bool maximised = false;
  std::int64_t clientWidth = 0;
  std::int64_t clientHeight = 0;
  std::vector<evaluator::ColumnArea> gadgetRects;  // gadgets 0 to 12, as placed
};

const StartUpSnapshot& StartUpState();
void TakeStartUpSnapshot();

}  // namespace evaluator_test
