// Every pcre_exec call of the library: bounded in stack depth, interruptible by a stop
// request, and free of heap allocation while it runs.
#pragma once

#include <pcre.h>

#include <cstdint>

// Routes PCRE's allocations through a per-thread arena while a match call runs. RegexInit.
void InstallMatchAllocator();

// Searches subject[0, length) from start with PCRE_NO_UTF8_CHECK into offsetVector,
// which must have OffsetVectorSize(group count) entries so that PCRE needs no vector of
// its own; with the pattern's study data when it has any (null: none). matchLimit, when
// non-zero, lowers the library's match limit for this call. Returns pcre_exec's result.
// A pattern studied into machine code runs that code on the thread's own JIT stack; a
// search too deep for that stack is made again by the interpreter, whose recursion limit
// follows the thread's machine stack, so both give the same results.
int ExecuteMatch(const pcre* pattern, const pcre_extra* study, const char* subject,
                 std::int32_t length, std::int32_t start, std::int32_t* offsetVector,
                 std::int32_t vectorSize, unsigned long matchLimit = 0);

// Study data for compiled, with PCRE's machine code when it can make it; null when studying
// adds nothing. Free with pcre_free_study.
pcre_extra* StudyPattern(const pcre* compiled);

// 1 when study holds machine code that ExecuteMatch runs.
bool HasMachineCode(const pcre_extra* study);

// The recursion depth a match started here may reach without leaving the calling thread's
// stack, with a wide margin for everything else on it.
unsigned long MatchRecursionLimit();
