#include "messages.h"

#include "app/evaluator.h"
#include "runtime/strings.h"
#include "threads/posted_events.h"
#include "ui/ui.h"

namespace evaluator {
namespace {

// The event carries one text: title, text and icon number joined by this separator. The
// title comes before the first one and the icon after the last, so the text may hold it.
constexpr char16_t Separator = u'|';

}  // namespace

void PostUserMessage(std::u16string_view title, std::u16string_view text, std::int64_t icon) {
  std::u16string message(title);
  message += Separator;
  message += text;
  message += Separator;
  message += DecimalText(icon);
  PostEventText(MessageEvent, -1, -1, -1, message.c_str());
}

void ShowPostedMessage(std::u16string_view message) {
  const std::size_t titleEnd = message.find(Separator);
  const std::size_t textEnd = message.rfind(Separator);
  if (titleEnd == std::u16string_view::npos || textEnd == titleEnd) return;
  const std::u16string title(message.substr(0, titleEnd));
  const std::u16string text(message.substr(titleEnd + 1, textEnd - titleEnd - 1));
  const std::u16string icon(message.substr(textEnd + 1));
  UiMessageBox(title.c_str(), text.c_str(), ParseInteger(icon.c_str()));
}

}  // namespace evaluator
