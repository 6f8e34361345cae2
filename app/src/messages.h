// Messages from the worker to the user: posted to the event loop as one MessageEvent and
// shown there in a message box, so that the worker never waits for the user.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/strings.h"

namespace evaluator {

// On any thread: a message box with title, text and icon (IconError, IconWarning or
// IconInformation of ui/ui.h), shown when the loop takes the event.
void PostUserMessage(std::u16string_view title, std::u16string_view text, std::int64_t icon);

// On the UI thread: shows a message posted by PostUserMessage.
void ShowPostedMessage(std::u16string_view message);

// A number as the messages write it: decimal, with a minus sign when negative.
using ::DecimalText;  // runtime/strings.h

}  // namespace evaluator
