// Numbered objects: every runtime library keeps its objects in one ObjectTable and turns
// the caller's number (a static number 0, 1, 2 ... or a handle) into the object's record.
#pragma once

#include <cstdint>
#include <mutex>

using ObjectNumber = std::int64_t;

// Passed as the number at creation: the library allocates a fresh object and returns a
// handle for it. Passed to a library's free operation: free every object of that library.
inline constexpr ObjectNumber AnyHandle = -1;

// A library's own free operation; it must end with ReleaseObject on the number it is given.
using FreeOperation = void (*)(ObjectNumber number);

struct ObjectTable;

// A table whose records are recordSize zero-filled bytes; growthStep is both the initial
// slot count and the number of spare slots added when the slot array grows.
[[nodiscard]] ObjectTable* CreateObjectTable(std::int32_t recordSize, std::int32_t growthStep,
                                             FreeOperation freeOperation);

// A zero-filled record for number (a static number or AnyHandle), or null. A static number
// in use is first freed through the table's free operation. Numbers below -1 are refused.
[[nodiscard]] void* AllocateObject(ObjectTable* table, ObjectNumber number);

// The live record (first 64-bit word non-zero) behind number, or null. Anything that is
// neither a static number inside the slot array nor a handle this table issued is no object.
void* LookupObject(ObjectTable* table, ObjectNumber number);

// Validated lookup: the live record of a static number, the handle itself for an issued
// handle (whatever its record holds), or null.
void* IsObject(ObjectTable* table, ObjectNumber number);

// Gives the object's storage back: a static record is zero-filled and kept for reuse, a
// dynamic block is unlinked and released.
void ReleaseObject(ObjectTable* table, ObjectNumber number);

// Frees every live object through the free operation: static numbers in ascending order,
// then dynamic objects newest first. The table lock stays held throughout.
void FreeAllObjects(ObjectTable* table);

// Handle <-> pointer conversions for libraries that return a record's address as handle.
inline ObjectNumber HandleOf(const void* record) {
  return static_cast<ObjectNumber>(reinterpret_cast<std::intptr_t>(record));
}

// One-time initialisation of process-wide state made on first use: the first caller runs
// initialiser, every other caller waits until it has finished.
void RunOnce(std::once_flag& state, void (*initialiser)());
