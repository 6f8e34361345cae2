// Runs the real evaluator on Qt's offscreen platform over one file and one pattern, then
// clicks each of the six export buttons in turn with the save chooser answered by a path
// in a temporary folder, as a user would after an evaluation.
//
//   export_bench FILE PATTERN [groups] [keep] [FORMAT...]
//
// FORMAT names the buttons to click (comma, newline, tab, json, xml, csv); all six when
// none is named.
// Prints the evaluation's wall time and match count, then for each button the time from
// the click until the message box, the box's text, the size of the written file, the peak
// resident memory the export added (VmHWM is reset to the resident size before each
// click, so the peak belongs to that export alone), how much resident memory stayed
// once the box was shown, and the longest stall: the longest time between the click and
// the box during which the window handled none of its events (a timer on the window's
// thread, due every millisecond, notes the gaps between its ticks). Last the resident
// memory once a tiny evaluation has cleared the results: what the exports left behind.
// The files are removed at the end unless "keep" is given.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QtGlobal>
#include <algorithm>

#include "app/evaluator.h"
#include "evaluate_by_enter.h"
#include "proc_status.h"
#include "records/record_list.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"
#include "ui_objects.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ExportButton {
  std::int64_t gadget;
  const char* name;
  const char* fileName;
};

constexpr ExportButton Buttons[] = {
    {evaluator::ExportCommaButton, "comma", "export_comma.txt"},
    {evaluator::ExportNewlineButton, "newline", "export_newline.txt"},
    {evaluator::ExportTabButton, "tab", "export_tab.txt"},
    {evaluator::ExportJsonButton, "json", "export.json"},
    {evaluator::ExportXmlButton, "xml", "export.xml"},
    {evaluator::ExportCsvTableButton, "csv", "export.csv"},
};

// What the seam saw of the last export: where the chooser was answered and the box.
struct SeamRecord {
  std::u16string chosenPath;
  std::optional<Clock::time_point> boxShownAt;
  std::u16string boxText;
};

SeamRecord& Seen() {
  static SeamRecord record;
  return record;
}

void InstallSeam() {
  ModalSeam seam;
  seam.chooseFile = [](const FileChooserRequest&) { return Seen().chosenPath; };
  seam.messageBox = [](const MessageBoxRequest& request) {
    Seen().boxShownAt = Clock::now();
    Seen().boxText = request.text;
    return std::int64_t{1};
  };
  SetModalSeam(seam);
}

void Click(std::int64_t gadget) {
  ::Gadget* found = ui_objects::FindGadget(gadget);
  auto* button = found ? qobject_cast<QAbstractButton*>(found->Widget()) : nullptr;
  if (button) {
    button->click();
  } else {  // what the button's click queues
    QueueEvent(GadgetEvent, gadget, evaluator::MainWindow, 0, 0, nullptr);
  }
}

// The longest gap between two ticks of a timer on the window's thread, the last gap
// ending when the box is shown.
class StallWatch {
 public:
  StallWatch() : last_(Clock::now()) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Note(Clock::now()); });
    timer_.start(1);
  }
  double LongestMilliseconds(Clock::time_point end) {
    Note(end);
    return std::chrono::duration<double, std::milli>(longest_).count();
  }

 private:
  void Note(Clock::time_point now) {
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  QTimer timer_;
  Clock::time_point last_;
  Clock::duration longest_{};
};

void MeasureExport(const ExportButton& button, const std::filesystem::path& folder) {
  const std::filesystem::path target = folder / button.fileName;
  Seen() = SeamRecord{QString::fromStdString(target.string()).toStdU16String(), {}, {}};
  const bool peakReset = ResetPeakResident();
  const long residentBefore = StatusKiB("VmRSS:");
  const Clock::time_point start = Clock::now();
  StallWatch stalls;
  Click(button.gadget);
  while (!Seen().boxShownAt) evaluator::HandleEvent(UiWaitEvent());
  const double seconds = std::chrono::duration<double>(*Seen().boxShownAt - start).count();
  const double stall = stalls.LongestMilliseconds(*Seen().boxShownAt);
  const long peak = StatusKiB("VmHWM:");
  const long residentAfter = StatusKiB("VmRSS:");
  const HeapKiB heap = HeapFigures();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(target, error);
  std::printf(
      "%-8s %7.3f s  longest_stall %7.1f ms  %10llu bytes  peak_added %7ld KiB%s  "
      "rss_kept %7ld KiB  heap_in_use %ld KiB  heap_held_free %ld KiB  box \"%s\"\n",
      button.name, seconds, stall, error ? 0ull : static_cast<unsigned long long>(size),
      peak - residentBefore, peakReset ? "" : " (peak not reset: since start)",
      residentAfter - residentBefore, heap.inUse, heap.heldFree,
      QString::fromStdU16String(Seen().boxText).toUtf8().constData());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PATTERN [groups] [keep]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  bool groups = false;
  bool keep = false;
  std::vector<ExportButton> chosen;
  for (int i = 3; i < argc; ++i) {
    const std::string argument = argv[i];
    groups = groups || argument == "groups";
    keep = keep || argument == "keep";
    for (const ExportButton& button : Buttons) {
      if (argument == button.name) chosen.push_back(button);
    }
  }
  if (chosen.empty()) chosen.assign(std::begin(Buttons), std::end(Buttons));
  std::string folderTemplate =
      (std::filesystem::temp_directory_path() / "export_bench.XXXXXX").string();
  if (!mkdtemp(folderTemplate.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder(folderTemplate);

  evaluator::StartUp();
  InstallSeam();
  const std::u16string reference =
      u"<file://" + QString::fromLocal8Bit(argv[1]).toStdU16String() + u">";
  UiSetText(evaluator::PatternField, QString::fromLocal8Bit(argv[2]).toStdU16String().c_str());
  UiSetText(evaluator::InputField, reference.c_str());
  UiSetItemState(evaluator::OptionsList, 1, groups ? 2 : 0);
  UiSetItemState(evaluator::OptionsList, 2, 0);  // case-sensitive

  const double evaluation = EvaluateByEnter();
  std::int64_t matches = 0;
  {
    std::lock_guard guard(evaluator::State().resultListLock);
    matches = ListCount(evaluator::State().resultList);
  }
  std::printf("evaluation %.3f s  matches %lld  rss %ld KiB\n", evaluation,
              static_cast<long long>(matches), StatusKiB("VmRSS:"));
  std::printf("folder %s\n", folder.c_str());
  for (const ExportButton& button : chosen) MeasureExport(button, folder);
  UiSetText(evaluator::PatternField, u"a");
  UiSetText(evaluator::InputField, u"a");
  EvaluateByEnter();
  const HeapKiB heap = HeapFigures();
  std::printf(
      "cleared  rss %ld KiB  heap_in_use %ld KiB  heap_held_free %ld KiB (after a tiny "
      "evaluation replaced the results)\n",
      StatusKiB("VmRSS:"), heap.inUse, heap.heldFree);
  evaluator::ShutDown();
  if (!keep) std::filesystem::remove_all(folder);
  return 0;
}
