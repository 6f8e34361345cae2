// The list and layout-map work without the stop scope that the public operations take
// once around it, so that one public call is one uninterrupted change.
#pragma once

#include <cstdint>

#include "records/record_list.h"

RecordList* CreateList(std::int64_t recordSize, ListSlot* slot, const std::int64_t* layoutMap,
                       std::int32_t typeCode);
void ClearList(RecordList& list);
void DestroyList(RecordList* list);

// Initialises a zero-filled record; on failure releases what was made and returns false.
bool InitialiseOrUndo(void* record, const std::int64_t* layoutMap);
void ReleaseRecord(void* record, const std::int64_t* layoutMap);
