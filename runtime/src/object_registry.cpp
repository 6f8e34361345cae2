#include "runtime/object_registry.h"

#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "runtime/unaligned.h"

namespace {

using Record = std::unique_ptr<std::byte[]>;

Record ZeroFilledRecord(std::int32_t size) {
  return Record(new (std::nothrow) std::byte[static_cast<std::size_t>(size)]());
}

bool FirstWordSet(const std::byte* record) { return LoadUnaligned<std::uint64_t>(record) != 0; }

// A dynamic object: the links of the dynamic list and the record the handle points to.
struct DynamicBlock {
  DynamicBlock* next = nullptr;      // older block
  DynamicBlock* previous = nullptr;  // newer block
  Record record;
};

}  // namespace

struct ObjectTable {
  std::int32_t recordSize = 0;
  std::int32_t growthStep = 0;
  std::int64_t capacity = 0;
  std::vector<Record> slots;
  DynamicBlock* dynamicHead = nullptr;
  FreeOperation freeOperation = nullptr;
  std::int64_t enumerationCursor = 0;
  std::recursive_mutex lock;
  // Every handle issued and not yet released, so that a stray number is never dereferenced.
  std::unordered_map<ObjectNumber, std::unique_ptr<DynamicBlock>> issuedHandles;

  bool IsStatic(ObjectNumber number) const { return number >= 0 && number < capacity; }

  std::byte* SlotOf(ObjectNumber number) {
    if (IsStatic(number)) return slots[static_cast<std::size_t>(number)].get();
    auto found = issuedHandles.find(number);
    return found == issuedHandles.end() ? nullptr : found->second->record.get();
  }
};

namespace {

void* AllocateDynamic(ObjectTable* table) {
  auto block = std::unique_ptr<DynamicBlock>(new (std::nothrow) DynamicBlock);
  if (!block) return nullptr;
  block->record = ZeroFilledRecord(table->recordSize);
  if (!block->record) return nullptr;
  DynamicBlock* raw = block.get();
  try {
    table->issuedHandles.emplace(HandleOf(raw->record.get()), std::move(block));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  raw->next = table->dynamicHead;
  if (table->dynamicHead) table->dynamicHead->previous = raw;
  table->dynamicHead = raw;
  return raw->record.get();
}

bool GrowSlots(ObjectTable* table, ObjectNumber number) {
  try {
    table->slots.resize(static_cast<std::size_t>(number + table->growthStep));
  } catch (const std::bad_alloc&) {
    return false;
  }
  table->capacity = number + table->growthStep;
  return true;
}

void UnlinkDynamic(ObjectTable* table, DynamicBlock* block) {
  if (block->previous) block->previous->next = block->next;
  else table->dynamicHead = block->next;
  if (block->next) block->next->previous = block->previous;
}

}  // namespace

ObjectTable* CreateObjectTable(std::int32_t recordSize, std::int32_t growthStep,
                               FreeOperation freeOperation) {
  if (recordSize < 8 || growthStep < 1) return nullptr;
  auto table = std::unique_ptr<ObjectTable>(new (std::nothrow) ObjectTable);
  if (!table) return nullptr;
  table->recordSize = recordSize;
  table->growthStep = growthStep;
  table->freeOperation = freeOperation;
  if (!GrowSlots(table.get(), 0)) return nullptr;
  // Tables live until the process ends, as the libraries that own them do.
  return table.release();
}

void* AllocateObject(ObjectTable* table, ObjectNumber number) {
  if (!table || number < AnyHandle) return nullptr;
  std::lock_guard guard(table->lock);
  if (number == AnyHandle) return AllocateDynamic(table);
  if (number >= table->capacity && !GrowSlots(table, number)) return nullptr;
  Record& slot = table->slots[static_cast<std::size_t>(number)];
  if (slot) {
    // The free operation runs under our (re-entrant) lock and zero-fills the old record.
    if (table->freeOperation) table->freeOperation(number);
    std::memset(slot.get(), 0, static_cast<std::size_t>(table->recordSize));
  } else {
    slot = ZeroFilledRecord(table->recordSize);
  }
  return slot.get();
}

void* LookupObject(ObjectTable* table, ObjectNumber number) {
  if (!table) return nullptr;
  std::byte* record = nullptr;
  {
    std::lock_guard guard(table->lock);
    record = table->SlotOf(number);
  }
  return record && FirstWordSet(record) ? record : nullptr;
}

void* IsObject(ObjectTable* table, ObjectNumber number) {
  if (!table) return nullptr;
  std::lock_guard guard(table->lock);
  std::byte* record = table->SlotOf(number);
  if (!record) return nullptr;
  if (!table->IsStatic(number)) return record;
  return FirstWordSet(record) ? record : nullptr;
}

void ReleaseObject(ObjectTable* table, ObjectNumber number) {
  if (!table) return;
  std::lock_guard guard(table->lock);
  if (table->IsStatic(number)) {
    Record& slot = table->slots[static_cast<std::size_t>(number)];
    if (slot) std::memset(slot.get(), 0, static_cast<std::size_t>(table->recordSize));
    return;
  }
  auto found = table->issuedHandles.find(number);
  if (found == table->issuedHandles.end()) return;
  UnlinkDynamic(table, found->second.get());
  table->issuedHandles.erase(found);
}

namespace {

// The next object for free-all: live static numbers first, then the newest dynamic block.
bool NextLiveObject(ObjectTable* table, ObjectNumber* number) {
  while (table->enumerationCursor < table->capacity) {
    ObjectNumber candidate = table->enumerationCursor++;
    const Record& slot = table->slots[static_cast<std::size_t>(candidate)];
    if (slot && FirstWordSet(slot.get())) {
      *number = candidate;
      return true;
    }
  }
  if (!table->dynamicHead) return false;
  *number = HandleOf(table->dynamicHead->record.get());
  return true;
}

}  // namespace

void FreeAllObjects(ObjectTable* table) {
  if (!table || !table->freeOperation) return;
  std::lock_guard guard(table->lock);
  table->enumerationCursor = 0;
  ObjectNumber number = 0;
  while (NextLiveObject(table, &number)) {
    DynamicBlock* head = table->dynamicHead;
    table->freeOperation(number);
    // A free operation that left its dynamic block behind would make this loop endless.
    if (!table->IsStatic(number) && table->dynamicHead == head) ReleaseObject(table, number);
  }
}

void RunOnce(std::once_flag& state, void (*initialiser)()) { std::call_once(state, initialiser); }
