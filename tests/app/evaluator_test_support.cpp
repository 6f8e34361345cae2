#include "evaluator_test_support.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stop_token>
#include <thread>

#include "evaluation_request.h"
#include "records/match_record.h"
#include "runtime/file_stream.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/widget_seam.h"

namespace evaluator_test {
namespace {

// Posted after a worker has ended; since posting keeps order, once the loop has seen it
// every event of that worker has been handled.
constexpr int WorkerDrainedEvent = 0x1FFF0;
// Posted now and then while a test runs the loop, so that a wait never blocks for good.
constexpr int WakeUpEvent = 0x1FFF1;

void InstallRecordingSeam() {
  ModalSeam seam;
  seam.messageBox = [](const MessageBoxRequest& request) {
    Modal().boxes.push_back(request);
    return std::int64_t{1};
  };
  seam.chooseFile = [](const FileChooserRequest& request) {
    Modal().choosers.push_back(request);
    return Modal().chosenFile;
  };
  seam.startProgram = [](const std::u16string& program,
                         const std::vector<std::u16string>& arguments, const std::u16string&) {
    Modal().launches.push_back({program, arguments});
    return true;
  };
  seam.openDocument = [](const std::u16string& address) {
    Modal().openedDocuments.push_back(address);
    return Modal().desktopOpens;
  };
  SetModalSeam(seam);
}

}  // namespace

ModalRecord& Modal() {
  static ModalRecord record;
  return record;
}

QWidget* WidgetOf(std::int64_t gadget) { return UiGadgetWidget(gadget); }

void Press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QWidget* target = QApplication::focusWidget();
  if (!target) target = WidgetOf(evaluator::PatternField);
  QTest::keyClick(target, key, modifiers);
}

bool RunLoopUntil(const std::function<bool()>& condition, int timeoutMs) {
  std::jthread waker([](std::stop_token stop) {
    while (!stop.stop_requested()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      PostEvent(WakeUpEvent);
    }
  });
  QElapsedTimer waited;
  waited.start();
  // Events already queued (a key's menu event) are handled before the condition is asked.
  while (HasQueuedEvent() != 0) evaluator::HandleEvent(UiWaitEvent());
  while (!condition()) {
    if (waited.elapsed() > timeoutMs) return false;
    evaluator::HandleEvent(UiWaitEvent());
  }
  return true;
}

bool RunLoopUntilWorkerDone(int timeoutMs) {
  RunLoopUntil([] { return true; });  // handles the key that started the worker
  const std::int64_t worker = evaluator::State().workerThread;
  if (!RunLoopUntil([worker] { return !ThreadIsRunning(worker); }, timeoutMs)) return false;
  PostEvent(WorkerDrainedEvent);
  return RunLoopUntil([] { return UiEventCode() == WorkerDrainedEvent; }, timeoutMs);
}

void ResetEvaluator() {
  evaluator::StopWorker();
  RunLoopUntilWorkerDone(5000);
  InstallRecordingSeam();
  Modal() = ModalRecord{};
  UiSetText(evaluator::PatternField, u"");
  UiSetText(evaluator::InputField, u"");
  for (std::int64_t item = 0; item < UiCountItems(evaluator::OptionsList); ++item) {
    UiSetItemState(evaluator::OptionsList, item, item < 3 ? 3 : 0);
  }
  UiSetState(evaluator::OptionsList, 0);
  UiClearItems(evaluator::ResultsTree);
  evaluator::ApplicationState& state = evaluator::State();
  {
    std::lock_guard guard(state.resultListLock);
    ListClear(state.resultList);
  }
  evaluator::SetInputFilePath(u"");
  UiSetState(state.mainPanel, 0);
  UiSetFocus(evaluator::PatternField);
  QCoreApplication::processEvents();
  while (NextQueuedEvent() != 0) {
  }
}

void Evaluate(const std::u16string& pattern, const std::u16string& input, Options options) {
  UiSetText(evaluator::PatternField, pattern.c_str());
  UiSetText(evaluator::InputField, input.c_str());
  UiSetItemState(evaluator::OptionsList, 0, options.matches ? 2 : 0);
  UiSetItemState(evaluator::OptionsList, 1, options.groups ? 2 : 0);
  UiSetItemState(evaluator::OptionsList, 2, options.caseInsensitive ? 2 : 0);
  UiSetFocus(evaluator::PatternField);
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntilWorkerDone());
}

std::vector<std::u16string> TreeRows() {
  std::vector<std::u16string> rows;
  const std::int64_t count = UiCountItems(evaluator::ResultsTree);
  for (std::int64_t row = 0; row < count; ++row) {
    rows.emplace_back(UiGetItemText(evaluator::ResultsTree, row, 0));
  }
  return rows;
}

std::vector<int> RootChildCounts() {
  auto* view = qobject_cast<QTreeView*>(WidgetOf(evaluator::ResultsTree));
  if (!view) return {};
  QAbstractItemModel* model = view->model();
  // The view learns of new rows in batches: wait until it shows every row there is.
  auto shownRows = [model] {
    std::int64_t rows = 0;
    for (int root = 0; root < model->rowCount(); ++root) {
      rows += 1 + model->rowCount(model->index(root, 0));
    }
    return rows;
  };
  RunLoopUntil([&] { return shownRows() == UiCountItems(evaluator::ResultsTree); }, 5000);
  std::vector<int> counts;
  for (int root = 0; root < model->rowCount(); ++root) {
    counts.push_back(model->rowCount(model->index(root, 0)));
  }
  return counts;
}

std::vector<RecordTexts> ResultRecords() {
  evaluator::ApplicationState& state = evaluator::State();
  std::lock_guard guard(state.resultListLock);
  std::vector<RecordTexts> records;
  for (ListElement* element = state.resultList->first; element; element = element->next) {
    auto* record = static_cast<MatchRecord*>(RecordOf(element));
    RecordTexts texts{record->m ? record->m : u"", {}};
    // A record that never had a group has no group list.
    ListElement* first = record->g.list ? record->g.list->first : nullptr;
    for (ListElement* group = first; group; group = group->next) {
      const StringVar text = *static_cast<StringVar*>(RecordOf(group));
      texts.g.emplace_back(text ? text : u"");
    }
    records.push_back(texts);
  }
  return records;
}

std::string Narrow(const std::u16string& text) {
  return QString::fromStdU16String(text).toStdString();
}

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "evaluator-test-XXXXXX").string();
  path_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::u16string TemporaryFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << bytes;
  return PathOf(name);
}

std::u16string TemporaryFolder::PathOf(const std::string& name) const {
  return QString::fromStdString(path_ + "/" + name).toStdU16String();
}

ControlGroupRoom::ControlGroupRoom(std::int64_t room) {
  const std::string root = Narrow(folder_.PathOf(""));
  std::filesystem::create_directories(root + "proc/self");
  std::filesystem::create_directories(root + "cgroup/job");
  folder_.Write("proc/meminfo", "MemAvailable:   67108864 kB\n");
  folder_.Write("proc/self/cgroup", "0::/job\n");
  folder_.Write("cgroup/cgroup.controllers", "memory\n");
  constexpr std::int64_t Usage = std::int64_t{100} << 20;
  folder_.Write("cgroup/job/memory.max", std::to_string(Usage + room) + "\n");
  folder_.Write("cgroup/job/memory.current", std::to_string(Usage) + "\n");
  SetMemoryInfoRoots((root + "proc").c_str(), (root + "cgroup").c_str());
}

ControlGroupRoom::~ControlGroupRoom() { SetMemoryInfoRoots(nullptr, nullptr); }

ProgramsOnPath::ProgramsOnPath(const std::vector<std::string>& programs) {
  const char* path = std::getenv("PATH");
  hadPath_ = path != nullptr;
  savedPath_ = path ? path : "";
  for (const std::string& program : programs) {
    const std::string file =
        QString::fromStdU16String(folder_.Write(program, "#!/bin/sh\n")).toStdString();
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }
  setenv("PATH", QString::fromStdU16String(folder_.PathOf("")).toStdString().c_str(), 1);
}

ProgramsOnPath::~ProgramsOnPath() {
  if (hadPath_) {
    setenv("PATH", savedPath_.c_str(), 1);
  } else {
    unsetenv("PATH");
  }
}

}  // namespace evaluator_test
