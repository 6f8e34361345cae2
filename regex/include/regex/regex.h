// Regular expressions: numbered regex objects compiled from a UTF-16 pattern and a PCRE
// compile-option word, the calling thread's last compile error, and scanning a text match
// by match. Patterns and subjects go to PCRE as UTF-8; positions and lengths come back in
// characters (code points), texts as UTF-16 strings.
//
// String results follow the string buffer discipline: the last argument is the result
// position in the calling thread's string buffer (TempPosition() just before the call, or
// -1 for the current position) and the function returns the string's address there.
//
// One regex object is used by one thread at a time. Every operation here that touches an
// object runs inside a SharedChangeScope, and every match call runs interruptibly, so a
// worker stopped by ThreadKill leaves its current match at once and touches no regex object
// after the kill has returned. (A stop check between matches would not do: one backtracking
// match call can run for minutes.)
#pragma once

#include <cstdint>
#include <string>

#include "runtime/object_registry.h"
#include "runtime/text_encoding.h"

// PCRE compile options the evaluator produces; any other bit goes to PCRE as it is.
inline constexpr std::int32_t RegexCaseless = 0x1;
inline constexpr std::int32_t RegexMultiline = 0x2;
inline constexpr std::int32_t RegexDotAll = 0x4;
inline constexpr std::int32_t RegexNewlineAnyCrLf = 0x500000;

// Start-up (before any other thread exists) and shut-down of the library.
void RegexInit();
void RegexEnd();

// Compiles pattern (null: fails without an error text) under number, a static number or
// AnyHandle. Returns the object's address, which for AnyHandle is the handle to pass as
// the number from then on, or 0. A static number in use is freed first, also on failure.
[[nodiscard]] ObjectNumber RegexCreate(ObjectNumber number, const char16_t* pattern,
                                       std::int32_t flags);

// The calling thread's last compile error (PCRE's own message), or the empty string.
char16_t* RegexError(std::int64_t at);

// Frees one object; AnyHandle frees every regex object. Unknown numbers do nothing.
void RegexFree(ObjectNumber number);

// 1 while number names a live regex object, else 0.
std::int64_t RegexIsValid(ObjectNumber number);

// 1 when the object's searches run PCRE's machine code (its JIT), 0 when they run its
// interpreter (a pattern with a backtracking control verb, or one the JIT can't take). A
// search too deep for the machine code's own stack is made by the interpreter either way.
std::int64_t RegexRunsMachineCode(ObjectNumber number);

// Starts a scan over text (null: the empty text). 1 when the scan is ready.
std::int64_t RegexExamine(ObjectNumber number, const char16_t* text);
// The same over UTF-8 text, without a copy: the object takes a share of the bytes. Invalid
// sequences read as U+FFFD, as through UTF-16; only such a text is copied, repaired. Call
// outside any SharedChangeScope: a long text is checked in slices with stop points.
std::int64_t RegexExamineUtf8(ObjectNumber number, const SharedUtf8& text);

// Lets a thread of its own search the current scan's subject from the first line start at
// or after the point fraction of the way from the scan's position to the subject's end,
// while the scan works through the part before; the scan takes up
// what the helper found once it gets there, and finds exactly what it would have found
// alone. The helper's thread id (see ThreadCreate), 0 when none was started. The helper
// ends by itself when it is done or the scan's subject is released; ThreadKill ends it at
// once. A helper done with its part takes over the later half of what the scan still has
// to search itself, again and again, while that holds at least leastTakenOver bytes of
// UTF-8, so that neither thread idles while the other still searches.
std::int64_t RegexSearchAhead(ObjectNumber number, double fraction,
                              std::int64_t leastTakenOver = std::int64_t{1} << 20);

// 1 when a further match was found and is now current; 0 ends the scan.
std::int64_t RegexNextMatch(ObjectNumber number);

// Why the object's last search (RegexNextMatch, RegexTakeMatches) found nothing: 0 when
// there simply was no (further) match, otherwise PCRE's error code (PCRE_ERROR_MATCHLIMIT
// -8, PCRE_ERROR_NOMEMORY -6, PCRE_ERROR_RECURSIONLIMIT -21, ...). 0 for an unknown number
// and after a successful search.
std::int64_t RegexLastError(ObjectNumber number);

// The error codes RegexLastError can give that callers tell apart; any other is PCRE's own.
inline constexpr std::int64_t RegexErrorNoMemory = -6;
inline constexpr std::int64_t RegexErrorMatchLimit = -8;
inline constexpr std::int64_t RegexErrorRecursionLimit = -21;
inline constexpr std::int64_t RegexErrorInputTooLong = -32;  // longer than the engine takes

// Why a search failed with error (a RegexLastError code), in the user's words and without
// a final full stop: the library owns the meaning of every code it can return.
char16_t* RegexFailureReason(std::int64_t error, std::int64_t at);
// The same sentence as RegexErrorInputTooLong's, for an input cut at longestBytes bytes of
// UTF-8 (a reader may stop below the engine's own bound).
std::u16string RegexTooLongReason(std::int64_t longestBytes);

// The current match's 1-based character position in the subject; 0 without a current match.
std::int64_t RegexMatchPosition(ObjectNumber number);

// Number of capturing groups of the pattern; needs no match.
std::int64_t RegexGroupCount(ObjectNumber number);
// The name the pattern gives group n ((?<name>...), (?P<name>...), (?'name'...)); "" for
// an unnamed group, an n outside 1 .. group count, or an unknown number. Needs no match.
char16_t* RegexGroupName(ObjectNumber number, std::int64_t n, std::int64_t at);

// Hands take a text of the current match, as the subject's UTF-8 bytes without being
// converted: null and 0 for an empty one. The bytes stay valid until the regex changes,
// which take must not do.
using RegexTextTaker = void (*)(void* context, const char* bytes, std::int64_t length);

// A share of the text the current scan searches, which the byte offsets of its matches
// count in: the examined UTF-8 itself, or its repaired copy when it held invalid sequences.
// Null bytes when there is no scan.
SharedUtf8 RegexSubject(ObjectNumber number);

// Takes the current match and those after it, one after another, until most were taken or
// a search gave 0 or -1, and returns that last search's result (1: a further match is now
// current). For each match, take gets the match's text (when withMatch), then those of
// groups 1 to lastGroup; a group that took no part or does not exist gives the empty text.
// taken gets the number of matches taken, 0 without a current match (then nothing happens).
// Each search is given up once it has taken more than steps of the engine's match work
// (PCRE's match limit, at most the one RegexNextMatch has): -1 then, with no current match
// and the scan where it was, so that the caller can deal with what it has before it searches
// on; the search that follows finds what this one would have found.
// With places, where each match and its groups 1 to lastGroup lie in the subject goes there
// too, whatever withMatch says: 2 x (lastGroup + 1) byte offsets a match, start and end of the
// match, then of each group, -1 and -1 for a group that took no part; each match's places
// follow the one before's.
std::int64_t RegexTakeMatches(ObjectNumber number, bool withMatch, std::int64_t lastGroup,
                              RegexTextTaker take, void* context, std::int64_t most,
                              std::int64_t steps, std::int64_t& taken,
                              std::int64_t* places = nullptr);
