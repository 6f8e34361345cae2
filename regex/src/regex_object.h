// The record behind every regex number, shared by the object and the scanning operations.
#pragma once

#include <pcre.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "runtime/object_registry.h"

class SearchAhead;
struct SearchRun;

// Lives in the regex ObjectTable, which hands it out zero-filled and zero-fills it again on
// release, so it holds only raw words; RegexFree gives back what the pointers own.
struct RegexObject {
  pcre* compiledPattern;       // non-null exactly while the object is alive
  std::int32_t groupCount;     // capturing groups as PCRE counts them
  const char* subject;         // the scanned UTF-8 text, zero-terminated; see subjectOwner
  std::int32_t* offsetVector;  // owned, 3 x (groupCount + 1) entries once examined
  std::int32_t scanPosition;   // byte offset where the next search starts
  std::int32_t subjectLength;  // bytes, without the terminator
  std::int32_t matchValid;     // 1 while offsetVector describes the current match
  // Why the last search found nothing: 0, or PCRE's error code.
  std::int32_t lastError;
  // A character boundary of the subject and the number of characters before it, so that
  // the positions of successive matches are counted from the previous one.
  std::int32_t countedBytes;
  std::int64_t countedCharacters;
  // PCRE's study of the pattern, owned; null when it was not studied (see RegexCreate).
  pcre_extra* studyData;
  // Owned: the share of the subject's memory that keeps it alive while it is scanned.
  std::shared_ptr<const char>* subjectOwner;
  // Owned: the helper searching the far part of the subject ahead of the scan, or null.
  std::shared_ptr<SearchAhead>* ahead;
  // Owned: the scan's searches made ahead in the call of an earlier one, or null.
  SearchRun* run;
};

// Gives up the object's share of its subject, and the search ahead in it.
void ReleaseSubject(RegexObject& object);
void ReleaseSearchAhead(RegexObject& object);

// Where the search after a match (offsets, from a search that started at scanPosition)
// starts: the match's end, one whole character further for an empty match. A match that
// \K in an assertion made end at or before the scan position moves on from there, so that
// a scan never stands still.
std::int32_t NextScanPosition(const char* subject, const std::int32_t* offsets,
                              std::int32_t scanPosition);

static_assert(std::is_trivially_copyable_v<RegexObject> && std::is_standard_layout_v<RegexObject>);
static_assert(offsetof(RegexObject, compiledPattern) == 0);
static_assert(offsetof(RegexObject, groupCount) == 8);
static_assert(offsetof(RegexObject, subject) == 16);
static_assert(offsetof(RegexObject, offsetVector) == 24);
static_assert(offsetof(RegexObject, scanPosition) == 32);
static_assert(offsetof(RegexObject, subjectLength) == 36);
static_assert(offsetof(RegexObject, matchValid) == 40);

// Entries of the offset vector that a pattern with groupCount groups needs.
inline std::int32_t OffsetVectorSize(std::int32_t groupCount) { return 3 * (groupCount + 1); }

// The live record behind number, or null. Call inside a SharedChangeScope.
RegexObject* FindRegex(ObjectNumber number);
