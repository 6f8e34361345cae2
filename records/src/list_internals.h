// The list and layout-map work without the stop scope that the public operations take
// once around it, so that one public call is one uninterrupted change.
#pragma once

#include <cstdint>

#include "records/record_list.h"

// Where a header comes from. A list inside a record lives and dies with it, one per record
// of a list that may hold millions: those headers come from a pool, which saves the heap's
// own 16 bytes per block and gives them all back once the records are gone. A list that
// lives on its own takes its header from the heap, so that it never keeps the pool's blocks.
enum class ListHeader : std::uint8_t { FromHeap, Nested };

RecordList* CreateList(std::int64_t recordSize, ListSlot* slot, const std::int64_t* layoutMap,
                       std::int32_t typeCode, ListHeader header = ListHeader::FromHeap);
void ClearList(RecordList& list);
void DestroyList(RecordList* list);

// Initialises a zero-filled record; on failure releases what was made and returns false.
bool InitialiseOrUndo(void* record, const std::int64_t* layoutMap);
void ReleaseRecord(void* record, const std::int64_t* layoutMap);
