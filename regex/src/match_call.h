// Every match call of the library (the interpreter's pcre_exec or the JIT's
// pcre_jit_exec): bounded in stack depth, interruptible by a stop request, and free of
// heap allocation while it runs.
#pragma once

#include <pcre.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Routes PCRE's allocations through a per-thread arena while a match call runs. RegexInit.
void InstallMatchAllocator();

// The searches a scan makes after the one it asked for, made in the same interruptible call
// while they find matches with little work each, and taken up by its next searches. Each
// finding is the position searched from, pcre_exec's result and a whole offset vector, in
// which PCRE leaves the search's offsets; the findings from taken up to made are still to
// be taken.
struct SearchRun {
  std::vector<std::int32_t> findings;
  std::int32_t stride = 0;
  std::int32_t room = 0;
  std::int32_t made = 0;
  std::int32_t taken = 0;
};

// A run for a pattern with groupCount groups; null when memory ran out.
std::unique_ptr<SearchRun> NewSearchRun(std::int32_t groupCount);

// Searches subject[0, length) from start with PCRE_NO_UTF8_CHECK into offsets, which must
// have OffsetVectorSize(group count) entries so that PCRE needs no vector of its own; with the
// pattern's study data when it has any (null: none). matchLimit, when non-zero, lowers the
// library's match limit for this call. Returns pcre_exec's result. A pattern studied into machine
// code runs that code on the thread's own JIT stack; a search too deep for that stack is made again
// by the interpreter, whose recursion limit follows the thread's machine stack, so both give the
// same results. With a run, a match found by machine code is followed by the searches a scan makes
// after it (see SearchRun): the run then holds them, each a match or the final no-match found
// within a small share of match work; the first that needs more is left to the scan to make itself.
int ExecuteMatch(const pcre* pattern, const pcre_extra* study, const char* subject,
                 std::int32_t length, std::int32_t start, std::span<std::int32_t> offsets,
                 unsigned long matchLimit = 0, SearchRun* run = nullptr);

// Study data for compiled, with PCRE's machine code when it can make it; null when studying
// adds nothing. Free with pcre_free_study.
pcre_extra* StudyPattern(const pcre* compiled);

// 1 when study holds machine code that ExecuteMatch runs.
bool HasMachineCode(const pcre_extra* study);

// The recursion depth a match started here may reach without leaving the calling thread's
// stack, with a wide margin for everything else on it.
unsigned long MatchRecursionLimit();
