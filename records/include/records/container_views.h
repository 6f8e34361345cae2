// Read-only views of the two containers that records may refer to but that this system has
// no library for: dynamic arrays and maps. The JSON and XML insertions read records through
// these views, so any owner of such data (a test, a future container library) can hand its
// memory to them without copying it.
#pragma once

#include <cstdint>

// The data of one dynamic array: dimensionCount upper bounds (dimension 1 first; a
// dimension with upper bound u holds u + 1 entries) over elementCount() entries of
// elementSize bytes each, laid out with the last dimension varying fastest.
struct ArrayDataView {
  std::int32_t dimensionCount;
  const std::int64_t* upperBounds;
  std::int64_t elementSize;
  std::int32_t typeCode;  // a TypeCode of records/record_list.h
  const void* elements;
};

// One element of a map: its key (a NUL-terminated UTF-16 text, null for the empty key) and
// the address of its record.
struct MapEntryView {
  const char16_t* key;
  void* record;
};

// A map: count entries in the map's own iteration order, and the iteration position that
// walkers save, rewind and restore (-1 before the first entry).
struct MapView {
  std::int64_t count;
  std::int64_t elementSize;
  std::int32_t typeCode;
  const MapEntryView* entries;
  std::int64_t position;
};

inline void MapRewind(MapView* map) { map->position = -1; }

// The next entry in the map's order, or null past the last one (the position stays there).
inline const MapEntryView* MapNextEntry(MapView* map) {
  if (map->position + 1 >= map->count) {
    map->position = map->count;
    return nullptr;
  }
  return &map->entries[++map->position];
}
