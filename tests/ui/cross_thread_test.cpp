// Calls from worker threads, posted events and the event wait.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <thread>

#include "runtime/thread_data.h"
#include "threads/threads.h"
#include "ui/modal_seam.h"
#include "ui_test_support.h"

using namespace ui_test;

namespace {

class CrossThreadTest : public testing::Test {
 protected:
  void SetUp() override { panel_ = OpenEvaluatorLikeWindow(); }
  void TearDown() override { SetModalSeam({}); }

  ObjectNumber panel_ = 0;
};

std::u16string RowText(int row) { return u"row " + QString::number(row).toStdU16String(); }

// Matches with two groups each, as the evaluator adds them: one root and two children.
std::int64_t LevelOf(int row) { return row % 3 == 0 ? 0 : 1; }

// Every row of the model in pre-order, as a view would show them all expanded.
void CollectRows(QAbstractItemModel* model, const QModelIndex& parent, std::vector<QString>& rows) {
  for (int row = 0; row < model->rowCount(parent); ++row) {
    const QModelIndex index = model->index(row, 0, parent);
    rows.push_back(index.data().toString());
    CollectRows(model, index, rows);
  }
}

TEST_F(CrossThreadTest, RowsFromAWorkerReadBackInOrderAtOnceAndReachTheView) {
  constexpr int Rows = 30000;
  ModelFailureCounter failures;
  auto* view = qobject_cast<QTreeView*>(WidgetOf(Results));
  QAbstractItemModel* model = view->model();
  QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Warning);
  std::atomic<int> readBackErrors{0};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int row = 0; row < Rows; ++row) {
      UiAddItem(Results, -1, RowText(row).c_str(), 0, LevelOf(row));
      if (row % 997 == 0) {
        readBackErrors += UiCountItems(Results) != row + 1;
        readBackErrors += Text(UiGetItemText(Results, row, 0)) != RowText(row);
      }
    }
    finished = true;
  });
  // The UI thread keeps publishing while the worker appends.
  ASSERT_TRUE(ProcessUntil([&] { return finished.load(); }, 60000));
  worker.join();
  EXPECT_EQ(readBackErrors.load(), 0);
  EXPECT_EQ(UiCountItems(Results), Rows);
  for (int row = 0; row < Rows; row += 101) {
    ASSERT_EQ(Text(UiGetItemText(Results, row, 0)), RowText(row));
  }
  // The view is fed more rows as the user reaches the end of what it shows.
  ASSERT_TRUE(ProcessUntil(
      [&] {
        view->scrollToBottom();
        return model->rowCount({}) == Rows / 3;
      },
      60000));
  std::vector<QString> shown;
  CollectRows(model, {}, shown);
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(Rows));
  for (int row = 0; row < Rows; row += 7) {
    ASSERT_EQ(shown[static_cast<std::size_t>(row)], QString::fromStdU16String(RowText(row)));
  }
  EXPECT_EQ(ModelFailureCounter::failures(), 0);
}

TEST_F(CrossThreadTest, WorkerReadsAreAnsweredWhileTheUiThreadShowsAModalMessageBox) {
  UiSetText(PatternField, u"(a)(b)?");
  UiAddItem(Options, -1, u"first");
  UiSetItemState(Options, 0, 3);
  UiSetItemData(Options, 0, 0x500000);
  std::atomic<bool> answered{false};
  bool modalWhenAsked = false;
  std::u16string pattern;
  std::int64_t count = 0, state = 0, data = 0;
  std::thread worker;
  QTimer::singleShot(0, [&] {
    modalWhenAsked = QApplication::activeModalWidget() != nullptr;
    worker = std::thread([&] {
      pattern = Text(UiGetText(PatternField));
      count = UiCountItems(Options);
      state = UiGetItemState(Options, 0);
      data = UiGetItemData(Options, 0);
      answered = true;
    });
  });
  QTimer closer;
  QElapsedTimer waited;
  waited.start();
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && (answered || waited.elapsed() > 10000)) modal->close();
  });
  closer.start(10);
  UiMessageBox(u"busy", u"the worker asks meanwhile", IconInformation);
  closer.stop();
  if (worker.joinable()) worker.join();
  EXPECT_TRUE(modalWhenAsked);
  ASSERT_TRUE(answered);
  EXPECT_EQ(pattern, u"(a)(b)?");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(state, 3);
  EXPECT_EQ(data, 0x500000);
}

TEST_F(CrossThreadTest, WorkerMessageBoxIsShownOnTheUiThread) {
  std::vector<MessageBoxRequest> shown;
  bool onUiThread = false;
  ModalSeam seam;
  seam.messageBox = [&](const MessageBoxRequest& request) -> std::int64_t {
    shown.push_back(request);
    onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    return 1;
  };
  SetModalSeam(seam);
  std::atomic<std::int64_t> pressed{-1};
  std::thread worker([&] { pressed = UiMessageBox(u"error", u"can't open x.txt", IconError); });
  ASSERT_TRUE(ProcessUntil([&] { return pressed.load() != -1; }));
  worker.join();
  EXPECT_EQ(pressed.load(), 1);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(onUiThread);
  EXPECT_EQ(shown[0].title, u"error");
  EXPECT_EQ(shown[0].text, u"can't open x.txt");
  EXPECT_EQ(shown[0].icon, MessageIcon::Error);
}

struct StoppedWorker {
  std::atomic<bool> started{false};
  std::atomic<bool> acted{false};
  std::atomic<bool> ended{false};
};
StoppedWorker stoppedWorker;

std::int64_t ReadThenAct(std::int64_t) {
  OnThreadExit([](void*) { stoppedWorker.ended = true; }, nullptr);
  stoppedWorker.started = true;
  UiGetText(PatternField);
  stoppedWorker.acted = true;
  return 0;
}

TEST_F(CrossThreadTest, KilledWorkerEndsAfterItsWaitInsteadOfActingOnTheAnswer) {
  const std::int64_t id = ThreadCreate(ReadThenAct, 0);
  ASSERT_NE(id, 0);
  // The UI thread handles no event meanwhile, so the worker is left waiting for it.
  QElapsedTimer waited;
  waited.start();
  while (!stoppedWorker.started && waited.elapsed() < 5000) QThread::msleep(1);
  QThread::msleep(50);
  ThreadKill(id);
  while (!stoppedWorker.ended && waited.elapsed() < 10000) QThread::msleep(1);
  QCoreApplication::processEvents();  // the abandoned read is carried out harmlessly
  EXPECT_TRUE(stoppedWorker.ended);
  EXPECT_FALSE(stoppedWorker.acted);
  // The killed thread is joined once it has ended, so none is left behind unjoined.
  while (ThreadsStillEnding() > 0 && waited.elapsed() < 10000) QThread::msleep(1);
  EXPECT_EQ(ThreadsStillEnding(), 0);
}

TEST_F(CrossThreadTest, WorkerCallsGiveUpWhenTheUiThreadEnds) {
  UiSetText(PatternField, u"never read");
  std::atomic<bool> returned{false};
  std::u16string answer = u"unset";
  std::thread worker([&] {
    answer = Text(UiGetText(PatternField));
    returned = true;
  });
  QThread::msleep(100);  // the read is posted and waits
  UiEnd();
  QElapsedTimer waited;
  waited.start();
  while (!returned && waited.elapsed() < 5000) QThread::msleep(1);
  EXPECT_TRUE(returned);
  worker.join();
  EXPECT_EQ(answer, u"");
  UiInit();
}

TEST_F(CrossThreadTest, PostedEventsComeThroughTheWaitAfterTheToolkitsNotice) {
  std::thread worker([] {
    PostEvent(0x10001);
    PostEventText(0x10000, -1, -1, -1, u"pattern is valid");
  });
  worker.join();
  EXPECT_EQ(UiWaitEvent(), UiPostedEventNotice);
  EXPECT_EQ(UiWaitEvent(), 0x10001);
  EXPECT_EQ(UiEventObject(), 0);
  EXPECT_EQ(UiEventData(), 0);
  EXPECT_EQ(UiWaitEvent(), 0x10000);
  EXPECT_EQ(UiEventObject(), -1);
  ASSERT_NE(UiEventData(), 0);
  EXPECT_EQ(Text(reinterpret_cast<const char16_t*>(UiEventData())), u"pattern is valid");
}

TEST_F(CrossThreadTest, WaitBlocksUntilTheUserActs) {
  UiSetState(panel_, 2);
  auto* button = qobject_cast<QPushButton*>(WidgetOf(Button));
  QTimer::singleShot(30, button, [button] { button->click(); });
  // Should the click never come, the close request ends the wait instead of the test. The
  // timer lives with this test only: left behind, it would close a later test's window.
  QObject thisTest;
  QTimer::singleShot(10000, &thisTest, [] { ui_objects::FindWindow(0)->close(); });
  EXPECT_EQ(UiWaitEvent(), GadgetEvent);
  EXPECT_EQ(UiEventObject(), Button);
}

}  // namespace
