#include "regex/regex.h"

#include <pcre.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "match_call.h"
#include "regex_object.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_stop.h"
#include "search_ahead.h"
#include "utf8_text.h"

namespace {

constexpr std::int64_t LongestSubject = std::numeric_limits<std::int32_t>::max();

// Why a search that returned result found nothing: 0 for no match, else PCRE's code.
std::int32_t FailureReason(int result) { return result == PCRE_ERROR_NOMATCH ? 0 : result; }

// ASCII, or the terminator at the end of the subject, is one byte.
std::int32_t CharacterBytesAt(const char* subject, std::int32_t offset) {
  return std::max(1, Utf8LengthAnnounced(static_cast<unsigned char>(subject[offset])));
}

void DropRun(RegexObject& object) {
  if (object.run) object.run->made = object.run->taken = 0;
}

void ResetScan(RegexObject& object, std::int32_t subjectLength) {
  DropRun(object);
  object.subjectLength = subjectLength;
  object.scanPosition = 0;
  object.matchValid = 0;
  object.lastError = 0;
  object.countedBytes = 0;
  object.countedCharacters = 0;
}

bool EnsureOffsetVector(RegexObject& object) {
  if (!object.offsetVector) {
    auto size = static_cast<std::size_t>(OffsetVectorSize(object.groupCount));
    object.offsetVector = new (std::nothrow) std::int32_t[size]();
  }
  return object.offsetVector != nullptr;
}

RegexObject* CurrentMatch(ObjectNumber number) {
  RegexObject* object = FindRegex(number);
  return object && object->matchValid ? object : nullptr;
}

// Characters of the subject before offset, a character boundary. Successive matches move
// forward, so counting goes on from the previous answer instead of from the start.
std::int64_t CharactersBefore(RegexObject& object, std::int32_t offset) {
  if (offset < object.countedBytes) {
    object.countedBytes = 0;
    object.countedCharacters = 0;
  }
  object.countedCharacters += Utf8CharCount(object.subject, object.countedBytes, offset);
  object.countedBytes = offset;
  return object.countedCharacters;
}

// Entries 2n and 2n+1 of the current match, for 1 <= n <= group count; else null.
const std::int32_t* GroupEntries(const RegexObject* object, std::int64_t n) {
  if (!object || n < 1 || n > object->groupCount) return nullptr;
  return object->offsetVector + 2 * n;
}

// The subject's bytes between the offsets of entries; empty without entries or for a group
// that took no part.
std::string_view BytesBetween(const RegexObject* object, const std::int32_t* entries) {
  if (!object || !entries || !object->subject || entries[0] < 0 || entries[1] <= entries[0]) {
    return {};
  }
  return {object->subject + entries[0], static_cast<std::size_t>(entries[1] - entries[0])};
}

std::string_view MatchBytes(const RegexObject* object) {
  return BytesBetween(object, object ? object->offsetVector : nullptr);
}

std::string_view GroupBytes(const RegexObject* object, std::int64_t n) {
  return BytesBetween(object, GroupEntries(object, n));
}

// Makes subject the object's subject and starts a scan over it; 0 when there is no subject
// (memory ran out) or it is too long for the engine.
std::int64_t StartScan(ObjectNumber number, SharedUtf8 subject) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  if (!object) return 0;
  ReleaseSubject(*object);
  const bool fits = subject.bytes && subject.length <= LongestSubject;
  ResetScan(*object, fits ? static_cast<std::int32_t>(subject.length) : 0);
  if (!EnsureOffsetVector(*object) || !fits) {
    object->subjectLength = 0;
    return 0;
  }
  object->subjectOwner = new (std::nothrow) std::shared_ptr<const char>(std::move(subject.bytes));
  if (!object->subjectOwner) {
    object->subjectLength = 0;
    return 0;
  }
  object->subject = object->subjectOwner->get();
  return 1;
}

// The run's finding for the search the scan is about to make, applied to the object as the
// search itself would have; false (and the run dropped) when the scan has to search itself.
bool TakeFromRun(RegexObject& object, int& result) {
  SearchRun* run = object.run;
  if (!run || run->taken == run->made) return false;
  const std::int32_t* finding = run->findings.data() + run->taken * run->stride;
  if (finding[0] != object.scanPosition) {
    DropRun(object);
    return false;
  }
  ++run->taken;
  result = finding[1];
  std::copy_n(finding + 2, 2 * (object.groupCount + 1), object.offsetVector);
  return true;
}

// The scan's own search. Where a helper searches ahead, matches are sparse and one search
// per call costs nothing worth saving; elsewhere the search makes a run when it can.
int Search(RegexObject& object, unsigned long matchLimit) {
  if (!object.ahead && !object.run && HasMachineCode(object.studyData)) {
    object.run = NewSearchRun(object.groupCount).release();
  }
  const std::span<std::int32_t> offsets(
      object.offsetVector, static_cast<std::size_t>(OffsetVectorSize(object.groupCount)));
  return ExecuteMatch(object.compiledPattern, object.studyData, object.subject,
                      object.subjectLength, object.scanPosition, offsets, matchLimit,
                      object.ahead ? nullptr : object.run);
}

// The next search of object's scan; with a match limit, a search that reaches it changes
// nothing and gives -1.
std::int64_t SearchOn(RegexObject& object, unsigned long matchLimit) {
  object.matchValid = 0;
  object.lastError = 0;
  if (object.scanPosition >= object.subjectLength || !object.subject) return 0;
  int result = 0;
  if (!TakeFromRun(object, result) && !TakeFindingAhead(object, result)) {
    result = Search(object, matchLimit);
  }
  if (matchLimit > 0 && result == PCRE_ERROR_MATCHLIMIT) return -1;
  if (result <= 0) {
    object.lastError = FailureReason(result);
    return 0;
  }
  object.scanPosition = NextScanPosition(object.subject, object.offsetVector, object.scanPosition);
  object.matchValid = 1;
  return 1;
}

std::int64_t SearchOn(ObjectNumber number, unsigned long matchLimit) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  return object ? SearchOn(*object, matchLimit) : 0;
}

unsigned long StepsLimit(std::int64_t steps) {
  return static_cast<unsigned long>(std::max<std::int64_t>(1, steps));
}

// Hands the texts of the current match of object (null: none, every text empty) to take.
// With places, where the match and groups 1 to lastGroup lie goes there too.
std::int64_t TakeTexts(const RegexObject* object, bool withMatch, std::int64_t lastGroup,
                       RegexTextTaker take, void* context, std::int64_t* places) {
  if (places && object) {
    const std::int64_t last = std::max<std::int64_t>(lastGroup, 0);
    const std::int64_t known = std::min<std::int64_t>(last, object->groupCount);
    std::copy_n(object->offsetVector, 2 * (known + 1), places);
    std::fill(places + 2 * (known + 1), places + 2 * (last + 1), std::int64_t{-1});
  }
  std::int64_t count = 0;
  for (std::int64_t n = withMatch ? 0 : 1; n <= lastGroup; ++n, ++count) {
    const std::string_view bytes = n == 0 ? MatchBytes(object) : GroupBytes(object, n);
    take(context, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
  return count;
}

}  // namespace

std::int32_t NextScanPosition(const char* subject, const std::int32_t* offsets,
                              std::int32_t scanPosition) {
  const std::int32_t start = offsets[0];
  const std::int32_t end = offsets[1];
  const std::int32_t next = end > start ? end : end + CharacterBytesAt(subject, end);
  if (next > scanPosition) return next;
  return scanPosition + CharacterBytesAt(subject, scanPosition);
}

void ReleaseSubject(RegexObject& object) {
  ReleaseSearchAhead(object);
  DropRun(object);
  std::unique_ptr<std::shared_ptr<const char>> owner(object.subjectOwner);
  object.subjectOwner = nullptr;
  object.subject = nullptr;
}

std::int64_t RegexExamine(ObjectNumber number, const char16_t* text) {
  return StartScan(number, ShareConverted(ConvertToUtf8(text)));
}

std::int64_t RegexExamineUtf8(ObjectNumber number, const SharedUtf8& text) {
  return StartScan(number, ValidUtf8(text));
}

std::int64_t RegexNextMatch(ObjectNumber number) { return SearchOn(number, 0); }

std::int64_t RegexLastError(ObjectNumber number) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  return object ? object->lastError : 0;
}

std::int64_t RegexMatchPosition(ObjectNumber number) {
  SharedChangeScope scope;
  RegexObject* object = CurrentMatch(number);
  return object ? CharactersBefore(*object, object->offsetVector[0]) + 1 : 0;
}

std::int64_t RegexTakeMatches(ObjectNumber number, bool withMatch, std::int64_t lastGroup,
                              RegexTextTaker take, void* context, std::int64_t most,
                              std::int64_t steps, std::int64_t& taken, std::int64_t* places) {
  SharedChangeScope scope;
  taken = 0;
  RegexObject* object = CurrentMatch(number);
  if (!object) return 0;
  const unsigned long limit = StepsLimit(steps);
  const std::int64_t placesPerMatch = 2 * (std::max<std::int64_t>(lastGroup, 0) + 1);
  for (;;) {
    TakeTexts(object, withMatch, lastGroup, take, context,
              places ? places + taken * placesPerMatch : nullptr);
    ++taken;
    const std::int64_t next = SearchOn(*object, limit);
    if (next != 1 || taken >= most) return next;
  }
}

SharedUtf8 RegexSubject(ObjectNumber number) {
  SharedChangeScope scope;
  const RegexObject* object = FindRegex(number);
  if (!object || !object->subjectOwner) return {};
  return SharedUtf8{*object->subjectOwner, object->subjectLength, true};
}
