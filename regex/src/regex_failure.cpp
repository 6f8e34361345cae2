// The library's failure vocabulary: what each error code of a search means to the user.
#include "regex/regex.h"

#include <pcre.h>

#include <algorithm>
#include <limits>
#include <string>

#include "runtime/strings.h"

static_assert(RegexErrorNoMemory == PCRE_ERROR_NOMEMORY);
static_assert(RegexErrorMatchLimit == PCRE_ERROR_MATCHLIMIT);
static_assert(RegexErrorRecursionLimit == PCRE_ERROR_RECURSIONLIMIT);
static_assert(RegexErrorInputTooLong == PCRE_ERROR_BADLENGTH);

namespace {

std::u16string ReasonText(std::int64_t error) {
  switch (error) {
    case RegexErrorMatchLimit:
      return u"the pattern needs too much backtracking on this input";
    case RegexErrorRecursionLimit:
    case PCRE_ERROR_JIT_STACKLIMIT:  // the machine code's own limit on nesting
      return u"the pattern nests too deeply for this input";
    case RegexErrorNoMemory:
      return u"there was not enough memory";
    case RegexErrorInputTooLong:
      return RegexTooLongReason(std::numeric_limits<std::int32_t>::max());
    default:
      return u"the pattern engine reported error " + DecimalText(error);
  }
}

}  // namespace

std::u16string RegexTooLongReason(std::int64_t longestBytes) {
  return u"the input is larger than the pattern engine can take (at most " +
         DecimalText(longestBytes) + u" bytes of UTF-8 text)";
}

char16_t* RegexFailureReason(std::int64_t error, std::int64_t at) {
  const std::u16string reason = ReasonText(error);
  const auto length = static_cast<std::int64_t>(reason.size());
  char16_t* result = ReserveTemp(length, at);
  std::copy(reason.begin(), reason.end(), result);
  result[length] = 0;
  return result;
}
