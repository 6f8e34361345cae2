#include "records/record_list.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "list_internals.h"
#include "records/element_pool.h"
#include "runtime/thread_stop.h"

namespace {

constexpr std::int64_t kLargestRecord = std::int64_t{1} << 48;
constexpr auto kElementHeaderSize = static_cast<std::int64_t>(sizeof(ListElement));

void MoveCursor(RecordList& list, ListElement* element) {
  list.current = element;
  *list.cursorMirror = element;
}

// Links a new element directly after the cursor, or at the front while the cursor is
// before the first element, and makes it the cursor.
void LinkAfterCursor(RecordList& list, ListElement* element) {
  ++list.count;
  ListElement* current = list.current;
  if (!current) {
    element->previous = nullptr;
    element->next = list.first;
    if (list.first) list.first->previous = element;
    list.index = 0;
    list.beforeFirst = 0;
  } else {
    element->previous = current;
    element->next = current->next;
    if (current->next) current->next->previous = element;
    current->next = element;
    ++list.index;
  }
  if (!element->previous) list.first = element;
  if (!element->next) list.last = element;
  MoveCursor(list, element);
}

// Zeroes (and initialises) the records of a chain of new elements, keeping the chain's
// links; false, with the records made so far released again, when memory ran out.
bool PrepareChain(const RecordList& list, ListElement* first) {
  for (ListElement* element = first; element;) {
    ListElement* next = element->next;
    std::memset(element, 0, static_cast<std::size_t>(list.elementSize));
    element->next = next;
    if (list.needsInitialise && !InitialiseOrUndo(RecordOf(element), list.layoutMap)) {
      for (ListElement* made = first; made != element; made = made->next) {
        ReleaseRecord(RecordOf(made), list.layoutMap);
      }
      return false;
    }
    element = next;
  }
  return true;
}

// Never destroyed: a list may still be destroyed from a thread that outlives static
// destruction.
union ImmortalHeaderPool {
  ImmortalHeaderPool()
      : pool(sizeof(RecordList), ElementPool::kDefaultMinimumBlockSlots,
             ElementPool::kDefaultMaximumBlockSlots, false) {}
  ~ImmortalHeaderPool() {}
  ElementPool pool;
};

ElementPool& NestedHeaders() {
  static ImmortalHeaderPool headers;
  return headers.pool;
}

struct FreeHeader {
  void operator()(RecordList* list) const {
    if (!list->pooledHeader) {
      delete list;
      return;
    }
    list->~RecordList();
    // The last nested list of a big result gives the pool's blocks back.
    NestedHeaders().GiveAndReleaseIfUnused(list);
  }
};

RecordList* NewHeader(ListHeader header) {
  if (header == ListHeader::FromHeap) return new (std::nothrow) RecordList{};
  void* room = NestedHeaders().Take();
  if (!room) return nullptr;
  auto* list = new (room) RecordList{};
  list->pooledHeader = 1;
  return list;
}

void FreeSpareBlocks(void* chain) {
  while (chain) {
    void* next = *static_cast<void**>(chain);
    std::free(chain);
    chain = next;
  }
}

}  // namespace

RecordList* CreateList(std::int64_t recordSize, ListSlot* slot, const std::int64_t* layoutMap,
                       std::int32_t typeCode, ListHeader header) {
  if (recordSize < 0 || recordSize > kLargestRecord) return nullptr;
  const std::int64_t elementSize = recordSize + kElementHeaderSize;
  std::unique_ptr<RecordList, FreeHeader> list(NewHeader(header));
  if (!list) return nullptr;
  std::unique_ptr<ListSlot> ownSlot;
  if (!slot) {
    ownSlot.reset(new (std::nothrow) ListSlot{});
    if (!ownSlot) return nullptr;
    slot = ownSlot.get();
  }
  list->pool = AcquireElementPool(ElementSlotSize(elementSize));
  if (!list->pool) return nullptr;
  list->cursorMirror = &slot->current;
  list->layoutMap = layoutMap;
  list->slot = slot;
  list->elementSize = elementSize;
  list->typeCode = typeCode;
  list->beforeFirst = 1;
  list->needsInitialise = LayoutNeedsInitialise(layoutMap) ? 1 : 0;
  list->ownsSlot = ownSlot ? 1 : 0;
  slot->list = list.get();
  slot->current = nullptr;
  static_cast<void>(ownSlot.release());  // the header owns it now
  return list.release();
}

void ClearList(RecordList& list) {
  if (list.layoutMap) {
    for (ListElement* element = list.first; element; element = element->next) {
      ReleaseRecord(RecordOf(element), list.layoutMap);
    }
  }
  list.pool->GiveChain(list.first);
  list.first = nullptr;
  list.last = nullptr;
  list.count = 0;
  list.index = 0;
  list.beforeFirst = 1;
  MoveCursor(list, nullptr);
}

void DestroyList(RecordList* list) {
  if (!list) return;
  std::unique_ptr<RecordList, FreeHeader> header(list);
  std::unique_ptr<ListSlot> ownSlot(list->ownsSlot ? list->slot : nullptr);
  ClearList(*list);
  GiveUpElementPool(list->pool);
  list->slot->list = nullptr;
  list->slot->current = nullptr;
  FreeSpareBlocks(list->spareBlocks);
}

RecordList* ListCreate(std::int64_t recordSize, ListSlot* slot, const std::int64_t* layoutMap,
                       std::int32_t typeCode) {
  SharedChangeScope scope;
  return CreateList(recordSize, slot, layoutMap, typeCode);
}

void ListClear(RecordList* list) {
  if (!list) return;
  SharedChangeScope scope;
  ClearList(*list);
  list->pool->ReleaseBlocksIfUnused();
}

bool ListMoveAll(RecordList* from, RecordList* to) {
  if (!from || !to || from == to) return false;
  if (from->elementSize != to->elementSize || from->layoutMap != to->layoutMap) return false;
  SharedChangeScope scope;
  if (!from->first) return true;
  if (to->last) {
    to->last->next = from->first;
    from->first->previous = to->last;
  } else {
    to->first = from->first;
  }
  to->last = from->last;
  to->count += from->count;
  from->first = nullptr;
  from->last = nullptr;
  from->count = 0;
  from->index = 0;
  from->beforeFirst = 1;
  MoveCursor(*from, nullptr);
  return true;
}

namespace {

// Unlinks at most count elements from one end of the list, releases what their records own
// and gives them back to the pool. The number released.
std::int64_t ReleaseAtEnd(RecordList& list, std::int64_t count, bool fromFront) {
  ListElement*& nearEnd = fromFront ? list.first : list.last;
  ListElement*& farEnd = fromFront ? list.last : list.first;
  const auto onward = [fromFront](ListElement* element) -> ListElement*& {
    return fromFront ? element->next : element->previous;
  };
  const auto backward = [fromFront](ListElement* element) -> ListElement*& {
    return fromFront ? element->previous : element->next;
  };
  ListElement* const nearest = nearEnd;
  ListElement* farthest = nullptr;
  std::int64_t released = 0;
  for (ListElement* element = nearest; element && released < count; element = onward(element)) {
    if (list.layoutMap) ReleaseRecord(RecordOf(element), list.layoutMap);
    farthest = element;
    ++released;
  }
  if (released == 0) return 0;
  ListElement* const kept = onward(farthest);
  nearEnd = kept;
  if (kept) backward(kept) = nullptr;
  else farEnd = nullptr;
  onward(farthest) = nullptr;
  list.count -= released;
  // The pool takes the chain in next order, from its earliest element.
  if (fromFront) list.pool->GiveChain(nearest, farthest, released);
  else list.pool->GiveChain(farthest, nearest, released);
  if (list.count == 0) list.pool->ReleaseBlocksIfUnused();
  return released;
}

}  // namespace

std::int64_t ListReleaseFront(RecordList* list, std::int64_t count) {
  if (!list) return -1;
  SharedChangeScope scope;
  if (ReleaseAtEnd(*list, count, true) == 0) return list->count;
  list->index = 0;
  list->beforeFirst = 1;
  MoveCursor(*list, nullptr);
  return list->count;
}

std::int64_t ListReleaseBack(RecordList* list, std::int64_t count) {
  if (!list) return -1;
  SharedChangeScope scope;
  if (ReleaseAtEnd(*list, count, false) == 0) return list->count;
  MoveCursor(*list, list->last);
  list->index = list->last ? list->count - 1 : 0;
  list->beforeFirst = list->last ? 0 : 1;
  return list->count;
}

void ListRewind(RecordList* list) {
  if (!list) return;
  SharedChangeScope scope;
  MoveCursor(*list, nullptr);
  list->beforeFirst = 1;
}

void* ListNext(RecordList* list) {
  if (!list) return nullptr;
  SharedChangeScope scope;
  ListElement* current = list->current;
  if (!current) {
    MoveCursor(*list, list->first);
    list->index = 0;
    return RecordOf(list->first);
  }
  if (!current->next) {
    MoveCursor(*list, current);
    return nullptr;
  }
  MoveCursor(*list, current->next);
  ++list->index;
  return RecordOf(list->current);
}

void* ListInsert(RecordList* list) { return ListInsertSeveral(list, 1); }

void* ListInsertSeveral(RecordList* list, std::int64_t count) {
  if (!list || count <= 0) return nullptr;
  SharedChangeScope scope;
  auto* first = static_cast<ListElement*>(list->pool->TakeChain(count));
  if (!first) return nullptr;
  if (!PrepareChain(*list, first)) {
    list->pool->GiveChain(first);
    return nullptr;
  }
  for (ListElement* element = first; element;) {
    ListElement* next = element->next;
    LinkAfterCursor(*list, element);
    element = next;
  }
  return RecordOf(first);
}

std::int64_t ListCount(const RecordList* list) { return list ? list->count : -1; }

void* ListLast(RecordList* list) {
  if (!list) return nullptr;
  SharedChangeScope scope;
  MoveCursor(*list, list->last);
  if (!list->last) return nullptr;
  list->index = list->count - 1;
  list->beforeFirst = 0;
  return RecordOf(list->last);
}

void ListDestroy(RecordList* list) {
  if (!list) return;
  SharedChangeScope scope;
  DestroyList(list);
}
