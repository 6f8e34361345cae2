// Drives the real evaluator on Qt's offscreen platform: keys go to the real widgets, the
// loop runs the real dispatch, and only message boxes, file choosers and launches are
// answered and recorded through the modal seam.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/evaluator.h"
#include "ui/modal_seam.h"
#include "ui/ui.h"

namespace evaluator_test {

struct Launch {
  std::u16string program;
  std::vector<std::u16string> arguments;
};

// What the seam saw, and what it answers.
struct ModalRecord {
  std::vector<MessageBoxRequest> boxes;
  std::vector<FileChooserRequest> choosers;
  std::vector<Launch> launches;
  std::vector<std::u16string> openedDocuments;
  std::u16string chosenFile;  // the chooser's answer; "" cancels
  bool desktopOpens = true;   // whether the desktop has an opener for documents and addresses
};

ModalRecord& Modal();

// Installs the recording seam and puts the window back into its start-up state: empty
// fields, the start-up ticks, empty tree and result list, "main" tab, focus on the pattern.
void ResetEvaluator();

QWidget* WidgetOf(std::int64_t gadget);

// Presses a key on the widget that has the focus, as a user would.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Runs the evaluator's loop (wait, dispatch) until condition holds; false after timeoutMs.
bool RunLoopUntil(const std::function<bool()>& condition, int timeoutMs = 20000);

// Runs the loop until every event the last worker posted has been handled.
bool RunLoopUntilWorkerDone(int timeoutMs = 20000);

// Types pattern and input, sets the option ticks, presses Enter in the pattern field and
// runs the loop until the worker is done.
struct Options {
  bool matches = true;
  bool groups = true;
  bool caseInsensitive = true;
};
void Evaluate(const std::u16string& pattern, const std::u16string& input, Options options = {});

std::vector<std::u16string> TreeRows();
// Children counts of the tree's root rows, as the view shows them.
std::vector<int> RootChildCounts();

struct RecordTexts {
  std::u16string m;
  std::vector<std::u16string> g;
  bool operator==(const RecordTexts&) const = default;
};
std::vector<RecordTexts> ResultRecords();

std::string Narrow(const std::u16string& text);

// A folder of its own for one test, removed with it.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  std::u16string Write(const std::string& name, const std::string& bytes) const;
  std::u16string PathOf(const std::string& name) const;

 private:
  std::string path_;
};

// Points the evaluator's memory figures at a machine with plenty available whose process
// sits in a control group with room bytes left under its limit, for as long as it lives.
class ControlGroupRoom {
 public:
  explicit ControlGroupRoom(std::int64_t room);
  ~ControlGroupRoom();

 private:
  TemporaryFolder folder_;
};

// Puts PATH on a folder of its own holding only the named programs (scripts that do
// nothing) for as long as it lives.
class ProgramsOnPath {
 public:
  explicit ProgramsOnPath(const std::vector<std::string>& programs);
  ~ProgramsOnPath();

 private:
  TemporaryFolder folder_;
  std::string savedPath_;
  bool hadPath_;
};

}  // namespace evaluator_test
