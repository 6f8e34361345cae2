// What the evaluator says to the user in message boxes, worded in one place. A message
// from the worker is posted to the event loop as one MessageEvent and shown there, so that
// the worker never waits for the user and opens no box itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/file_stream.h"
#include "runtime/strings.h"

namespace evaluator {

struct UserMessage {
  std::u16string title;
  std::u16string text;
  std::int64_t icon;  // IconError, IconWarning or IconInformation of ui/ui.h
};

// On any thread: message is shown in a box when the loop takes the event.
void PostUserMessage(const UserMessage& message);
// On the UI thread: shows a message posted by PostUserMessage, given the event's text.
void ShowPostedMessage(std::u16string_view posted);
// On the UI thread: shows message at once.
void ShowUserMessage(const UserMessage& message);

// A number as the messages and the status line write it: decimal, with a minus sign when
// negative.
using ::DecimalText;  // runtime/strings.h
// A size the way a person reads it: bytes, MB or GB.
std::u16string SizeText(std::int64_t bytes);

// The worker's messages: how an evaluation ended other than with results.
UserMessage PatternErrorMessage(std::u16string_view compileError);
UserMessage PatternValidMessage();
UserMessage NoMatchesMessage();
// reason is a RegexFailureReason sentence.
UserMessage NotEvaluatedMessage(std::u16string_view reason);
UserMessage IncompleteResultsMessage(std::u16string_view reason);

// The input file's messages, each naming the file.
UserMessage InputNotOpenedMessage(std::u16string_view path);
// A read that did not complete; engineBytes is the longest input the engine was given.
UserMessage InputNotReadMessage(std::u16string_view path, const WholeText& read,
                                std::int64_t engineBytes);
// A read that completed, of a file that is not all text.
UserMessage InputNotAllTextMessage(std::u16string_view path, const WholeText& read);

// The export's messages; reason (possibly empty) says why, after the program's sentence.
UserMessage ExportNotOpenedMessage(std::u16string_view reason);
UserMessage ExportFailedMessage(std::u16string_view reason);
// A file written: records taken while the evaluation was still running, if it was, and
// the characters that were written as U+FFFD because the format can't hold them.
UserMessage ExportDoneMessage(std::int64_t records, bool evaluationRunning,
                              std::size_t replacedCharacters);

// "1 match", "2 matches".
std::u16string MatchCountText(std::int64_t matches);

// The commands' messages.
UserMessage EvaluationInProgressMessage();
UserMessage EvaluationAbortedMessage();
UserMessage FileNotOpenedMessage();
UserMessage NoFileOpenerMessage(std::u16string_view path);
UserMessage NoAddressOpenerMessage(std::u16string_view address);

}  // namespace evaluator
