#include "records/record_list.h"

#include <cstring>

#include "list_internals.h"
#include "runtime/strings.h"
#include "runtime/thread_stop.h"

namespace {

using namespace layout;

std::byte* AtOffset(void* record, std::int64_t offset) {
  return static_cast<std::byte*>(record) + offset;
}

const std::int64_t* SubMap(std::int64_t word) {
  return reinterpret_cast<const std::int64_t*>(static_cast<std::intptr_t>(word));
}

// Words taken by the entry, or 0 at the end of the map (an unknown entry ends it too).
std::int64_t EntryLength(const std::int64_t* entry) {
  if (entry[0] >= 0) return 1;
  switch (entry[0]) {
    case kFixedArray:
      return 5;
    case kNestedRecord:
      return 4;
    case kDynamicArray:
      return 6;
    case kList:
      return 5;
    case kMap:
      return 6;
    case kMultiDimensionArray:
      return entry[2] >= 0 ? 6 + entry[2] : 0;
    default:
      return 0;
  }
}

bool InitialiseRecord(void* record, const std::int64_t* layoutMap);

bool InitialiseFixedArray(void* record, const std::int64_t* entry) {
  const std::int64_t* subMap = SubMap(entry[4]);
  for (std::int64_t i = 0; i < entry[1]; ++i) {
    if (!InitialiseRecord(AtOffset(record, entry[2] + i * entry[3]), subMap)) return false;
  }
  return true;
}

// The dimension words go into the field, one word each from 8 bytes past its start; the
// rest of the field belongs to an array library that no record here uses.
void StoreDimensions(void* record, const std::int64_t* entry) {
  std::memcpy(AtOffset(record, entry[1]) + 8, entry + 6,
              static_cast<std::size_t>(entry[2]) * sizeof(std::int64_t));
}

bool InitialiseEntry(void* record, const std::int64_t* entry) {
  switch (entry[0]) {
    case kFixedArray:
      return InitialiseFixedArray(record, entry);
    case kNestedRecord:
      return InitialiseRecord(AtOffset(record, entry[1]), SubMap(entry[3]));
    case kList: {
      auto* slot = reinterpret_cast<ListSlot*>(AtOffset(record, entry[1]));
      return CreateList(entry[2], slot, SubMap(entry[3]), static_cast<std::int32_t>(entry[4]),
                        ListHeader::Nested);
    }
    case kMultiDimensionArray:
      StoreDimensions(record, entry);
      return true;
    default:
      return true;  // a zeroed string reference is already the empty string
  }
}

bool InitialiseRecord(void* record, const std::int64_t* layoutMap) {
  if (!layoutMap) return true;
  for (const std::int64_t* entry = layoutMap;; entry += EntryLength(entry)) {
    if (EntryLength(entry) == 0) return true;
    if (!InitialiseEntry(record, entry)) return false;
  }
}

void ReleaseString(void* record, std::int64_t offset) {
  StringVar text;
  std::memcpy(&text, AtOffset(record, offset), sizeof text);
  if (!text) return;
  FreeString(text);
  text = nullptr;
  std::memcpy(AtOffset(record, offset), &text, sizeof text);
}

void ReleaseEntry(void* record, const std::int64_t* entry) {
  if (entry[0] >= 0) {
    ReleaseString(record, entry[0]);
    return;
  }
  switch (entry[0]) {
    case kFixedArray:
      for (std::int64_t i = 0; i < entry[1]; ++i) {
        ReleaseRecord(AtOffset(record, entry[2] + i * entry[3]), SubMap(entry[4]));
      }
      break;
    case kNestedRecord:
      ReleaseRecord(AtOffset(record, entry[1]), SubMap(entry[3]));
      break;
    case kList:
      DestroyList(reinterpret_cast<ListSlot*>(AtOffset(record, entry[1]))->list);
      break;
    default:
      break;  // maps and dynamic arrays have no library of their own here
  }
}

}  // namespace

bool InitialiseOrUndo(void* record, const std::int64_t* layoutMap) {
  if (InitialiseRecord(record, layoutMap)) return true;
  ReleaseRecord(record, layoutMap);
  return false;
}

void ReleaseRecord(void* record, const std::int64_t* layoutMap) {
  if (!record || !layoutMap) return;
  for (const std::int64_t* entry = layoutMap;; entry += EntryLength(entry)) {
    if (EntryLength(entry) == 0) return;
    ReleaseEntry(record, entry);
  }
}

bool LayoutNeedsInitialise(const std::int64_t* layoutMap) {
  if (!layoutMap) return false;
  for (const std::int64_t* entry = layoutMap;; entry += EntryLength(entry)) {
    switch (EntryLength(entry) == 0 ? kEnd : entry[0]) {
      case kEnd:
        return false;
      case kFixedArray:
        if (LayoutNeedsInitialise(SubMap(entry[4]))) return true;
        break;
      case kNestedRecord:
        if (LayoutNeedsInitialise(SubMap(entry[3]))) return true;
        break;
      case kDynamicArray:
      case kList:
      case kMap:
      case kMultiDimensionArray:
        return true;
      default:
        break;
    }
  }
}

int RecordInitialise(void* record, const std::int64_t* layoutMap) {
  if (!record) return 0;
  SharedChangeScope scope;
  return InitialiseOrUndo(record, layoutMap) ? 1 : 0;
}

void RecordRelease(void* record, const std::int64_t* layoutMap) {
  SharedChangeScope scope;
  ReleaseRecord(record, layoutMap);
}
