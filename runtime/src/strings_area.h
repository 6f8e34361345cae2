// Internals shared by the string manager's source files.
#pragma once

#include <cstdint>

namespace strings_detail {

// Reserves room for length units at byte offset at (-1: the current position) while a
// source text of sourceLength units stays readable: when source lies anywhere inside the
// calling thread's area, the kept content is extended over it and source is re-derived
// after the reservation, so a reallocation (growth or shrink) can't lose or move it.
char16_t* ReserveKeeping(std::int64_t length, std::int64_t at, const char16_t*& source,
                         std::int64_t sourceLength);

// Writes length units of source as the result at at, terminated; source may overlap it.
char16_t* WriteResult(const char16_t* source, std::int64_t length, std::int64_t at);

}  // namespace strings_detail
