#include "state.h"

namespace evaluator {

ApplicationState& State() {
  static ApplicationState state;
  return state;
}

std::u16string InputFilePath() {
  ApplicationState& state = State();
  std::lock_guard guard(state.textLock);
  return state.inputFilePath;
}

void SetInputFilePath(std::u16string path) {
  ApplicationState& state = State();
  std::lock_guard guard(state.textLock);
  state.inputFilePath = std::move(path);
}

}  // namespace evaluator
