#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <QAbstractItemView>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

#include "commands.h"
#include "evaluator_test_support.h"
#include "records/match_record.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator_test {
namespace {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }

  // Starts an evaluation that runs for minutes inside single match calls: the pattern
  // backtracks exponentially at every start position of a long run of "a".
  static void StartEndlessEvaluation(const std::u16string& prefix = u"") {
    std::u16string input = prefix;
    for (int repetition = 0; repetition < 1000; ++repetition)
      input += std::u16string(18, u'a') + u"!";
    UiSetText(evaluator::PatternField, u"(a+)+b");
    UiSetText(evaluator::InputField, input.c_str());
    UiSetItemState(evaluator::OptionsList, 1, 0);
    UiSetFocus(evaluator::PatternField);
    Press(Qt::Key_Return);
    ASSERT_TRUE(RunLoopUntil([] { return ThreadIsRunning(evaluator::State().workerThread) == 1; }));
  }
};

TEST_F(CommandTest, EnterOnTheTreeCopiesTheSelectedRowAndShiftEnterCopiesAllRows) {
  Evaluate(u"(a)(b)", u"ab");
  ASSERT_EQ(UiFocusedGadget(), evaluator::ResultsTree);
  UiSetState(evaluator::ResultsTree, 1);
  Press(Qt::Key_Return);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_EQ(std::u16string(UiGetClipboardText()), u"a");
  EXPECT_EQ(TreeRows().size(), 3u);  // copying started no evaluation

  Press(Qt::Key_Return, Qt::ShiftModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_EQ(std::u16string(UiGetClipboardText()), u"ab\r\na\r\nb\r\n");
}

TEST_F(CommandTest, CopiedRowsAreCutAt4095Characters) {
  Evaluate(u"x+", std::u16string(5000, u'x'));
  Press(Qt::Key_Return, Qt::ShiftModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_EQ(std::u16string(UiGetClipboardText()), std::u16string(4095, u'x') + u"\r\n");
}

TEST_F(CommandTest, ShiftEnterOutsideTheTreeCopiesNothing) {
  UiSetClipboardText(u"kept");
  Press(Qt::Key_Return, Qt::ShiftModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_EQ(std::u16string(UiGetClipboardText()), u"kept");
}

TEST_F(CommandTest, ChoosingAFileWritesItsReferenceAndCtrlBOpensIt) {
  const ProgramsOnPath opener({"xdg-open"});
  TemporaryFolder folder;
  const std::u16string path = folder.Write("input file.txt", "abc");
  Modal().chosenFile = path;
  Press(Qt::Key_O, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().choosers.size(), 1u);
  EXPECT_FALSE(Modal().choosers[0].save);
  EXPECT_EQ(Modal().choosers[0].title, u"input file");
  ASSERT_EQ(Modal().choosers[0].filters.size(), 1u);
  EXPECT_EQ(Modal().choosers[0].filters[0].description, u"all ");
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(std::u16string(UiGetText(evaluator::InputField)), u"<file://" + path + u">");

  Press(Qt::Key_B, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().launches.size(), 1u);
  EXPECT_TRUE(Modal().launches[0].program.ends_with(u"/xdg-open"));  // the one on PATH
  EXPECT_EQ(Modal().launches[0].arguments, std::vector<std::u16string>{path});
}

TEST_F(CommandTest, CancellingTheChooserChangesNothingAndShowsNothing) {
  const ProgramsOnPath opener({"xdg-open"});
  evaluator::SetInputFilePath(u"/earlier/file.txt");
  UiSetText(evaluator::InputField, u"typed");
  Modal().chosenFile = u"";
  Press(Qt::Key_O, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().choosers.size(), 1u);
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(std::u16string(UiGetText(evaluator::InputField)), u"typed");
  EXPECT_EQ(evaluator::InputFilePath(), u"/earlier/file.txt");
  Press(Qt::Key_B, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().launches.size(), 1u);
  EXPECT_EQ(Modal().launches[0].arguments, std::vector<std::u16string>{u"/earlier/file.txt"});
}

// Drags mime data onto a text field as a drag from another program does: enter, move, drop.
bool Drop(std::int64_t field, QMimeData* data) {
  auto* edit = qobject_cast<QPlainTextEdit*>(WidgetOf(field));
  const QPointF at(5, 5);
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  QDragEnterEvent enter(at.toPoint(), actions, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(edit->viewport(), &enter);
  QDragMoveEvent move(at.toPoint(), actions, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(edit->viewport(), &move);
  QDropEvent drop(at, actions, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(edit->viewport(), &drop);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  return drop.isAccepted() && drop.dropAction() != Qt::MoveAction;
}

TEST_F(CommandTest, AFileDroppedOnTheInputFieldBecomesItsReferenceAndTextDropsAsText) {
  TemporaryFolder folder;
  const std::u16string path = folder.Write("dropped.txt", "abc");
  QMimeData file;
  file.setUrls({QUrl::fromLocalFile(QString::fromStdU16String(path))});
  file.setText(QStringLiteral("the file manager's text"));
  UiSetText(evaluator::InputField, u"typed");
  EXPECT_TRUE(Drop(evaluator::InputField, &file));
  EXPECT_EQ(std::u16string(UiGetText(evaluator::InputField)), u"<file://" + path + u">");
  EXPECT_EQ(evaluator::InputFilePath(), path);

  QMimeData text;
  text.setText(QStringLiteral("plain"));
  UiSetText(evaluator::InputField, u"");
  EXPECT_TRUE(Drop(evaluator::InputField, &text));
  EXPECT_EQ(std::u16string(UiGetText(evaluator::InputField)), u"plain");
  EXPECT_EQ(evaluator::InputFilePath(), path);

  // The pattern field takes no files: their address goes in as text.
  UiSetText(evaluator::PatternField, u"");
  Drop(evaluator::PatternField, &file);
  EXPECT_EQ(std::u16string(UiGetText(evaluator::PatternField)), u"the file manager's text");
  EXPECT_EQ(evaluator::InputFilePath(), path);
  EXPECT_TRUE(Modal().boxes.empty());
}

TEST_F(CommandTest, CtrlBWithoutAnOpenerSaysSoAndLaunchesNothing) {
  const ProgramsOnPath nothing({});
  evaluator::SetInputFilePath(u"/some/input.txt");
  Press(Qt::Key_B, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_TRUE(Modal().launches.empty());
  EXPECT_TRUE(Modal().openedDocuments.empty());
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"error");
  EXPECT_NE(Modal().boxes[0].text.find(u"/some/input.txt"), std::u16string::npos);
  EXPECT_NE(Modal().boxes[0].text.find(u"no program to open files was found"),
            std::u16string::npos);
}

TEST_F(CommandTest, ChoosingAFolderIsRefused) {
  TemporaryFolder folder;
  Modal().chosenFile = folder.PathOf("");
  Press(Qt::Key_O, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].text, u"can't open file");
}

// A folder holding https:/www.rexegg.com/regex-disambiguation.html, an executable script,
// is made the working folder; F1 must hand the address to the desktop and start nothing.
TEST_F(CommandTest, F1OpensTheHelpAddressAndNeverStartsAFileOfThatNameInTheWorkingFolder) {
  TemporaryFolder folder;
  const std::filesystem::path planted = std::filesystem::path(Narrow(folder.PathOf("https:"))) /
                                        "www.rexegg.com" / "regex-disambiguation.html";
  std::filesystem::create_directories(planted.parent_path());
  const std::filesystem::path marker = std::filesystem::path(Narrow(folder.PathOf("ran")));
  std::ofstream(planted) << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
  std::filesystem::permissions(planted, std::filesystem::perms::owner_all);
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(Narrow(folder.PathOf("")));
  ModalSeam seam;  // programs start for real; only the desktop's opener is recorded
  seam.messageBox = [](const MessageBoxRequest& request) {
    Modal().boxes.push_back(request);
    return std::int64_t{1};
  };
  seam.openDocument = [](const std::u16string& address) {
    Modal().openedDocuments.push_back(address);
    return true;
  };
  SetModalSeam(seam);
  Press(Qt::Key_F1);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  std::filesystem::current_path(saved);
  EXPECT_EQ(Modal().openedDocuments, std::vector<std::u16string>{evaluator::HelpAddress});
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_TRUE(std::u16string(evaluator::HelpAddress).starts_with(u"https://"));
  EXPECT_TRUE(std::u16string(evaluator::HelpAddress).ends_with(u"/regex-disambiguation.html"));
}

TEST_F(CommandTest, F1WithoutAnOpenerForWebAddressesSaysSo) {
  Modal().desktopOpens = false;
  Press(Qt::Key_F1);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_TRUE(Modal().launches.empty());
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"error");
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Error);
  EXPECT_NE(Modal().boxes[0].text.find(evaluator::HelpAddress), std::u16string::npos);
  EXPECT_NE(Modal().boxes[0].text.find(u"no program to open web addresses"), std::u16string::npos);
}

// A typed reference may name a file relative to the working folder; the opener gets its
// full path, so a name like -x or https:x is never taken for an option or an address.
TEST_F(CommandTest, CtrlBHandsTheOpenerTheFullPathOfARelativeInputFile) {
  const ProgramsOnPath opener({"xdg-open"});
  evaluator::SetInputFilePath(u"--help");
  Press(Qt::Key_B, Qt::ControlModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(Modal().launches.size(), 1u);
  const std::u16string expected =
      QString::fromStdString((std::filesystem::current_path() / "--help").string())
          .toStdU16String();
  EXPECT_EQ(Modal().launches[0].arguments, std::vector<std::u16string>{expected});
}

TEST_F(CommandTest, EscWithoutAnEvaluationDoesNothing) {
  Press(Qt::Key_Escape);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  EXPECT_TRUE(Modal().boxes.empty());
}

TEST_F(CommandTest, EscAbortsAnEvaluationInsideALongMatchAndTheNextStartsAtOnce) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer holds the stop signal back until the worker next calls into the C
  // library, which a worker inside one PCRE match call does not do: Esc would wait for the
  // whole match here.
  GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
  StartEndlessEvaluation(u"ab aab ");  // two matches come first, then the endless part
  ASSERT_TRUE(RunLoopUntil([] { return TreeRows().size() == 2; }));
  const std::int64_t killed = evaluator::State().workerThread;
  UiSetState(evaluator::State().mainPanel, 0);

  // The match in progress would last for minutes: the box comes only if Esc left it.
  Press(Qt::Key_Escape);
  ASSERT_TRUE(RunLoopUntil([] { return !Modal().boxes.empty(); }));
  EXPECT_EQ(Modal().boxes[0].title, u"aborted");
  EXPECT_EQ(Modal().boxes[0].text, u"Evaluation aborted");
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Information);
  EXPECT_EQ(std::u16string(UiGetStatusText(evaluator::MainWindow, 0)), u"stopped after 2 matches");
  EXPECT_FALSE(ThreadIsRunning(killed));
  // The thread that stores what the worker finds was stopped with it.
  const std::int64_t store = evaluator::State().storeThread.load();
  EXPECT_NE(store, 0);
  EXPECT_FALSE(ThreadIsRunning(store));

  // Rows found so far stay, the tab stays, and no event of that worker arrives later.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  PostEvent(0x1FFF2);
  RunLoopUntil([] { return UiEventCode() == 0x1FFF2; });
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"ab", u"aab"}));
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 0);
  EXPECT_EQ(Modal().boxes.size(), 1u);

  Evaluate(u"\\w+", u"fresh start");
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"fresh", u"start"}));
  EXPECT_EQ(Modal().boxes.size(), 1u);
}

TEST_F(CommandTest, ReadingTheResultListDuringAnEvaluationKeepsMatchOrder) {
  std::u16string input;
  for (int number = 0; number < 200000; ++number) {
    // Appended in two steps: GCC 12 at -O3 warns falsely (-Wrestrict) about a literal
    // concatenated with a temporary here.
    input += u' ';
    input += QString::number(number).toStdU16String();
  }
  UiSetText(evaluator::PatternField, u"\\d+");
  UiSetText(evaluator::InputField, input.c_str());
  UiSetItemState(evaluator::OptionsList, 1, 0);
  UiSetFocus(evaluator::PatternField);
  Press(Qt::Key_Return);
  // Walk the list the way an export does, with its cursor, while the worker appends: from
  // the moment Enter started it, since the worker no longer waits on the window.
  // Only the key's own events are handled: the loop would otherwise take the rows the
  // store posts until the evaluation is over.
  evaluator::ApplicationState& state = evaluator::State();
  const std::int64_t workerBefore = state.workerThread;
  while (state.workerThread == workerBefore && HasQueuedEvent() != 0) {
    evaluator::HandleEvent(UiWaitEvent());
  }
  ASSERT_NE(state.workerThread, workerBefore);
  int walks = 0;
  while (ThreadIsRunning(state.workerThread) && walks < 50) {
    std::lock_guard guard(state.resultListLock);
    ListRewind(state.resultList);
    for (int step = 0; step < 3 && ListNext(state.resultList); ++step) {
    }
    ++walks;
  }
  ASSERT_TRUE(RunLoopUntilWorkerDone());
  EXPECT_GT(walks, 0);
  const std::vector<RecordTexts> records = ResultRecords();
  ASSERT_EQ(records.size(), 200000u);
  for (int number = 0; number < 200000; ++number) {
    ASSERT_EQ(Narrow(records[number].m), std::to_string(number)) << "record " << number;
  }
}

// Clearing a result of more than 100,000 shown rows puts a fresh view in the tree's place;
// the rows of the next evaluation must reach that view, and nothing may ask the old one.
TEST_F(CommandTest, ScrollingThroughABigResultAndEvaluatingAgainFeedsTheFreshView) {
  constexpr int Lines = 40000;  // 120,000 rows: a match and its two groups a line
  std::string lines;
  for (int line = 0; line < Lines; ++line) {
    lines += "user" + std::to_string(line) + "@host" + std::to_string(line % 97) + ".org\n";
  }
  TemporaryFolder folder;
  const std::u16string input = u"<file://" + folder.Write("addresses.txt", lines) + u">";
  const auto shownMatches = [] {
    return qobject_cast<QAbstractItemView*>(WidgetOf(evaluator::ResultsTree))
        ->model()
        ->rowCount({});
  };
  const auto pressCtrlEndUntilAllShown = [&] {
    for (int presses = 0; presses < 100 && shownMatches() < Lines; ++presses) {
      Press(Qt::Key_End, Qt::ControlModifier);
      RunLoopUntil([] { return HasQueuedEvent() == 0; });
    }
  };
  Evaluate(u"(\\w+)@([\\w.]+)", input);
  ASSERT_EQ(UiCountItems(evaluator::ResultsTree), 3 * Lines);
  Press(Qt::Key_R, Qt::AltModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(UiFocusedGadget(), evaluator::ResultsTree);
  pressCtrlEndUntilAllShown();
  ASSERT_EQ(shownMatches(), Lines);

  Press(Qt::Key_S, Qt::AltModifier);
  RunLoopUntil([] { return HasQueuedEvent() == 0; });
  ASSERT_EQ(UiFocusedGadget(), evaluator::InputField);
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunLoopUntilWorkerDone());
  EXPECT_EQ(UiCountItems(evaluator::ResultsTree), 3 * Lines);
  EXPECT_EQ(UiFocusedGadget(), evaluator::ResultsTree);
  EXPECT_LT(shownMatches(), Lines);  // the fresh view is shown a first step only
  pressCtrlEndUntilAllShown();
  EXPECT_EQ(shownMatches(), Lines);
  Press(Qt::Key_End, Qt::ControlModifier);  // the last press showed more than it selected
  EXPECT_EQ(std::u16string(UiGetText(evaluator::ResultsTree)),
            u"user" + QString::number(Lines - 1).toStdU16String() + u"@host" +
                QString::number((Lines - 1) % 97).toStdU16String() + u".org");
}

TEST_F(CommandTest, ClosingTheWindowEndsTheLoopAndLeavesTheWindowOpen) {
  QWidget* window = WidgetOf(evaluator::PatternField)->window();
  window->close();
  QCoreApplication::processEvents();
  bool ended = false;
  while (!ended && HasQueuedEvent() != 0) ended = !evaluator::HandleEvent(UiWaitEvent());
  EXPECT_TRUE(ended);
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace evaluator_test
