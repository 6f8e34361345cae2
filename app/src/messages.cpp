#include "messages.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/evaluator.h"
#include "regex/regex.h"
#include "runtime/strings.h"
#include "threads/posted_events.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

// The event carries one text: title, text and icon number joined by this separator. The
// title comes before the first one and the icon after the last, so the text may hold it.
constexpr char16_t Separator = u'|';

std::u16string Widened(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string Counted(std::int64_t count, std::u16string_view one, std::u16string_view many) {
  return DecimalText(count) + u" " + std::u16string(count == 1 ? one : many);
}

std::u16string MemoryText(const WholeText& read) {
  const std::u16string input =
      read.fileSize >= 0
          ? u"the file has " + SizeText(read.fileSize) + u", and evaluating it"
          : u"more than " + SizeText(read.bytesRead) + u" came from it, and evaluating that much";
  return input + u" needs about " + SizeText(read.memoryNeeded) + u" of memory, but only " +
         SizeText(read.memoryAvailable) + u" are available.";
}

}  // namespace

std::u16string SizeText(std::int64_t bytes) {
  constexpr double MiB = 1024.0 * 1024.0;
  constexpr double GiB = 1024.0 * MiB;
  if (bytes < 1024 * 1024) return DecimalText(bytes) + u" bytes";
  char text[32];
  if (bytes < 1024LL * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / MiB);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / GiB);
  }
  return Widened(text);
}

void PostUserMessage(const UserMessage& message) {
  std::u16string posted(message.title);
  posted += Separator;
  posted += message.text;
  posted += Separator;
  posted += DecimalText(message.icon);
  PostEventText(MessageEvent, -1, -1, -1, posted.c_str());
}

void ShowPostedMessage(std::u16string_view posted) {
  const std::size_t titleEnd = posted.find(Separator);
  const std::size_t textEnd = posted.rfind(Separator);
  if (titleEnd == std::u16string_view::npos || textEnd == titleEnd) return;
  const std::u16string icon(posted.substr(textEnd + 1));
  ShowUserMessage({std::u16string(posted.substr(0, titleEnd)),
                   std::u16string(posted.substr(titleEnd + 1, textEnd - titleEnd - 1)),
                   ParseInteger(icon.c_str())});
}

void ShowUserMessage(const UserMessage& message) {
  UiMessageBox(message.title.c_str(), message.text.c_str(), message.icon);
}

UserMessage PatternErrorMessage(std::u16string_view compileError) {
  return {u"error", std::u16string(compileError), IconError};
}

UserMessage PatternValidMessage() { return {u"ok", u"pattern is valid", IconInformation}; }

UserMessage NoMatchesMessage() { return {u"error", u"no matches found", IconError}; }

UserMessage NotEvaluatedMessage(std::u16string_view reason) {
  return {u"error",
          u"The pattern could not be evaluated over this input: " + std::u16string(reason) + u".",
          IconError};
}

UserMessage IncompleteResultsMessage(std::u16string_view reason) {
  return {u"incomplete",
          u"The results are incomplete: the scan stopped early because " + std::u16string(reason) +
              u".",
          IconWarning};
}

UserMessage InputNotOpenedMessage(std::u16string_view path) {
  return {u"error", u"can't open " + std::u16string(path), IconError};
}

UserMessage InputNotReadMessage(std::u16string_view path, const WholeText& read,
                                std::int64_t engineBytes) {
  const std::u16string file(path);
  switch (read.end) {
    case WholeReadEnd::OutOfMemory:
      return {u"error", u"can't read " + file + u": " + MemoryText(read), IconError};
    case WholeReadEnd::TooLong:
      return {u"error", u"can't evaluate " + file + u": " + RegexTooLongReason(engineBytes) + u".",
              IconError};
    case WholeReadEnd::ReadError:
      return {u"error", u"can't read " + file + u": " + Widened(std::strerror(read.error)),
              IconError};
    default:
      return {u"error", u"can't read " + file, IconError};
  }
}

// Zero bytes are matched like any character, but a result text is kept zero-terminated, so
// one that holds a zero character is cut there.
UserMessage InputNotAllTextMessage(std::u16string_view path, const WholeText& read) {
  std::u16string text = std::u16string(path) + u" is not all text.";
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
  return {u"input", text, IconWarning};
}

namespace {

// The program's sentence, then the reason when there is one.
std::u16string WithReason(std::u16string_view sentence, std::u16string_view reason) {
  std::u16string text(sentence);
  if (!reason.empty()) text += u"\n\n" + std::u16string(reason);
  return text;
}

// What the success box adds for a file that could not hold every character (XML).
std::u16string ReplacedCharactersNote(std::size_t replaced) {
  if (replaced == 0) return {};
  return u" " + Counted(static_cast<std::int64_t>(replaced), u"character", u"characters") +
         u" that XML can't hold (control characters, U+FFFE, U+FFFF or a lone surrogate) " +
         (replaced == 1 ? u"was" : u"were") + u" written as U+FFFD.";
}

}  // namespace

UserMessage ExportNotOpenedMessage(std::u16string_view reason) {
  return {u"error", WithReason(u"Can't write to the file.", reason), IconError};
}

UserMessage ExportFailedMessage(std::u16string_view reason) {
  return {u"Error", WithReason(u"Error writing to the file.", reason), IconError};
}

UserMessage ExportDoneMessage(std::int64_t records, bool evaluationRunning,
                              std::size_t replacedCharacters) {
  const std::u16string note = ReplacedCharactersNote(replacedCharacters);
  if (!evaluationRunning) return {u"done", u"Export successful." + note, IconInformation};
  return {u"done",
          u"Export successful.\n\nThe evaluation is still running: the file holds the " +
              MatchCountText(records) + u" found so far, not the whole result." + note,
          IconWarning};
}

std::u16string MatchCountText(std::int64_t matches) {
  return Counted(matches, u"match", u"matches");
}

UserMessage EvaluationInProgressMessage() {
  return {u"In progress", u"Evaluating is already in progress.", IconWarning};
}

UserMessage EvaluationAbortedMessage() {
  return {u"aborted", u"Evaluation aborted", IconInformation};
}

UserMessage FileNotOpenedMessage() { return {u"error", u"can't open file", IconError}; }

UserMessage NoFileOpenerMessage(std::u16string_view path) {
  return {u"error",
          u"can't open " + std::u16string(path) +
              u": no program to open files was found (xdg-open or open).",
          IconError};
}

UserMessage NoAddressOpenerMessage(std::u16string_view address) {
  return {u"error",
          u"can't open the help page " + std::u16string(address) +
              u": no program to open web addresses was found.",
          IconError};
}

}  // namespace evaluator
