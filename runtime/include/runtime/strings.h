// UTF-16 strings. A string variable owns a block in the string heap or is null (the empty
// string). Expressions are built in the calling thread's StringBuffer, a growable temporary
// area addressed by byte positions; string results are written at a position the caller
// names (the last argument, "at") and the functions return base + at for convenience, a
// pointer that stays valid only until the area is next reserved.
#pragma once

#include <cstdint>

using StringVar = char16_t*;

void StringManagerInit();  // start-up: string heap, thread slot, the main thread's area
void StringManagerEnd();   // shut-down

// Buffer primitives, on the calling thread's area.
void EnsureStringBuffer();
std::int64_t TempPosition();
void SetTempPosition(std::int64_t position);
char16_t* TakeTemp(std::int64_t position);
char16_t* TempAreaBase();
char16_t* ReserveTemp(std::int64_t length, std::int64_t at);
void AppendTemp(const char16_t* text);
void CloseTemp();
void GiveBackTemp(std::int64_t units);
void ReturnEmptyTemp(std::int64_t at);
std::int64_t TempOffsetOf(const void* pointer);  // offset + 1, or 0 when not inside
char16_t* TempPointerFromOffset(std::int64_t encoded);

// Variables.
void AssignString(StringVar& variable, const char16_t* text);
std::int64_t AssignFromTemp(StringVar& variable, std::int64_t position);
void CopyStringParameter(StringVar& local, const char16_t* text);
void FreeString(char16_t* block);
int StringEquals(const char16_t* a, const char16_t* b);
int StringLess(const char16_t* a, const char16_t* b);

// String functions.
std::int64_t StringLength(const char16_t* s);
char16_t* LeftChars(const char16_t* s, std::int64_t n, std::int64_t at);
char16_t* MidChars(const char16_t* s, std::int64_t start, std::int64_t n, std::int64_t at);
char16_t* MidToEnd(const char16_t* s, std::int64_t start, std::int64_t at);
char16_t* PadLeftTo(const char16_t* s, std::int64_t n, const char16_t* pad, std::int64_t at);
std::int64_t CountOccurrences(const char16_t* s, const char16_t* needle);
char16_t* FieldAt(const char16_t* s, std::int64_t index, const char16_t* delimiter,
                  std::int64_t at);
std::int64_t ParseInteger(const char16_t* s);
char16_t* StringFromMemory(const char16_t* pointer, std::int64_t at);
char16_t* FormatReal(double x, std::int64_t decimals, std::int64_t at);
