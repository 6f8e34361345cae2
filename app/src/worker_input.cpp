#include "worker_input.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/evaluator.h"
#include "commands.h"
#include "messages.h"
#include "runtime/file_stream.h"
#include "runtime/thread_stop.h"
#include "state.h"
#include "status_line.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

constexpr std::int64_t InputStream = 0;

// An input of n bytes of UTF-8 becomes at most 2n bytes of UTF-16 text, and the pattern
// engine scans one UTF-8 copy of that text: three times the file in all, at the most.
constexpr std::int64_t MemoryPerInputByte = 3;

std::atomic<std::int64_t> engineBytesLimit{InputLimits{}.engineBytes};
std::atomic<std::int64_t> memoryBudgetLimit{InputLimits{}.memoryBudget};

std::u16string Widened(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::u16string SizeText(std::int64_t bytes) {
  constexpr double MiB = 1024.0 * 1024.0;
  constexpr double GiB = 1024.0 * MiB;
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  } else if (bytes < 1024LL * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / MiB);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / GiB);
  }
  return Widened(text);
}

namespace {

std::u16string MemoryText(const WholeText& read) {
  const std::u16string input =
      read.fileSize >= 0 ? u"the file has " + SizeText(read.fileSize) + u", and evaluating it"
                         : u"more than " + SizeText(read.bytesRead) +
                               u" came from it, and evaluating that much";
  return input + u" needs about " + SizeText(read.memoryNeeded) + u" of memory, but only " +
         SizeText(read.memoryAvailable) + u" are available.";
}

// Why the file's text could not be had, in a sentence that names the file.
std::u16string FailureText(const std::u16string& path, const WholeText& read) {
  switch (read.end) {
    case WholeReadEnd::OutOfMemory:
      return u"can't read " + path + u": " + MemoryText(read);
    case WholeReadEnd::TooLong:
      return u"can't evaluate " + path + u": " + TooLargeForEngineText() + u".";
    case WholeReadEnd::ReadError:
      return u"can't read " + path + u": " + Widened(std::strerror(read.error));
    default:
      return u"can't read " + path;
  }
}

std::u16string Counted(std::int64_t count, std::u16string_view one, std::u16string_view many) {
  return DecimalText(count) + u" " + std::u16string(count == 1 ? one : many);
}

// What of a file that is not all text did not come through as it stands, and where. Zero
// bytes are matched like any character, but a result text is kept zero-terminated, so one
// that holds a zero character is cut there.
std::u16string UnreadableText(const std::u16string& path, const WholeText& read) {
  std::u16string text = path + u" is not all text.";
  if (read.unreadablePlaces > 0) {
    text += u" " + Counted(read.unreadablePlaces, u"place", u"places") +
            u" could not be read as characters, the first at byte offset " +
            DecimalText(read.firstUnreadableAt) +
            u": a byte that can't begin a character is read as \"?\", a malformed character as "
            u"U+FFFD, and a character cut short by the end of the file is left out.";
  }
  if (read.zeroBytes > 0) {
    text += u" It holds " + Counted(read.zeroBytes, u"zero byte", u"zero bytes") +
            u", the first at byte offset " + DecimalText(read.firstZeroAt) +
            u": they are matched as characters, but a match or group text that holds one is "
            u"shown, copied and exported only up to it.";
  }
  return text;
}

WholeText ReadFile(const std::u16string& path) {
  // A zero byte is a character of the subject like any other: the engine takes a length,
  // so the whole file is matched.
  const WholeReadLimits limits{.memoryPerByte = MemoryPerInputByte,
                               .memoryBudget = memoryBudgetLimit.load(),
                               .longestText = engineBytesLimit.load(),
                               .zeroEndsText = false,
                               .progress = &Progress().read};
  WholeText read = StreamReadWholeUtf8(InputStream, FormatUtf8, limits);
  CloseFileStream(InputStream);
  if (read.end != WholeReadEnd::Complete) {
    UiMessageBox(u"error", FailureText(path, read).c_str(), IconError);
  } else if (read.unreadablePlaces > 0 || read.zeroBytes > 0) {
    PostUserMessage(u"input", UnreadableText(path, read), IconWarning);
  }
  return read;
}

}  // namespace

void SetInputLimits(const InputLimits& limits) {
  engineBytesLimit.store(limits.engineBytes);
  memoryBudgetLimit.store(limits.memoryBudget);
}

InputLimits CurrentInputLimits() { return {engineBytesLimit.load(), memoryBudgetLimit.load()}; }

std::u16string TooLargeForEngineText() {
  return u"the input is larger than the pattern engine can take (at most " +
         DecimalText(engineBytesLimit.load()) + u" bytes of UTF-8 text)";
}

SharedUtf8 ReadInput() {
  std::u16string typed = UiGetText(InputField);
  const std::u16string_view prefix = FileReferencePrefix;
  if (!typed.starts_with(prefix)) {
    // A typed text ends at its first zero character, as a file's text does.
    return ShareUtf8(Utf16ToUtf8(std::u16string_view(typed.c_str())));
  }

  // The reference ends with ">", whatever the last character really is.
  std::u16string path = typed.size() > prefix.size() + 1
                            ? typed.substr(prefix.size(), typed.size() - prefix.size() - 1)
                            : std::u16string();
  {
    SharedChangeScope change;
    SetInputFilePath(path);
  }
  ReportPhase(EvaluationPhase::Reading);
  if (!OpenFileRead(InputStream, path.c_str(), ShareRead | FormatUtf8)) {
    const std::u16string message = u"can't open " + path;
    UiMessageBox(u"error", message.c_str(), IconError);
    return {};
  }
  WholeText read = ReadFile(path);
  if (read.end != WholeReadEnd::Complete) return {};
  return std::move(read.utf8);
}

}  // namespace evaluator
