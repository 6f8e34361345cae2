#include "export.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/evaluator.h"
#include "json/json.h"
#include "messages.h"
#include "records/match_record.h"
#include "replacing_file.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "state.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "xml_export.h"

namespace evaluator {
namespace {

struct ExportFormat {
  const char16_t* extension;
  const char16_t* separator;  // written after every text of the delimited formats
};

ExportFormat FormatOf(std::int64_t gadget) {
  switch (gadget) {
    case ExportCommaButton:
      return {u"txt", u","};
    case ExportNewlineButton:
      return {u"txt", u"\r\n"};
    case ExportTabButton:
      return {u"txt", u"\t"};
    case ExportJsonButton:
      return {u"json", nullptr};
    case ExportCsvTableButton:
      return {u"csv", nullptr};
    default:
      return {u"xml", nullptr};
  }
}

// The chooser opens in the input file's folder, where a user looks for the export first.
std::u16string ChooserDefault(std::int64_t gadget) {
  const std::u16string inputPath = InputFilePath();
  const std::size_t separator = inputPath.find_last_of(u"/\\");
  const std::u16string folder =
      separator == std::u16string::npos ? u"" : inputPath.substr(0, separator + 1);
  return folder + ProposedExportName(gadget);
}

// Texts go to the file in blocks, so that millions of short texts cost few stream calls
// and a composed document of many megabytes is encoded a block at a time rather than
// into one more copy of its whole size.
class BlockWriter {
 public:
  explicit BlockWriter(ReplacingFile& file) : file_(file) {}
  ~BlockWriter() { Flush(); }
  void Append(std::u16string_view text) {
    while (!text.empty()) {
      const std::size_t room = BlockUnits - std::min(BlockUnits, block_.size());
      const std::size_t part = std::min(text.size(), room);
      block_.append(text.substr(0, part));
      text.remove_prefix(part);
      if (block_.size() >= BlockUnits) FlushFullBlock();
    }
  }
  void Flush() {
    if (!block_.empty()) file_.Write(block_.c_str());
    block_.clear();
  }

 private:
  static constexpr std::size_t BlockUnits = 1 << 16;

  // A surrogate pair cut by the block's end would encode as two broken characters: its
  // first half waits for the next block.
  void FlushFullBlock() {
    const char16_t last = block_.back();
    if (!IsHighSurrogate(last)) return Flush();
    block_.pop_back();
    Flush();
    block_ += last;
  }

  ReplacingFile& file_;
  std::u16string block_;
};

std::u16string_view TextOf(const char16_t* text) { return text ? text : u""; }

// The match section, the section break, then the group section; every text is followed by
// the separator and nothing is quoted.
void WriteDelimited(const RecordList& results, std::u16string_view separator, ReplacingFile& file) {
  BlockWriter writer(file);
  for (ListElement* element = results.first; element; element = element->next) {
    writer.Append(TextOf(static_cast<MatchRecord*>(RecordOf(element))->m));
    writer.Append(separator);
  }
  writer.Append(u"\r\n\r\n");
  for (ListElement* element = results.first; element; element = element->next) {
    const RecordList* groups = static_cast<MatchRecord*>(RecordOf(element))->g.list;
    for (ListElement* group = groups ? groups->first : nullptr; group; group = group->next) {
      writer.Append(TextOf(*static_cast<StringVar*>(RecordOf(group))));
      writer.Append(separator);
    }
  }
}

// One field of a csv table: quoted, with its quotes doubled, when it holds a comma, a quote,
// CR or LF, so that a reader splits rows and fields where the table does.
void AppendCsvField(std::u16string_view text, BlockWriter& writer) {
  if (text.find_first_of(u",\"\r\n") == std::u16string_view::npos) return writer.Append(text);
  writer.Append(u"\"");
  for (std::size_t quote = text.find(u'"'); quote != std::u16string_view::npos;
       quote = text.find(u'"')) {
    writer.Append(text.substr(0, quote + 1));
    writer.Append(u"\"");
    text.remove_prefix(quote + 1);
  }
  writer.Append(text);
  writer.Append(u"\"");
}

// The header row, then one row per match: its text and one column per group of the
// pattern, each row ended by CR LF. Every row has the header's width, so a spreadsheet
// lines the columns up.
void WriteCsvTable(const RecordList& results, const std::vector<std::u16string>& columns,
                   ReplacingFile& file) {
  BlockWriter writer(file);
  for (std::size_t column = 0; column < columns.size(); ++column) {
    if (column > 0) writer.Append(u",");
    AppendCsvField(columns[column], writer);
  }
  writer.Append(u"\r\n");
  for (ListElement* element = results.first; element; element = element->next) {
    const MatchRecord* record = static_cast<MatchRecord*>(RecordOf(element));
    AppendCsvField(TextOf(record->m), writer);
    std::size_t fields = 1;
    const RecordList* groups = record->g.list;
    for (ListElement* group = groups ? groups->first : nullptr; group;
         group = group->next, ++fields) {
      writer.Append(u",");
      AppendCsvField(TextOf(*static_cast<StringVar*>(RecordOf(group))), writer);
    }
    for (; fields < columns.size(); ++fields) writer.Append(u",");
    writer.Append(u"\r\n");
  }
}

// What an export took from the result list: its records, and whether an evaluation was
// still adding to them, which makes the file a part of the result.
// replacedCharacters counts the characters the file could not hold as they were.
struct Taken {
  std::int64_t records = 0;
  bool evaluationRunning = false;
  std::size_t replacedCharacters = 0;
};

// The worker appends under the list's lock and puts its cursor back at the end itself, so
// a walk under the lock sees whole records only. The documents copy what they take, so
// the lock is held only while they take it.
template <typename Read>
Taken WithResults(Read read) {
  ApplicationState& state = State();
  std::lock_guard guard(state.resultListLock);
  read(state.resultList);
  return {ListCount(state.resultList), ThreadIsRunning(state.workerThread) != 0, {}};
}

Taken WriteJson(ReplacingFile& file) {
  const ObjectNumber document = JsonCreate(AnyHandle, 0);
  const Taken taken = WithResults([&](const RecordList* results) {
    JsonInsertList(JsonRoot(document), results, MatchStructDescriptor.data());
  });
  // The text is written from where it was composed, in the string buffer, and the
  // buffer's room is given back at once.
  const std::int64_t at = TempPosition();
  const char16_t* text = JsonCompose(document, JsonPrettyPrint, at);
  // Even an empty list composes to "[]": an empty text means the document or its text
  // could not be made, and an empty file must not replace the old one as a success.
  if (document == 0 || !text || !*text) file.Abandon(ENOMEM);
  else BlockWriter(file).Append(text);
  ReturnEmptyTemp(at);
  JsonFree(document);
  return taken;
}

Taken WriteXml(ReplacingFile& file) {
  XmlExport document;
  Taken taken = WithResults([&](const RecordList* results) { document.Insert(results); });
  BlockWriter writer(file);
  if (!document.Compose([&](std::u16string_view piece) { writer.Append(piece); })) {
    file.Abandon(ENOMEM);
  }
  taken.replacedCharacters = document.ReplacedCharacters();
  return taken;
}

Taken WriteBody(std::int64_t gadget, ReplacingFile& file) {
  const ExportFormat format = FormatOf(gadget);
  if (format.separator) {
    return WithResults(
        [&](const RecordList* results) { WriteDelimited(*results, format.separator, file); });
  }
  if (gadget == ExportCsvTableButton) {
    return WithResults(
        [&](const RecordList* results) { WriteCsvTable(*results, State().resultColumns, file); });
  }
  return gadget == ExportJsonButton ? WriteJson(file) : WriteXml(file);
}

// The file is written on a thread of its own, so that the window keeps painting and taking
// input through an export of millions of records.
class ExportJob {
 public:
  explicit ExportJob(std::int64_t gadget) : gadget_(gadget) {}
  ReplacingFile& File() { return file_; }
  void Run() {
    EnsureStringBuffer();
    taken_ = WriteBody(gadget_, file_);
    committed_ = file_.Commit();
    // A document of a large result takes several times the result's memory in small
    // blocks, all freed by now; the heap would keep them for good (the results' own
    // memory, allocated elsewhere, is seldom freed in pieces that fit them again).
    if (gadget_ == ExportJsonButton || gadget_ == ExportXmlButton) malloc_trim(0);
    done_.store(true, std::memory_order_release);
  }
  [[nodiscard]] bool Done() const { return done_.load(std::memory_order_acquire); }
  // Read once Done holds.
  [[nodiscard]] bool Committed() const { return committed_; }
  [[nodiscard]] const Taken& TakenFromResults() const { return taken_; }

 private:
  const std::int64_t gadget_;
  ReplacingFile file_;
  Taken taken_;
  bool committed_ = false;
  std::atomic<bool> done_{false};
};

bool HasResults() {
  ApplicationState& state = State();
  std::lock_guard guard(state.resultListLock);
  return ListCount(state.resultList) > 0;
}

}  // namespace

std::u16string ProposedExportName(std::int64_t gadget) {
  const std::u16string inputPath = InputFilePath();
  const String name =
      TakeResult([&](std::int64_t at) { FilePartOfPath(inputPath.c_str(), 1, at); });
  return std::u16string(name.data()) + u"_export." + FormatOf(gadget).extension;
}

void Export(std::int64_t gadget) {
  if (!HasResults()) return;
  const std::u16string path = UiAskSaveFile(u"export to", ChooserDefault(gadget).c_str(), u"", 0);
  if (path.empty()) return;
  const auto job = std::make_shared<ExportJob>(gadget);
  if (!job->File().Open(path, AnyHandle)) {
    ShowUserMessage(ExportNotOpenedMessage(job->File().Reason()));
    return;
  }
  if (ThreadRunShared<&ExportJob::Run>(job) == 0) job->Run();
  // What the user does meanwhile, closing the window included, waits in the event queue
  // and is handled once the box below has been answered.
  UiKeepAnsweringUntil([&job] { return job->Done(); });
  const Taken& taken = job->TakenFromResults();
  ShowUserMessage(job->Committed() ? ExportDoneMessage(taken.records, taken.evaluationRunning,
                                                       taken.replacedCharacters)
                                   : ExportFailedMessage(job->File().Reason()));
}

}  // namespace evaluator
