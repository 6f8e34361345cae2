// Resident memory of the real evaluator (offscreen) at a fresh start, after one evaluation
// of a file, and after a tiny evaluation has cleared that evaluation's results: what a big
// result leaves behind once it is gone.
//
//   clear_memory_bench FILE PATTERN [groups]
//
// Prints the three figures in KiB and the time the clearing evaluation took, from Enter to
// its handled done event.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "app/evaluator.h"
#include "evaluate_by_enter.h"
#include "threads/posted_events.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"

namespace {

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Enter in the pattern field, then the loop until the done event has been handled.
double Evaluate(const std::u16string& pattern, const std::u16string& input) {
  UiSetText(evaluator::PatternField, pattern.c_str());
  UiSetText(evaluator::InputField, input.c_str());
  UiSetFocus(evaluator::PatternField);
  const auto start = std::chrono::steady_clock::now();
  QueueEvent(MenuEvent, evaluator::EnterCommand, evaluator::MainWindow, 0, 0, nullptr);
  int code = 0;
  while (code != evaluator::DoneEvent) {
    code = UiWaitEvent();
    evaluator::HandleEvent(code);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (!StartOffscreenWithFileAndPattern(argc, argv)) return 2;
  ModalSeam seam;  // a message would wait for a person
  seam.messageBox = [](const MessageBoxRequest&) { return std::int64_t{1}; };
  SetModalSeam(seam);
  // Matches only, or with their groups.
  const bool groups = argc > 3 && std::string(argv[3]) == "groups";
  UiSetItemState(evaluator::OptionsList, 1, groups ? 2 : 0);
  const long fresh = ResidentKiB();
  Evaluate(QString::fromLocal8Bit(argv[2]).toStdU16String(),
           u"<file://" + QString::fromLocal8Bit(argv[1]).toStdU16String() + u">");
  const long evaluated = ResidentKiB();
  const double clearing = Evaluate(u"a", u"a");
  std::printf(
      "fresh_rss %ld KiB\nevaluated_rss %ld KiB\ncleared_rss %ld KiB\n"
      "clearing_wall %.3f s\n",
      fresh, evaluated, ResidentKiB(), clearing);
  evaluator::ShutDown();
  return 0;
}
