#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "evaluator_test_support.h"
#include "export.h"
#include "replacing_file.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"

namespace evaluator_test {
namespace {

std::string ReadBytes(const std::u16string& path) {
  std::ifstream file(Narrow(path), std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::size_t EntriesIn(const std::string& folder) {
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  return entries;
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEvaluator(); }

  // Two records: "ab" with groups a and b, then "a" with groups a and an empty text.
  static void EvaluateTwoRecords(Options options = {}) { Evaluate(u"(a)(b?)", u"ab a", options); }

  // Clicks the button as a user would, with the chooser answering path.
  static void ClickExport(std::int64_t button, const std::u16string& path) {
    Modal().chosenFile = path;
    QTest::mouseClick(WidgetOf(button), Qt::LeftButton);
    RunLoopUntil([] { return HasQueuedEvent() == 0; });
  }

  static void ExpectBox(const std::u16string& title, const std::u16string& text, MessageIcon icon) {
    ASSERT_EQ(Modal().boxes.size(), 1u);
    EXPECT_EQ(Modal().boxes[0].title, title);
    EXPECT_EQ(Modal().boxes[0].text, text);
    EXPECT_EQ(Modal().boxes[0].icon, icon);
  }
};

TEST_F(ExportTest, DelimitedFormatsWriteEveryTextFollowedByItsSeparator) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  const std::u16string comma = folder.PathOf("comma.txt");
  ClickExport(evaluator::ExportCommaButton, comma);
  ExpectBox(u"done", u"Export successful.", MessageIcon::Information);
  EXPECT_EQ(ReadBytes(comma), "ab,a,\r\n\r\na,b,a,,");

  Modal().boxes.clear();
  const std::u16string newline = folder.PathOf("newline.txt");
  ClickExport(evaluator::ExportNewlineButton, newline);
  EXPECT_EQ(ReadBytes(newline), "ab\r\na\r\n\r\n\r\na\r\nb\r\na\r\n\r\n");

  Modal().boxes.clear();
  const std::u16string tab = folder.PathOf("tab.txt");
  ClickExport(evaluator::ExportTabButton, tab);
  EXPECT_EQ(ReadBytes(tab), "ab\ta\t\r\n\r\na\tb\ta\t\t");
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 3u);  // no temporary file left behind
}

// Long texts reach the file in blocks; a character beyond U+FFFF cut by a block's end
// would turn into two broken ones.
TEST_F(ExportTest, ACharacterBeyondTheBasicPlaneSurvivesTheBlockBoundary) {
  const std::u16string text = std::u16string(65535, u'a') + u"\U0001F600";
  Evaluate(u"a+\U0001F600", text, {.groups = false});
  TemporaryFolder folder;
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("long.txt"));
  EXPECT_EQ(ReadBytes(folder.PathOf("long.txt")),
            std::string(65535, 'a') + "\xF0\x9F\x98\x80,\r\n\r\n");
}

TEST_F(ExportTest, GroupsOnlyGivesAMatchSectionOfSeparators) {
  EvaluateTwoRecords({.matches = false});
  TemporaryFolder folder;
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("groups.txt"));
  EXPECT_EQ(ReadBytes(folder.PathOf("groups.txt")), ",,\r\n\r\na,b,a,,");
}

TEST_F(ExportTest, TheChooserProposesTheInputFileNameInItsFolder) {
  EvaluateTwoRecords();
  Modal().chosenFile = u"";
  evaluator::SetInputFilePath(u"/data/logs/log.old.txt");
  evaluator::Export(evaluator::ExportJsonButton);
  evaluator::SetInputFilePath(u"/data/notes");
  evaluator::Export(evaluator::ExportTabButton);
  evaluator::SetInputFilePath(u"");
  evaluator::Export(evaluator::ExportXmlButton);
  ASSERT_EQ(Modal().choosers.size(), 3u);
  EXPECT_TRUE(Modal().choosers[0].save);
  EXPECT_EQ(Modal().choosers[0].title, u"export to");
  EXPECT_EQ(Modal().choosers[0].proposedName, u"log.old_export.json");
  EXPECT_EQ(Modal().choosers[0].startFolder, u"/data/logs");
  EXPECT_EQ(Modal().choosers[1].proposedName, u"notes_export.txt");
  EXPECT_EQ(Modal().choosers[2].proposedName, u"_export.xml");
  EXPECT_EQ(Modal().choosers[2].startFolder, u"");
  EXPECT_TRUE(Modal().boxes.empty());  // a cancelled chooser ends the export silently
}

TEST_F(ExportTest, AnEmptyResultListDoesNothing) {
  TemporaryFolder folder;
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("never.txt"));
  EXPECT_TRUE(Modal().choosers.empty());
  EXPECT_TRUE(Modal().boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(Narrow(folder.PathOf("never.txt"))));
}

TEST_F(ExportTest, AFileThatCantBeCreatedIsReported) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("missing folder/out.txt"));
  ExpectBox(u"error", u"Can't write to the file.", MessageIcon::Error);
}

// A file-size limit for as long as it lives: writes beyond it fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previousHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previousHandler_)(int);
};

// The small export stays in the stream's buffer until the last flush, which fails.
TEST_F(ExportTest, AFailedWriteKeepsTheOldFileAndIsReported) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  const std::u16string target = folder.Write("kept.txt", "old contents");
  {
    const FileSizeLimit limit(4);  // smaller than the export, as a full disk would be
    ClickExport(evaluator::ExportCommaButton, target);
  }
  ExpectBox(u"Error", u"Error writing to the file.\n\nFile too large.", MessageIcon::Error);
  EXPECT_EQ(ReadBytes(target), "old contents");
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 1u);
}

// A disk that fills part way through a large export: the write that falls short fails the
// export in every format, however many bytes the system took before it.
TEST_F(ExportTest, AWriteThatFallsShortInALargeExportKeepsTheOldFile) {
  std::u16string input;
  for (int repeat = 0; repeat < 20000; ++repeat) input += u"xy ";
  Evaluate(u"x(y)", input);
  TemporaryFolder folder;
  const std::u16string target = folder.Write("kept.txt", "old contents");
  for (const std::int64_t button :
       {evaluator::ExportCommaButton, evaluator::ExportJsonButton, evaluator::ExportXmlButton}) {
    Modal().boxes.clear();
    {
      const FileSizeLimit limit(16384);
      ClickExport(button, target);
    }
    ExpectBox(u"Error", u"Error writing to the file.\n\nFile too large.", MessageIcon::Error);
    EXPECT_EQ(ReadBytes(target), "old contents") << "button " << button;
    EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 1u) << "button " << button;
  }
}

// What the folder sync saw: the folder synced and the target's text at that moment.
struct FolderSyncSeen {
  ino_t folder = 0;
  std::string targetText;
  int failWith = 0;
  std::u16string target;
};

FolderSyncSeen& SyncSeen() {
  static FolderSyncSeen seen;
  return seen;
}

int NoteFolderSync(int folder) {
  struct stat status {};
  fstat(folder, &status);
  SyncSeen().folder = status.st_ino;
  SyncSeen().targetText = ReadBytes(SyncSeen().target);
  if (SyncSeen().failWith == 0) return fsync(folder);
  errno = SyncSeen().failWith;
  return -1;
}

// The folder is synced once the new file has its name; a sync that fails fails the export,
// which says that the file, though in place, may not survive a crash.
TEST_F(ExportTest, TheFolderIsSyncedAfterTheRenameAndItsFailureIsReported) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  const std::u16string target = folder.Write("synced.txt", "old contents");
  struct stat folderStatus {};
  ASSERT_EQ(stat(Narrow(folder.PathOf("")).c_str(), &folderStatus), 0);
  SyncSeen() = FolderSyncSeen{};
  SyncSeen().target = target;
  evaluator::SetFolderSync(NoteFolderSync);
  ClickExport(evaluator::ExportCommaButton, target);
  ExpectBox(u"done", u"Export successful.", MessageIcon::Information);
  EXPECT_EQ(SyncSeen().folder, folderStatus.st_ino);
  EXPECT_EQ(SyncSeen().targetText, "ab,a,\r\n\r\na,b,a,,");

  Modal().boxes.clear();
  SyncSeen().failWith = EIO;
  ClickExport(evaluator::ExportTabButton, target);
  evaluator::SetFolderSync(nullptr);
  ExpectBox(u"Error",
            u"Error writing to the file.\n\nThe file was written, but its folder could not be "
            u"saved to disk, so a crash may still lose it: Input/output error.",
            MessageIcon::Error);
  EXPECT_EQ(ReadBytes(target), "ab\ta\t\r\n\r\na\tb\ta\t\t");
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 1u);
}

TEST_F(ExportTest, AReplacedFileKeepsItsPermissionsAndALinkStaysALink) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  const std::string target = Narrow(folder.Write("target.txt", "old"));
  chmod(target.c_str(), 06640);  // set-user-ID and set-group-ID are not passed on
  const std::string link = Narrow(folder.PathOf("link.txt"));
  std::filesystem::create_symlink(target, link);
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("link.txt"));
  ExpectBox(u"done", u"Export successful.", MessageIcon::Information);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(folder.PathOf("target.txt")), "ab,a,\r\n\r\na,b,a,,");
  struct stat status {};
  stat(target.c_str(), &status);
  EXPECT_EQ(status.st_mode & 07777, 0640u);

  // A link that points nowhere yet: the file it names is made, the link stays.
  const std::string dangling = Narrow(folder.PathOf("dangling.txt"));
  std::filesystem::create_symlink("made.txt", dangling);
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("dangling.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(ReadBytes(folder.PathOf("made.txt")), "ab,a,\r\n\r\na,b,a,,");
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 4u);
}

TEST_F(ExportTest, TheLongestNamesAreWrittenAndAPipeIsRefused) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  for (const std::size_t length : {249u, 255u}) {
    const std::u16string path = folder.PathOf(std::string(length - 4, 'n') + ".txt");
    ClickExport(evaluator::ExportCommaButton, path);
    EXPECT_EQ(ReadBytes(path), "ab,a,\r\n\r\na,b,a,,") << length;
    EXPECT_EQ(Modal().boxes.back().text, u"Export successful.");
  }
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 2u);

  Modal().boxes.clear();
  const std::string pipe = Narrow(folder.PathOf("pipe"));
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ClickExport(evaluator::ExportCommaButton, folder.PathOf("pipe"));
  ExpectBox(u"error", u"Can't write to the file.\n\nThe name belongs to a pipe, not to a file.",
            MessageIcon::Error);
  struct stat status {};
  ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(EntriesIn(Narrow(folder.PathOf(""))), 3u);
}

TEST_F(ExportTest, AnExportDuringAnEvaluationWritesWholeRecordsAndKeepsMatchOrder) {
  std::u16string input;
  for (int repeat = 0; repeat < 300000; ++repeat) input += u"xy ";
  UiSetText(evaluator::PatternField, u"x(y)");
  UiSetText(evaluator::InputField, input.c_str());
  UiSetFocus(evaluator::PatternField);
  Press(Qt::Key_Return);
  evaluator::ApplicationState& state = evaluator::State();
  ASSERT_TRUE(RunLoopUntil([&] {
    std::lock_guard guard(state.resultListLock);
    return ListCount(state.resultList) > 0;
  }));
  TemporaryFolder folder;
  Modal().chosenFile = folder.PathOf("partial.txt");
  evaluator::Export(evaluator::ExportCommaButton);
  ASSERT_TRUE(RunLoopUntilWorkerDone());

  const std::string text = ReadBytes(folder.PathOf("partial.txt"));
  const std::size_t sectionBreak = text.find("\r\n\r\n");
  ASSERT_NE(sectionBreak, std::string::npos);
  const std::string matches = text.substr(0, sectionBreak);
  const std::string groups = text.substr(sectionBreak + 4);
  ASSERT_EQ(matches.size() % 3, 0u);
  // A file that holds part of the result never goes out as a plain success.
  ASSERT_EQ(Modal().boxes.size(), 1u);
  if (matches.size() / 3 < 300000) {
    EXPECT_EQ(Modal().boxes[0].icon, MessageIcon::Warning);
    EXPECT_EQ(Modal().boxes[0].text,
              u"Export successful.\n\nThe evaluation is still running: the file holds the " +
                  QString::number(matches.size() / 3).toStdU16String() +
                  u" matches found so far, not the whole result.");
  }
  EXPECT_EQ(matches, [&] {
    std::string all;
    for (std::size_t i = 0; i < matches.size() / 3; ++i) all += "xy,";
    return all;
  }());
  EXPECT_EQ(groups.size() * 3, matches.size() * 2);  // one group "y," for each "xy,"
  const std::vector<RecordTexts> records = ResultRecords();
  ASSERT_EQ(records.size(), 300000u);
  for (const RecordTexts& record : records) ASSERT_EQ(record, (RecordTexts{u"xy", {u"y"}}));
}

// The window keeps taking input while the file is written; what the user asks for
// meanwhile (here closing the window) waits in the queue until the export has said how it
// went.
TEST_F(ExportTest, TheWindowAnswersDuringAnExportAndACloseWaitsForItsEnd) {
  EvaluateTwoRecords();
  TemporaryFolder folder;
  QWidget* window = WidgetOf(evaluator::PatternField)->window();
  bool answered = false;
  bool boxBeforeAnswer = false;
  QTimer::singleShot(0, window, [&] {
    answered = true;
    boxBeforeAnswer = !Modal().boxes.empty();
    window->close();
  });
  Modal().chosenFile = folder.PathOf("out.txt");
  evaluator::Export(evaluator::ExportCommaButton);
  EXPECT_TRUE(answered);
  EXPECT_FALSE(boxBeforeAnswer);
  ExpectBox(u"done", u"Export successful.", MessageIcon::Information);
  bool closeQueued = false;
  while (HasQueuedEvent() != 0) closeQueued = UiWaitEvent() == CloseEvent || closeQueued;
  EXPECT_TRUE(closeQueued);
  EXPECT_TRUE(window->isVisible());
}

std::string Joined(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

TEST_F(ExportTest, JsonAndXmlFilesHoldTheDocumentsLayout) {
  Evaluate(u"(\\w)(\\w)", u"ab cd");
  TemporaryFolder folder;
  ClickExport(evaluator::ExportJsonButton, folder.PathOf("out.json"));
  ClickExport(evaluator::ExportXmlButton, folder.PathOf("out.xml"));
  ASSERT_EQ(Modal().boxes.size(), 2u);
  EXPECT_EQ(Modal().boxes[1].text, u"Export successful.");
  std::string json =
      Joined({"[", "  {", "    \"g\": [", "        \"a\",", "        \"b\"", "      ],",
              "    \"m\": \"ab\"", "  },", "  {", "    \"g\": [", "        \"c\",", "        \"d\"",
              "      ],", "    \"m\": \"cd\"", "  }", "]"});
  json.resize(json.size() - 2);  // the lines are joined, not ended
  EXPECT_EQ(ReadBytes(folder.PathOf("out.json")), json);
  EXPECT_EQ(ReadBytes(folder.PathOf("out.xml")),
            Joined({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "", "<list>", "  <element>",
                    "    <m>ab</m>", "    <g>", "      <element>a</element>",
                    "      <element>b</element>", "    </g>", "  </element>", "  <element>",
                    "    <m>cd</m>", "    <g>", "      <element>c</element>",
                    "      <element>d</element>", "    </g>", "  </element>", "</list>"}));
}

// Texts a parser must get back unchanged: blanks, tabs, line breaks of every kind, markup
// characters, quotes and a character beyond U+FFFF. They come from a file, as the input
// field itself would turn a CR into a line feed.
void EvaluateAwkwardTexts(const TemporaryFolder& folder, const std::string& extra = "") {
  const std::u16string input = folder.Write(
      "input.txt",
      "[  two  blanks\t\ttabs  ][x\r\ny\nz\r][a<b & c>\"'][\xF0\x9F\x98\x80 \\ / \xC3\xA9]" +
          extra);
  Evaluate(u"\\[([^]]*)\\]", u"<file://" + input + u">");
}

std::vector<std::u16string> RecordTextsInOrder() {
  std::vector<std::u16string> texts;
  for (const RecordTexts& record : ResultRecords()) {
    texts.push_back(record.m);
    texts.insert(texts.end(), record.g.begin(), record.g.end());
  }
  return texts;
}

TEST_F(ExportTest, TheJsonFileReadsBackAsTheRecords) {
  TemporaryFolder folder;
  EvaluateAwkwardTexts(folder);
  ClickExport(evaluator::ExportJsonButton, folder.PathOf("out.json"));
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(
      QByteArray::fromStdString(ReadBytes(folder.PathOf("out.json"))), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  std::vector<std::u16string> texts;
  for (const QJsonValue record : document.array()) {
    texts.push_back(record.toObject()["m"].toString().toStdU16String());
    for (const QJsonValue group : record.toObject()["g"].toArray())
      texts.push_back(group.toString().toStdU16String());
  }
  EXPECT_EQ(texts.size(), 8u);
  EXPECT_EQ(texts, RecordTextsInOrder());
}

// Each "m" and each group "element" of the file, as a conforming parser reads them.
std::vector<std::u16string> LeafTextsOf(const std::string& xml) {
  std::vector<std::u16string> texts;
  QXmlStreamReader reader(QByteArray::fromStdString(xml));
  int depth = 0;
  while (!reader.atEnd()) {
    const QXmlStreamReader::TokenType token = reader.readNext();
    if (token == QXmlStreamReader::StartElement && ++depth >= 3 && reader.name() != u"g") {
      texts.push_back(reader.readElementText().toStdU16String());
      --depth;
    } else if (token == QXmlStreamReader::EndElement) {
      --depth;
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return texts;
}

TEST_F(ExportTest, TheXmlFileCarriesEveryTextExactly) {
  TemporaryFolder folder;
  EvaluateAwkwardTexts(folder, "[\x01\xEF\xBF\xBF]");  // U+0001 and U+FFFF: not XML characters
  ClickExport(evaluator::ExportXmlButton, folder.PathOf("out.xml"));
  // Each stands in the match and in its group: four replaced, and the box says so.
  ExpectBox(u"done",
            u"Export successful. 4 characters that XML can't hold (control characters, U+FFFE, "
            u"U+FFFF or a lone surrogate) were written as U+FFFD.",
            MessageIcon::Information);
  std::vector<std::u16string> expected = RecordTextsInOrder();
  ASSERT_EQ(expected.size(), 10u);
  EXPECT_EQ(expected[2], u"[x\r\ny\nz\r]");
  expected[8] = u"[\uFFFD\uFFFD]";
  expected[9] = u"\uFFFD\uFFFD";
  EXPECT_EQ(LeafTextsOf(ReadBytes(folder.PathOf("out.xml"))), expected);
}

// The csv table as Python's csv module reads it, one list of fields per row, or nothing
// when there is no python3 to ask.
std::optional<QJsonArray> CsvRowsByPython(const TemporaryFolder& folder,
                                          const std::u16string& csv) {
  const std::string rows = Narrow(folder.PathOf("rows.json"));
  const std::string command =
      "python3 -c 'import csv, json, sys\n"
      "with open(sys.argv[1], newline=\"\", encoding=\"utf-8\") as f:\n"
      "    json.dump(list(csv.reader(f, strict=True)), open(sys.argv[2], \"w\"))' '" +
      Narrow(csv) + "' '" + rows + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return QJsonDocument::fromJson(QByteArray::fromStdString(ReadBytes(folder.PathOf("rows.json"))))
      .array();
}

TEST_F(ExportTest, TheCsvTableHasAHeaderAndOneQuotedRowPerMatch) {
  TemporaryFolder folder;
  EvaluateTwoRecords();
  ClickExport(evaluator::ExportCsvTableButton, folder.PathOf("small.csv"));
  EXPECT_EQ(ReadBytes(folder.PathOf("small.csv")), "match,1,2\r\nab,a,b\r\na,a,\r\n");
  EXPECT_EQ(evaluator::ProposedExportName(evaluator::ExportCsvTableButton), u"_export.csv");

  // A named group, a numbered one and alternation: a row has a column for every group
  // of the pattern, also where the group took no part.
  const std::u16string input = folder.Write(
      "input.txt",
      "[  two, blanks\t\ttabs  ][x\r\ny\nz\r][a<b & \"c\">'][\xF0\x9F\x98\x80 \xC3\xA9]<7>");
  Evaluate(u"\\[(?<inner>[^]]*)\\]|<(\\d)>", u"<file://" + input + u">");
  Modal() = ModalRecord{};
  ClickExport(evaluator::ExportCsvTableButton, folder.PathOf("out.csv"));
  ExpectBox(u"done", u"Export successful.", MessageIcon::Information);
  const std::optional<QJsonArray> rows = CsvRowsByPython(folder, folder.PathOf("out.csv"));
  if (!rows) GTEST_SKIP() << "python3 is not available";
  std::vector<std::vector<std::u16string>> expected{{u"match", u"inner", u"2"}};
  for (const RecordTexts& record : ResultRecords()) {
    expected.push_back({record.m});
    expected.back().insert(expected.back().end(), record.g.begin(), record.g.end());
    expected.back().resize(3);
  }
  ASSERT_EQ(expected.size(), 6u);
  EXPECT_EQ(expected[2][1], u"x\r\ny\nz\r");
  EXPECT_EQ(expected[5], (std::vector<std::u16string>{u"<7>", u"", u"7"}));
  std::vector<std::vector<std::u16string>> read;
  for (const QJsonValue row : *rows) {
    read.emplace_back();
    for (const QJsonValue field : row.toArray())
      read.back().push_back(field.toString().toStdU16String());
  }
  EXPECT_EQ(read, expected);
}

}  // namespace
}  // namespace evaluator_test
