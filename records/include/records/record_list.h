// Doubly linked lists of fixed-size records with a cursor, and the layout maps that say
// which fields of a record own resources (strings, nested lists, nested records ...).
//
// A list has no lock: one thread at a time uses a given list. Its elements come from the
// shared, locked element pools (records/element_pool.h). Every operation that hands out an
// element hands out the address of its record, 16 bytes past the element itself.
#pragma once

#include <cstddef>
#include <cstdint>

class ElementPool;

// One-byte codes of field and element types.
enum class TypeCode : std::uint8_t {
  Untyped = 0,
  Int8 = 1,
  Int16 = 3,
  Int32 = 5,
  Record = 7,
  String = 8,
  Float32 = 9,
  FixedString = 10,
  Char = 11,
  Float64 = 12,
  Int64 = 13,
  Int = 21,
  UInt8 = 24,
  UInt16 = 25,
};

struct ListElement {
  ListElement* next;
  ListElement* previous;
};

inline void* RecordOf(ListElement* element) {
  return element ? reinterpret_cast<std::byte*>(element) + sizeof(ListElement) : nullptr;
}

inline ListElement* ElementOf(void* record) {
  return record
             ? reinterpret_cast<ListElement*>(static_cast<std::byte*>(record) - sizeof(ListElement))
             : nullptr;
}

struct RecordList;

// The storage of a list variable or of a list field inside a record. The list rewrites
// current on every cursor move, so code holding only the slot finds the current record
// at RecordOf(current).
struct ListSlot {
  RecordList* list;
  ListElement* current;
};

struct RecordList {
  ListElement* first;
  ListElement* last;
  ListElement* current;        // null while the cursor is before the first element
  ListElement** cursorMirror;  // &slot->current
  std::int64_t count;
  std::int64_t index;  // 0-based position of the cursor
  const std::int64_t* layoutMap;
  ElementPool* pool;
  void* spareBlocks;  // std::malloc blocks chained through their first word
  ListSlot* slot;
  std::int64_t elementSize;  // record size + sizeof(ListElement)
  std::int32_t typeCode;     // a TypeCode: 7 for records, 8 for strings, 0 untyped
  std::uint8_t beforeFirst;
  std::uint8_t needsInitialise;
  std::uint8_t ownsSlot;
  // In the header's last byte, which is padding otherwise: 1 when the header came from the
  // pool of nested lists' headers rather than the heap (see CreateList).
  std::uint8_t pooledHeader;
};

static_assert(sizeof(ListSlot) == 16);
static_assert(offsetof(RecordList, count) == 32);
static_assert(offsetof(RecordList, slot) == 72);
static_assert(offsetof(RecordList, typeCode) == 88);
static_assert(offsetof(RecordList, ownsSlot) == 94);
static_assert(sizeof(RecordList) == 96);

inline std::int64_t ListRecordSize(const RecordList* list) {
  return list ? list->elementSize - static_cast<std::int64_t>(sizeof(ListElement)) : -1;
}

// A new empty list whose header is written into slot->list; with a null slot the list
// makes a slot of its own and frees it on destroy. Null when memory ran out or the record
// size is negative or absurd.
[[nodiscard]] RecordList* ListCreate(std::int64_t recordSize, ListSlot* slot,
                                     const std::int64_t* layoutMap, std::int32_t typeCode);

// Releases every element (and what its record owns); the cursor goes before the first.
void ListClear(RecordList* list);

// Moves every element of from to the end of to, which must have the same record size and
// layout (otherwise nothing happens and the result is false); from is left empty with its
// cursor before the first element, to's cursor stays where it was. No record is copied:
// a big list changes hands in constant time and can be released later, elsewhere.
[[nodiscard]] bool ListMoveAll(RecordList* from, RecordList* to);

// Releases at most count elements from the front (and what their records own), so that a
// long list can be released in steps that each hold the list only briefly. The cursor
// goes before the first element. The number of elements left; -1 for a null list.
std::int64_t ListReleaseFront(RecordList* list, std::int64_t count);

// Releases at most count elements from the back, as ListReleaseFront does from the front:
// what a batch added can be taken back. The cursor goes to the last element left. The
// number of elements left; -1 for a null list.
std::int64_t ListReleaseBack(RecordList* list, std::int64_t count);

// Puts the cursor before the first element.
void ListRewind(RecordList* list);

// Moves the cursor on and returns its record, or null when there is no further element
// (the cursor then stays on the last element, so that an insert appends).
void* ListNext(RecordList* list);

// A new zeroed (and initialised) record directly after the cursor, or at the front while
// the cursor is before the first element; it becomes the cursor. Null, with the list
// unchanged, when no memory is left.
[[nodiscard]] void* ListInsert(RecordList* list);

// count new zeroed (and initialised) records directly after the cursor, or at the front
// while the cursor is before the first element, in order, taken from the pool at once; the
// last one becomes the cursor. The first new record, or null, with the list unchanged, when
// count is not positive or no memory is left. The records follow one another through
// their elements' next links.
[[nodiscard]] void* ListInsertSeveral(RecordList* list, std::int64_t count);

// The element count, or -1 for a null list.
std::int64_t ListCount(const RecordList* list);

// Moves the cursor to the last element and returns its record, or null when empty.
void* ListLast(RecordList* list);

// Clears, gives up the pool, zeroes both words of the slot and frees the spare blocks,
// the slot when the list made it, and the header. Null is ignored.
void ListDestroy(RecordList* list);

// Layout maps: signed 64-bit words read in order, one entry after the other.
//   offset >= 0                                  a String field at this offset
//   -1                                           end of the map
//   -2, count, offset, stride, sub-map           fixed array of nested records
//   -3, offset, size, sub-map                    nested record
//   -4, offset, four array words                 dynamic array
//   -5, offset, record size, sub-map, type code  list field (a ListSlot at offset)
//   -6, offset, element size, type code, sub-map, slot count    map field
//   -7, offset, n, three array words, n dimension words         multi-dimension array
// A sub-map is the address of the nested record's own map, or 0 when it owns nothing.
namespace layout {
inline constexpr std::int64_t kEnd = -1;
inline constexpr std::int64_t kFixedArray = -2;
inline constexpr std::int64_t kNestedRecord = -3;
inline constexpr std::int64_t kDynamicArray = -4;
inline constexpr std::int64_t kList = -5;
inline constexpr std::int64_t kMap = -6;
inline constexpr std::int64_t kMultiDimensionArray = -7;

inline std::int64_t Address(const void* pointer) {
  return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(pointer));
}
}  // namespace layout

// Creates the nested containers of a zero-filled record. Returns 1, or 0 when memory ran
// out; the record is then released again, so it owns nothing.
[[nodiscard]] int RecordInitialise(void* record, const std::int64_t* layoutMap);

// Frees what the record owns: its strings (the references become null), nested lists with
// their contents, nested records. Dynamic arrays and maps have no library here; their
// entries are passed over.
void RecordRelease(void* record, const std::int64_t* layoutMap);

// Whether records of this map own containers that RecordInitialise must create.
bool LayoutNeedsInitialise(const std::int64_t* layoutMap);
