// The library's failure vocabulary: what each error code of a search means to the user.
#include <pcre.h>

#include <limits>
#include <string>

#include "regex/regex.h"
#include "utf8_text.h"

static_assert(RegexErrorNoMemory == PCRE_ERROR_NOMEMORY);
static_assert(RegexErrorMatchLimit == PCRE_ERROR_MATCHLIMIT);
static_assert(RegexErrorRecursionLimit == PCRE_ERROR_RECURSIONLIMIT);
static_assert(RegexErrorInputTooLong == PCRE_ERROR_BADLENGTH);

namespace {

std::string ReasonText(std::int64_t error) {
  switch (error) {
    case RegexErrorMatchLimit:
      return "the pattern needs too much backtracking on this input";
    case RegexErrorRecursionLimit:
    case PCRE_ERROR_JIT_STACKLIMIT:  // the machine code's own limit on nesting
      return "the pattern nests too deeply for this input";
    case RegexErrorNoMemory:
      return "there was not enough memory";
    case RegexErrorInputTooLong:
      return "the input is larger than the pattern engine can take (at most " +
             std::to_string(std::numeric_limits<std::int32_t>::max()) +
             " bytes of UTF-8 text)";
    default:
      return "the pattern engine reported error " + std::to_string(error);
  }
}

}  // namespace

char16_t* RegexFailureReason(std::int64_t error, std::int64_t at) {
  return BytesToStringResult(ReasonText(error).c_str(), at);
}
