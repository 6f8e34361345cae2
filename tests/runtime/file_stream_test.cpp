#include "runtime/file_stream.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_data.h"
#include "runtime/thread_stop.h"

namespace {

class FileStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    char folderTemplate[] = "/tmp/file-stream-test-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    folder_ = folderTemplate;
  }
  void TearDown() override {
    CloseFileStream(AnyHandle);
    std::filesystem::remove_all(folder_);
  }

  std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }
  std::u16string Path16(const std::string& name) const { return Utf8ToUtf16(PathOf(name)); }

  std::u16string WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
    return Path16(name);
  }

  std::string FileBytes(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::string folder_;
};

// The rest of the stream as a whole read takes it, decoded; "" when nothing was read.
std::u16string ReadText(ObjectNumber number) {
  const WholeText whole = StreamReadWholeUtf8(number, 0, {});
  if (whole.end != WholeReadEnd::Complete) return u"";
  return Utf8ToUtf16(
      std::string_view(whole.utf8.bytes.get(), static_cast<std::size_t>(whole.utf8.length)));
}

TEST_F(FileStreamTest, LineEndsAreKeptWhole) {
  const std::u16string path = WriteFile("crlf.txt", "a\r\nb");
  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8 | ShareRead), 0);
  EXPECT_EQ(ReadText(0), u"a\r\nb");
  const std::u16string lone = WriteFile("cr.txt", "a\rx\r");
  for (std::int32_t flags : {0, NoBuffer}) {
    ASSERT_NE(OpenFileRead(0, lone.c_str(), flags), 0);
    EXPECT_EQ(ReadText(0), u"a\rx\r") << flags;
  }
}

TEST_F(FileStreamTest, AZeroByteEndsTheTextAndIsConsumed) {
  const std::u16string path = WriteFile("nul.txt", std::string("ab\0cd\nef", 8));
  for (std::int32_t flags : {0, NoBuffer}) {
    ASSERT_NE(OpenFileRead(0, path.c_str(), flags), 0);
    EXPECT_EQ(ReadText(0), u"ab") << flags;
    EXPECT_EQ(ReadText(0), u"cd\nef") << flags;  // reading goes on after the zero byte
    EXPECT_EQ(ReadText(0), u"") << flags;
  }
  // UTF-16 text read as UTF-8: the zero byte of the first unit ends the text.
  const std::u16string ascii = WriteFile("ascii16.txt", std::string("a\0b\0", 4));
  ASSERT_NE(OpenFileRead(0, ascii.c_str(), FormatUtf8), 0);
  EXPECT_EQ(ReadText(0), u"a");
}

TEST_F(FileStreamTest, Utf8IsTakenAsItComes) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBFx", u"\uFEFFx"},  // a byte-order mark is text
      {"a\x80"
       "b",
       u"a?b"},               // a stray continuation byte
      {"ab\xE2\x82", u"ab"},  // the last sequence cut short
      {"\xC3"
       "A",
       u"\uFFFD"
       u"A"},  // a broken sequence keeps the A
      {"\xC3\xA9\xF0\x9F\x98\x80", u"\u00e9\U0001F600"},
      {std::string("\xE2\x82\0zz", 5), u"\uFFFD"},  // a zero inside a sequence ends it
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::u16string path = WriteFile("case" + std::to_string(i), cases[i].bytes);
    ASSERT_NE(OpenFileRead(0, path.c_str(), 0), 0);
    EXPECT_EQ(ReadText(0), cases[i].text) << i;
  }
}

// 4 MiB of mixed text: the reads go past chunk and buffer boundaries inside sequences.
TEST_F(FileStreamTest, LargeFilesReadWholeAcrossChunks) {
  std::string bytes;
  for (int i = 0; bytes.size() < (std::size_t{9} << 20) / 2; ++i) {
    bytes += "line " + std::to_string(i) + " caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n";
  }
  const std::u16string path = WriteFile("large.txt", bytes);
  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8 | ShareRead), 0);
  EXPECT_EQ(ReadText(0), Utf8ToUtf16(bytes));
  EXPECT_EQ(ReadText(0), u"");
  CloseFileStream(0);
}

// A read large enough that a second thread faults in its far half while the near half is
// read: the bytes are the file's, and so is the UTF-16 text of a plain whole read.
TEST_F(FileStreamTest, AReadFaultedInAheadHoldsTheFilesBytes) {
  std::string bytes;
  for (int i = 0; bytes.size() < (std::size_t{17} << 20); ++i) {
    bytes += "row " + std::to_string(i) + " \xE2\x82\xAC \xF0\x9F\x98\x80\n";
  }
  const std::u16string path = WriteFile("faulted-in.txt", bytes);
  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8), 0);
  const WholeText whole = StreamReadWholeUtf8(0, 0, {});
  ASSERT_EQ(whole.end, WholeReadEnd::Complete);
  ASSERT_EQ(whole.utf8.length, static_cast<std::int64_t>(bytes.size()));
  EXPECT_TRUE(std::string_view(whole.utf8.bytes.get(), bytes.size()) == bytes);
  EXPECT_TRUE(whole.utf8.knownValid);
  CloseFileStream(0);
}

// The read's scan vouches for valid UTF-8 only: a byte that can't start a sequence becomes
// "?", which is valid, but a sequence with a bad continuation leaves the check to the user,
// and a zero inside such a sequence still ends the text.
TEST_F(FileStreamTest, AWholeUtf8ReadTellsWhetherItsBytesAreValid) {
  const auto read = [this](const std::string& name, const std::string& bytes) {
    const std::u16string path = WriteFile(name, bytes);
    EXPECT_NE(OpenFileRead(0, path.c_str(), FormatUtf8), 0);
    WholeText whole = StreamReadWholeUtf8(0, 0, {});
    CloseFileStream(0);
    EXPECT_EQ(whole.end, WholeReadEnd::Complete);
    return whole.utf8;
  };
  SharedUtf8 text = read("stray.txt",
                         "a\xBF"
                         "b\xFF \xC3\xA9");
  EXPECT_EQ(std::string(text.bytes.get()), "a?b? \xC3\xA9");
  EXPECT_TRUE(text.knownValid);
  for (const std::string bad : {"\xE2\x41\x41", "\xED\xA0\x80", "\xC0\x80", "\xF4\x90\x80\x80"}) {
    text = read("bad.txt", "x" + bad + "y");
    EXPECT_EQ(text.length, 2 + static_cast<std::int64_t>(bad.size()));
    EXPECT_FALSE(text.knownValid) << bad.size();
  }
  text = read("zero.txt", std::string("ab\xE2\x00\x82"
                                      "cd",
                                      7));
  EXPECT_EQ(text.length, 3);
  EXPECT_FALSE(text.knownValid);
}

// The whole text of a multi-MiB file is decoded in slices: none may split a sequence.
TEST_F(FileStreamTest, WholeReadsTellWhyTheTextEnded) {
  std::string bytes;
  for (int i = 0; bytes.size() < (std::size_t{3} << 20); ++i) {
    bytes += std::to_string(i) + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xBF";
  }
  const std::u16string path = WriteFile("whole.txt", bytes);
  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8), 0);
  WholeText whole = StreamReadWholeUtf8(0, 0, {});
  EXPECT_EQ(whole.end, WholeReadEnd::Complete);
  EXPECT_EQ(whole.fileSize, static_cast<std::int64_t>(bytes.size()));
  std::string expected = bytes;
  std::replace(expected.begin(), expected.end(), '\xBF', '?');  // the stray continuation bytes
  ASSERT_EQ(whole.utf8.length, static_cast<std::int64_t>(expected.size()));
  EXPECT_TRUE(std::string_view(whole.utf8.bytes.get(), expected.size()) == expected);

  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8), 0);
  whole = StreamReadWholeUtf8(0, 0, {.longestText = 1000});
  EXPECT_EQ(whole.end, WholeReadEnd::TooLong);
  EXPECT_EQ(whole.utf8.bytes, nullptr);

  ASSERT_NE(OpenFileRead(0, path.c_str(), FormatUtf8), 0);
  whole = StreamReadWholeUtf8(0, 0, {.memoryPerByte = 3, .memoryBudget = std::int64_t{9} << 20});
  EXPECT_EQ(whole.end, WholeReadEnd::OutOfMemory);
  EXPECT_EQ(whole.bytesRead, 0);  // refused before reading, by the file's size
  EXPECT_EQ(whole.memoryNeeded, 3 * whole.fileSize);
  EXPECT_EQ(whole.memoryAvailable, std::int64_t{9} << 20);

  ASSERT_NE(OpenFileRead(0, u"/proc/self/mem", 0), 0);
  whole = StreamReadWholeUtf8(0, 0, {});
  EXPECT_EQ(whole.end, WholeReadEnd::ReadError);
  EXPECT_EQ(whole.error, EIO);
  CloseFileStream(0);
  EXPECT_EQ(StreamReadWholeUtf8(0, 0, {}).end, WholeReadEnd::NotOpen);
}

TEST_F(FileStreamTest, WritesAreUtf8) {
  ASSERT_NE(CreateFileStream(0, Path16("utf8.txt").c_str(), FormatUtf8), 0);
  EXPECT_EQ(StreamWriteText(0, u"\u00e9"), 2);
  EXPECT_EQ(StreamWriteText(0, u"\u20ac\U0001F600"), 7);
  EXPECT_EQ(StreamWriteText(0, u"\xD800"), 3);  // an unpaired surrogate: U+FFFD
  EXPECT_EQ(StreamWriteText(0, u""), 0);
  EXPECT_EQ(StreamWriteText(0, nullptr), 0);
  EXPECT_EQ(StreamLength(0), 12);  // flushed first
  CloseFileStream(AnyHandle);
  EXPECT_EQ(FileBytes("utf8.txt"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST_F(FileStreamTest, SmallAndLargeWritesKeepTheirOrder) {
  ASSERT_NE(CreateFileStream(0, Path16("order.txt").c_str(), 0), 0);
  const std::u16string large(5000, u'b');
  StreamWriteText(0, u"a");
  EXPECT_EQ(StreamWriteText(0, large.c_str()), 5000);
  StreamWriteText(0, u"c");
  EXPECT_EQ(StreamLength(0), 5002);
  CloseFileStream(0);
  EXPECT_EQ(FileBytes("order.txt"), "a" + std::string(5000, 'b') + "c");
}

// A write past a file-size limit (as on a full disk) falls short: the write that met it,
// directly or by flushing the bytes buffered before it, says so by its count, and the
// stream keeps the reason, which StreamLength's flush sets too.
TEST_F(FileStreamTest, WritesThatFallShortAreCountedAndKeepTheirReason) {
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto limitTo = [&](rlim_t bytes) {
    rlimit limit = saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  const std::u16string small(100, u'a');
  const std::u16string large(10000, u'b');
  ASSERT_NE(CreateFileStream(0, Path16("direct.txt").c_str(), FormatUtf8), 0);
  limitTo(6000);
  const std::int32_t direct = StreamWriteText(0, large.c_str());
  const int directError = StreamWriteError(0);

  ASSERT_NE(CreateFileStream(1, Path16("flushed.txt").c_str(), FormatUtf8), 0);
  EXPECT_EQ(StreamWriteText(1, small.c_str()), 100);  // buffered
  limitTo(0);
  const std::int32_t afterFlush = StreamWriteText(1, large.c_str());
  const int flushError = StreamWriteError(1);

  ASSERT_NE(CreateFileStream(2, Path16("last.txt").c_str(), FormatUtf8), 0);
  EXPECT_EQ(StreamWriteText(2, small.c_str()), 100);
  EXPECT_EQ(StreamWriteError(2), 0);
  const std::int64_t lastLength = StreamLength(2);
  const int lastError = StreamWriteError(2);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(direct, 6000);
  EXPECT_EQ(directError, EFBIG);
  EXPECT_EQ(afterFlush, 0);
  EXPECT_EQ(flushError, EFBIG);
  EXPECT_EQ(lastLength, 0);
  EXPECT_EQ(lastError, EFBIG);
  EXPECT_EQ(StreamWriteError(3), -1);
}

TEST_F(FileStreamTest, ReadOnlyStreamsWriteNothing) {
  const std::u16string path = WriteFile("read-only.txt", "keep");
  for (std::int32_t flags : {0, NoBuffer}) {
    ASSERT_NE(OpenFileRead(0, path.c_str(), flags), 0);
    EXPECT_EQ(StreamWriteText(0, u"no"), 0);
    EXPECT_EQ(StreamLength(0), 4);
  }
  EXPECT_EQ(FileBytes("read-only.txt"), "keep");
}

TEST_F(FileStreamTest, ReopeningANumberFlushesAndClosesTheOldStream) {
  const std::u16string first = Path16("first.txt");
  ASSERT_NE(CreateFileStream(0, first.c_str(), 0), 0);
  StreamWriteText(0, u"pending");
  EXPECT_EQ(FileBytes("first.txt"), "");  // still in the buffer
  ASSERT_NE(CreateFileStream(0, Path16("second.txt").c_str(), 0), 0);
  EXPECT_EQ(FileBytes("first.txt"), "pending");

  // A failed open under the number leaves it without a stream.
  EXPECT_EQ(CreateFileStream(0, Path16("missing-folder/x.txt").c_str(), 0), 0);
  EXPECT_EQ(StreamLength(0), -1);
  EXPECT_EQ(StreamReadWholeUtf8(0, 0, {}).end, WholeReadEnd::NotOpen);
}

TEST_F(FileStreamTest, OpeningFailsForWhatIsNoReadableFile) {
  EXPECT_EQ(OpenFileRead(0, Path16("missing.txt").c_str(), 0), 0);
  EXPECT_EQ(OpenFileRead(0, Utf8ToUtf16(folder_).c_str(), 0), 0);  // a directory
  EXPECT_EQ(OpenFileRead(0, u"", 0), 0);
  EXPECT_EQ(CreateFileStream(0, nullptr, 0), 0);
  EXPECT_EQ(StreamLength(0), -1);
}

TEST_F(FileStreamTest, HandlesNameStreamsUntilClosed) {
  const std::u16string path = WriteFile("handle.txt", "text");
  const ObjectNumber a = OpenFileRead(AnyHandle, path.c_str(), 0);
  const ObjectNumber b = CreateFileStream(AnyHandle, Path16("other.txt").c_str(), 0);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(StreamLength(a), 4);
  EXPECT_EQ(ReadText(a), u"text");
  StreamWriteText(b, u"written");
  CloseFileStream(AnyHandle);  // flushes b as well
  EXPECT_EQ(StreamLength(a), -1);
  EXPECT_EQ(StreamLength(b), -1);
  EXPECT_EQ(FileBytes("other.txt"), "written");
}

TEST_F(FileStreamTest, EndOfLibraryFlushesOpenStreams) {
  ASSERT_NE(CreateFileStream(3, Path16("end.txt").c_str(), 0), 0);
  StreamWriteText(3, u"flushed at the end");
  FileStreamEnd();
  EXPECT_EQ(StreamLength(3), -1);
  EXPECT_EQ(FileBytes("end.txt"), "flushed at the end");
}

TEST_F(FileStreamTest, CreateTruncatesAFileItMayOnlyWrite) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions don't restrict root";
  WriteFile("write-only.txt", "old content");
  ASSERT_EQ(chmod(PathOf("write-only.txt").c_str(), 0200), 0);
  ASSERT_NE(CreateFileStream(0, Path16("write-only.txt").c_str(), 0), 0);
  StreamWriteText(0, u"new");
  CloseFileStream(0);
  chmod(PathOf("write-only.txt").c_str(), 0600);
  EXPECT_EQ(FileBytes("write-only.txt"), "new");
}

TEST_F(FileStreamTest, ProbeFileSizeTellsFilesFoldersAndNothing) {
  const std::u16string path = WriteFile("sized.txt", "12345");
  EXPECT_EQ(ProbeFileSize(path.c_str()), 5);
  EXPECT_EQ(ProbeFileSize((path + u"/").c_str()), 5);
  EXPECT_EQ(ProbeFileSize(Utf8ToUtf16(folder_).c_str()), -2);
  EXPECT_EQ(ProbeFileSize(Utf8ToUtf16(folder_ + "//").c_str()), -2);
  EXPECT_EQ(ProbeFileSize(u"/"), -2);
  EXPECT_EQ(ProbeFileSize(Path16("missing").c_str()), -1);
  EXPECT_EQ(ProbeFileSize(u""), -1);
  EXPECT_EQ(ProbeFileSize(nullptr), -1);
}

std::u16string FilePart(const char16_t* path, std::int64_t mode) {
  return std::u16string(
      TakeResult([&](std::int64_t at) { FilePartOfPath(path, mode, at); }).view());
}

TEST(FilePartOfPath, TakesTheNameAfterTheLastSeparator) {
  EXPECT_EQ(FilePart(u"C:\\dir\\name.tar.gz", 1), u"name.tar");
  EXPECT_EQ(FilePart(u"C:\\dir\\name.tar.gz", 0), u"name.tar.gz");
  EXPECT_EQ(FilePart(u"C:\\dir\\name.", 1), u"name.");
  EXPECT_EQ(FilePart(u"C:\\dir\\.profile", 1), u".profile");
  EXPECT_EQ(FilePart(u"C:\\dir\\", 1), u"");
  EXPECT_EQ(FilePart(u"/home/user/input.log", 1), u"input");
  EXPECT_EQ(FilePart(u"plain", 1), u"plain");
  EXPECT_EQ(FilePart(u"/data/archive.tar gz", 1), u"archive.tar gz");  // a space stops it
  EXPECT_EQ(FilePart(u"\"/my dir/my file.txt\" --flag", 0), u"my file.txt");
  EXPECT_EQ(FilePart(u"\"/my dir/my file.txt\" --flag", 1), u"my file");
  EXPECT_EQ(FilePart(nullptr, 1), u"");
}

// Writes all of bytes to a non-blocking pipe unless done becomes true first.
void WriteUnless(int pipe, const std::string& bytes, const std::atomic<bool>& done) {
  std::size_t written = 0;
  while (written < bytes.size() && !done) {
    const ssize_t put = write(pipe, bytes.data() + written, bytes.size() - written);
    if (put > 0) written += static_cast<std::size_t>(put);
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A worker reading a pipe is told to stop while the read is under way: it ends at a stop
// point of the read, without returning to its caller.
TEST(StopFileRead, AWorkerToldToStopEndsBetweenChunks) {
  char folderTemplate[] = "/tmp/file-stream-stop-XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const std::string fifo = std::string(folderTemplate) + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::promise<std::shared_ptr<StopState>> stateOfReader;
  std::atomic<bool> readReturned{false};
  static std::atomic<bool> readerEnded;
  readerEnded = false;
  std::thread reader([&] {
    OnThreadExit([](void*) { readerEnded = true; }, nullptr);
    stateOfReader.set_value(CurrentStopState());
    const std::u16string path = Utf8ToUtf16(fifo);
    if (OpenFileRead(7, path.c_str(), 0) == 0) return;
    static_cast<void>(StreamReadWholeUtf8(7, 0, {}));
    readReturned = true;
  });
  std::shared_ptr<StopState> state = stateOfReader.get_future().get();
  const int writer = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(fcntl(writer, F_SETFL, O_NONBLOCK), 0);
  const std::string chunk(std::size_t{4} << 20, 'x');
  WriteUnless(writer, chunk + "y", readerEnded);

  std::atomic<bool> stopRequested{false};
  std::thread stopper([&] {
    stopRequested = true;
    RequestThreadStop(*state);
  });
  while (!stopRequested) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Completes the chunk the reader is in (unless it has ended already). Without the stop
  // the reader would go on to the end of the pipe and return.
  WriteUnless(writer, chunk + "z", readerEnded);
  close(writer);
  stopper.join();
  reader.join();
  EXPECT_TRUE(readerEnded);
  EXPECT_FALSE(readReturned);
  EXPECT_EQ(StreamLength(7), 0);  // left open and consistent, for the next opener to close
  CloseFileStream(7);
  std::filesystem::remove_all(folderTemplate);
}

// Opening a FIFO nobody writes to, and waiting for its data, hold up neither the reader
// nor a stop request: the reader ends at the request, no writer needed.
TEST(StopFileRead, AReaderOfAFifoNobodyWritesStopsWithoutAWriter) {
  char folderTemplate[] = "/tmp/file-stream-stop-XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const std::string fifo = std::string(folderTemplate) + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::promise<std::shared_ptr<StopState>> stateOfReader;
  std::atomic<bool> opened{false};
  std::atomic<bool> readReturned{false};
  std::thread reader([&] {
    stateOfReader.set_value(CurrentStopState());
    const std::u16string path = Utf8ToUtf16(fifo);
    if (OpenFileRead(8, path.c_str(), 0) == 0) return;
    opened = true;
    static_cast<void>(StreamReadWholeUtf8(8, 0, {}));
    readReturned = true;
  });
  std::shared_ptr<StopState> state = stateOfReader.get_future().get();
  // Should the reader be stuck for good, a writer that comes and goes after a long while
  // ends its wait, so that the test fails rather than hangs.
  std::atomic<bool> stopped{false};
  std::atomic<bool> released{false};
  std::thread guard([&] {
    for (int waited = 0; waited < 6000 && !stopped; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (stopped) return;
    released = true;
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  });
  while (!opened && !released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  RequestThreadStop(*state);
  reader.join();
  stopped = true;
  guard.join();
  EXPECT_TRUE(opened);
  EXPECT_FALSE(released);
  EXPECT_FALSE(readReturned);
  CloseFileStream(8);
  std::filesystem::remove_all(folderTemplate);
}

}  // namespace

namespace {

// A folder laid out as /proc and /sys/fs/cgroup, for AvailableSystemMemory to read while it
// lives.
class FakeMemoryInfo {
 public:
  FakeMemoryInfo() {
    char folderTemplate[] = "/tmp/memory-info-test-XXXXXX";
    root_ = mkdtemp(folderTemplate);
    SetMemoryInfoRoots((root_ + "/proc").c_str(), (root_ + "/cgroup").c_str());
  }
  ~FakeMemoryInfo() {
    SetMemoryInfoRoots(nullptr, nullptr);
    std::filesystem::remove_all(root_);
  }
  void Write(const std::string& name, const std::string& text) const {
    const std::filesystem::path path = root_ + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  void Group(const std::string& folder, const std::string& limitFile, const std::string& limit,
             const std::string& usageFile, std::int64_t usage, const std::string& stat) const {
    Write(folder + "/" + limitFile, limit + "\n");
    Write(folder + "/" + usageFile, std::to_string(usage) + "\n");
    Write(folder + "/memory.stat", stat);
  }

 private:
  std::string root_;
};

constexpr std::int64_t MiB = std::int64_t{1} << 20;

TEST(AvailableSystemMemoryTest, TheTightestControlGroupAboveTheProcessOrTheMachineDecides) {
  const FakeMemoryInfo info;
  EXPECT_EQ(AvailableSystemMemory(), -1);  // nothing to go by
  info.Write("proc/meminfo", "MemTotal:       16777216 kB\nMemAvailable:    8388608 kB\n");
  EXPECT_EQ(AvailableSystemMemory(), 8192 * MiB);

  // cgroup v2: the parent's limit binds (its page cache, which the kernel drops first, counts
  // as room);
  // the process's own group has none.
  info.Write("proc/self/cgroup", "0::/user.slice/app.scope\n");
  info.Write("cgroup/cgroup.controllers", "cpu memory\n");
  info.Group("cgroup/user.slice", "memory.max", std::to_string(3072 * MiB), "memory.current",
             1024 * MiB,
             "anon 1\nactive_file " + std::to_string(56 * MiB) + "\ninactive_file " +
                 std::to_string(200 * MiB) + "\n");
  info.Group("cgroup/user.slice/app.scope", "memory.max", "max", "memory.current", 900 * MiB, "");
  EXPECT_EQ(AvailableSystemMemory(), 2304 * MiB);
  // A tighter limit on the process's own group.
  info.Group("cgroup/user.slice/app.scope", "memory.max", std::to_string(1536 * MiB),
             "memory.current", 1436 * MiB, "inactive_file 0\n");
  EXPECT_EQ(AvailableSystemMemory(), 100 * MiB);
  // A group over its limit leaves nothing, and the machine's figure wins when it is smaller.
  info.Group("cgroup/user.slice/app.scope", "memory.max", std::to_string(1536 * MiB),
             "memory.current", 1600 * MiB, "");
  EXPECT_EQ(AvailableSystemMemory(), 0);
  info.Group("cgroup/user.slice/app.scope", "memory.max", "max", "memory.current", 0, "");
  info.Write("proc/meminfo", "MemAvailable:    1024 kB\n");
  EXPECT_EQ(AvailableSystemMemory(), MiB);
}

TEST(AvailableSystemMemoryTest, VersionOneAndGroupsOutsideTheViewAreRead) {
  const FakeMemoryInfo info;
  info.Write("proc/meminfo", "MemAvailable:    8388608 kB\n");
  // Beside v1 controllers v2 sits in unified/, here without limits. In v1 the unlimited
  // value is a huge number, and the hierarchy's page cache is the total_ field.
  info.Write("proc/self/cgroup", "5:cpu,cpuacct:/box\n4:memory:/box/job\n0::/\n");
  info.Write("cgroup/unified/cgroup.controllers", "");
  info.Group("cgroup/memory/box/job", "memory.limit_in_bytes", "9223372036854771712",
             "memory.usage_in_bytes", 10 * MiB, "");
  info.Group("cgroup/memory/box", "memory.limit_in_bytes", std::to_string(1024 * MiB),
             "memory.usage_in_bytes", 600 * MiB,
             "inactive_file 1\ntotal_active_file " + std::to_string(20 * MiB) +
                 "\ntotal_inactive_file " + std::to_string(30 * MiB) + "\n");
  EXPECT_EQ(AvailableSystemMemory(), 474 * MiB);

  // A container sees its own group as the root, while the path names it from outside.
  const FakeMemoryInfo container;
  container.Write("proc/meminfo", "MemAvailable:    8388608 kB\n");
  container.Write("proc/self/cgroup", "0::/machine.slice/box.scope\n");
  container.Write("cgroup/cgroup.controllers", "memory\n");
  container.Group("cgroup", "memory.max", std::to_string(512 * MiB), "memory.current", 12 * MiB,
                  "");
  EXPECT_EQ(AvailableSystemMemory(), 500 * MiB);
}

}  // namespace
