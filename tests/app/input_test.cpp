// Inputs that keep the worker waiting, that are too large, or that fail to read: Esc and
// closing the window still end the evaluation, and every failure is told as what it is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <stop_token>
#include <string>
#include <thread>

#include "evaluation_request.h"
#include "evaluator_test_support.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "worker_input.h"

namespace evaluator_test {
namespace {

constexpr auto HangGuard = std::chrono::seconds(60);

// A FIFO in a folder of its own. Should a test hang on it (a read that a stop can't
// break), the guard opens and closes its writing end after a long while, which ends any
// waiting open or read, so that the test fails instead of hanging.
class Fifo {
 public:
  Fifo() : path_(folder_.PathOf("fifo")) {
    mkfifo(Narrow(path_).c_str(), 0600);
    guard_ = std::jthread([this](std::stop_token stop) {
      const auto start = std::chrono::steady_clock::now();
      while (!stop.stop_requested()) {
        if (std::chrono::steady_clock::now() - start > HangGuard) {
          const int writer = open(Narrow(path_).c_str(), O_WRONLY | O_NONBLOCK);
          if (writer >= 0) close(writer);
          released_.store(true);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~Fifo() { guard_.request_stop(); }

  const std::u16string& Path() const { return path_; }
  std::u16string Reference() const { return u"<file://" + path_ + u">"; }
  bool GuardReleasedIt() const { return released_.load(); }

 private:
  TemporaryFolder folder_;
  std::u16string path_;
  std::atomic<bool> released_{false};
  std::jthread guard_;
};

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }
  void TearDown() override { evaluator::SetInputLimits({}); }

  // Enter with input in the field; returns once the worker has taken the file reference.
  static void StartReading(const std::u16string& reference, const std::u16string& pattern = u"b") {
    UiSetText(evaluator::PatternField, pattern.c_str());
    UiSetText(evaluator::InputField, reference.c_str());
    UiSetFocus(evaluator::PatternField);
    Press(Qt::Key_Return);
    const std::u16string path = reference.substr(8, reference.size() - 9);
    ASSERT_TRUE(RunLoopUntil([&] { return evaluator::InputFilePath() == path; }));
  }

  static bool WorkerGone() {
    return RunLoopUntil([] { return ThreadsStillEnding() == 0; });
  }

  // The loop still takes events: one posted now is handled.
  static bool LoopAnswers() {
    PostEvent(0x1FFF3);
    return RunLoopUntil([] { return UiEventCode() == 0x1FFF3; }, 5000);
  }

  static void ExpectOneError(const std::u16string& part, const std::u16string& otherPart) {
    ASSERT_EQ(Modal().boxes.size(), 1u);
    EXPECT_EQ(Modal().boxes[0].title, u"error");
    EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Error);
    EXPECT_NE(Modal().boxes[0].text.find(part), std::u16string::npos)
        << Narrow(Modal().boxes[0].text);
    EXPECT_NE(Modal().boxes[0].text.find(otherPart), std::u16string::npos)
        << Narrow(Modal().boxes[0].text);
  }
};

TEST_F(InputTest, EscDuringTheReadOfAFifoNobodyWritesEndsTheWorker) {
  Fifo fifo;
  StartReading(fifo.Reference());
  Press(Qt::Key_Escape);
  ASSERT_TRUE(RunLoopUntil([] { return !Modal().boxes.empty(); }));
  EXPECT_EQ(Modal().boxes[0].text, u"Evaluation aborted");
  EXPECT_TRUE(LoopAnswers());
  EXPECT_TRUE(WorkerGone());
  EXPECT_FALSE(fifo.GuardReleasedIt());
  // The next evaluation starts as usual.
  Evaluate(u"\\w+", u"fresh start");
  EXPECT_EQ(TreeRows(), (std::vector<std::u16string>{u"fresh", u"start"}));
}

TEST_F(InputTest, ClosingTheWindowDuringSuchAReadEndsTheLoopAndTheWorker) {
  Fifo fifo;
  StartReading(fifo.Reference());
  WidgetOf(evaluator::PatternField)->window()->close();
  QCoreApplication::processEvents();
  bool ended = false;
  while (!ended && HasQueuedEvent() != 0) ended = !evaluator::HandleEvent(UiWaitEvent());
  EXPECT_TRUE(ended);
  evaluator::StopWorker();  // the first step of the shut-down
  EXPECT_TRUE(WorkerGone());
  EXPECT_FALSE(fifo.GuardReleasedIt());
}

// The writer has sent everything and closed, so the worker is in its last reads, decoding
// the text or past it, with every character a match to come; wherever Esc lands, the
// worker ends and posts nothing more.
TEST_F(InputTest, EscWhileALargeInputIsConvertedLeavesNoWorker) {
  Fifo fifo;
  StartReading(fifo.Reference(), u"\\w");
  const int writer = open(Narrow(fifo.Path()).c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  std::string text;
  while (text.size() < (std::size_t{48} << 20)) text += "caf\xC3\xA9 \xE2\x82\xAC na\xC3\xAFve ";
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t put = write(writer, text.data() + written, text.size() - written);
    ASSERT_GT(put, 0);
    written += static_cast<std::size_t>(put);
  }
  close(writer);
  Press(Qt::Key_Escape);
  ASSERT_TRUE(RunLoopUntil([] { return !Modal().boxes.empty(); }));
  EXPECT_EQ(Modal().boxes[0].text, u"Evaluation aborted");
  EXPECT_TRUE(WorkerGone());
  EXPECT_TRUE(LoopAnswers());
  EXPECT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(UiGetState(evaluator::State().mainPanel), 0);  // no done event either
}

TEST_F(InputTest, InputsBeyondTheMemoryBudgetStopWithAMessage) {
  evaluator::SetInputLimits({.memoryBudget = std::int64_t{16} << 20});
  // A stream that never ends: the read stops once it would need more than the budget.
  const auto oldPipeAction = std::signal(SIGPIPE, SIG_IGN);
  Fifo fifo;
  std::atomic<bool> readerGone{false};
  std::jthread endlessWriter([&] {
    const int writer = open(Narrow(fifo.Path()).c_str(), O_WRONLY);
    const std::string block(65536, 'b');
    while (writer >= 0 && write(writer, block.data(), block.size()) > 0) {
    }
    if (writer >= 0) close(writer);
    readerGone.store(true);
  });
  Evaluate(u"a", fifo.Reference());
  ExpectOneError(u"can't read " + fifo.Path(), u"only 16.0 MB are available");
  EXPECT_TRUE(RunLoopUntil([&] { return readerGone.load(); }));
  std::signal(SIGPIPE, oldPipeAction);
  EXPECT_TRUE(TreeRows().empty());

  // A file that tells its size is refused before it is read, one that fits is read.
  ResetEvaluator();
  TemporaryFolder folder;
  const std::u16string large = folder.Write("large.txt", std::string(std::size_t{6} << 20, 'a'));
  Evaluate(u"a+", u"<file://" + large + u">");
  ExpectOneError(u"the file has 6.0 MB", u"needs about 18.0 MB of memory");
  ResetEvaluator();
  const std::u16string small = folder.Write("small.txt", std::string(std::size_t{4} << 20, 'a'));
  Evaluate(u"a+", u"<file://" + small + u">");
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(TreeRows().size(), 1u);

  // Without a budget of its own the read goes by the room the process's control group
  // leaves, however much the machine has.
  evaluator::SetInputLimits({});
  ResetEvaluator();
  {
    const ControlGroupRoom room(std::int64_t{8} << 20);
    Evaluate(u"a+", u"<file://" + small + u">");
  }
  ExpectOneError(u"the file has 4.0 MB", u"needs about 12.0 MB of memory, but only 8.0 MB");
}

TEST_F(InputTest, ReadErrorsAndInputsTooLargeForTheEngineAreSaidAsSuch) {
  // Opening the process's own memory works; reading it from address 0 fails.
  Evaluate(u"a", u"<file:///proc/self/mem>");
  ExpectOneError(u"can't read /proc/self/mem: ", u"error");
  EXPECT_EQ(Modal().boxes[0].text.find(u"pattern is valid"), std::u16string::npos);

  ResetEvaluator();
  evaluator::SetInputLimits({.engineBytes = 1000});
  TemporaryFolder folder;
  const std::u16string tooLong = folder.Write("too-long.txt", std::string(1001, 'a'));
  Evaluate(u"a", u"<file://" + tooLong + u">");
  ExpectOneError(u"can't evaluate " + tooLong,
                 u"larger than the pattern engine can take (at most 1000 bytes");
  ResetEvaluator();
  const std::u16string fits = folder.Write("fits.txt", std::string(1000, 'a'));
  Evaluate(u"a+", u"<file://" + fits + u">");
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_EQ(TreeRows().size(), 1u);
}

// A zero byte is a character of the subject: what follows it is matched too, and a file
// that is not all UTF-8 says where it could not be read.
TEST_F(InputTest, AZeroByteIsMatchedAsACharacterAndUnreadableBytesAreToldByOffset) {
  TemporaryFolder folder;
  const std::u16string zero = folder.Write("zero.bin", std::string("abc\0def", 7));
  Evaluate(u"def", u"<file://" + zero + u">");
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"def", {}}}));
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"input");
  EXPECT_NE(Modal().boxes[0].text.find(
                u"It holds 1 zero byte, the first at byte offset 3: they are matched"),
            std::u16string::npos);
  // A text is kept up to its zero character, which the box said.
  Evaluate(u"c[^a-z]d", u"<file://" + zero + u">");
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"c", {}}}));

  const std::u16string broken = folder.Write("broken.txt", std::string("ok\x80"
                                                                       "ab\xE2\x82"
                                                                       "zz\xC3"));
  Modal() = ModalRecord{};
  Evaluate(u"z+", u"<file://" + broken + u">");
  ASSERT_EQ(Modal().boxes.size(), 1u);
  EXPECT_EQ(Modal().boxes[0].title, u"input");
  EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Warning);
  EXPECT_EQ(Modal().boxes[0].text.substr(0, broken.size()), broken);
  EXPECT_EQ(Modal().boxes[0].text.find(u"zero"), std::u16string::npos);
  EXPECT_NE(Modal().boxes[0].text.find(
                u"3 places could not be read as characters, the first at byte offset 2:"),
            std::u16string::npos);
  EXPECT_EQ(ResultRecords(), (std::vector<RecordTexts>{{u"zz", {}}}));
}

}  // namespace
}  // namespace evaluator_test
