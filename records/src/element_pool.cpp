#include "records/element_pool.h"

#include <algorithm>
#include <map>
#include <new>

#include "runtime/object_registry.h"

namespace {

constexpr std::int64_t kBlockReferenceSize = 8;
constexpr std::int64_t kLargestElement = std::int64_t{1} << 48;

// The set of shared pools lives until the process ends: a list may still give up its pool
// from a thread that outlives static destruction.
struct SharedPools {
  std::mutex lock;
  std::map<std::int64_t, std::unique_ptr<ElementPool>> bySlotSize;
};

union ImmortalPools {
  ImmortalPools() {}
  ~ImmortalPools() {}
  SharedPools pools;
};

ImmortalPools sharedPoolStorage;
std::once_flag sharedPoolsMade;

void MakeSharedPools() { new (&sharedPoolStorage.pools) SharedPools(); }

SharedPools& Pools() {
  RunOnce(sharedPoolsMade, MakeSharedPools);
  return sharedPoolStorage.pools;
}

}  // namespace

ElementPool::ElementPool(std::int64_t slotSize, std::int64_t minimumBlockSlots,
                         std::int64_t maximumBlockSlots)
    : slotSize_(slotSize),
      minimumBlockSlots_(minimumBlockSlots),
      maximumBlockSlots_(maximumBlockSlots) {}

ElementPool::~ElementPool() = default;

std::int64_t ElementPool::NextBlockSlots() const {
  std::int64_t slots = (slotsAllocated_ / 16) & ~std::int64_t{15};
  return std::clamp(slots, minimumBlockSlots_, maximumBlockSlots_);
}

// Carves a new block into free slots, each one stamped with the block it belongs to.
bool ElementPool::AddBlock(std::int64_t slots) {
  if (slots <= 0 || slots > PTRDIFF_MAX / slotSize_) return false;
  // Room for the new block's entry first, so that keeping it cannot fail once it exists;
  // the room grows geometrically, since a pool of small blocks may hold thousands.
  try {
    if (blocks_.size() == blocks_.capacity()) {
      blocks_.reserve(std::max<std::size_t>(16, 2 * blocks_.size()));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[slots * slotSize_]);
  if (!block) return false;
  std::byte* base = block.get();
  for (std::int64_t i = slots - 1; i >= 0; --i) {
    std::byte* slot = base + i * slotSize_;
    *reinterpret_cast<std::byte**>(slot) = base;
    auto* element = reinterpret_cast<FreeSlot*>(slot + kBlockReferenceSize);
    element->next = free_;
    free_ = element;
  }
  blocks_.push_back(std::move(block));
  slotsAllocated_ += slots;
  return true;
}

void* ElementPool::Take() {
  std::lock_guard guard(lock_);
  if (!free_ && !AddBlock(NextBlockSlots()) && !AddBlock(1)) return nullptr;
  FreeSlot* element = free_;
  free_ = element->next;
  ++slotsInUse_;
  return element;
}

void ElementPool::Give(void* element) {
  if (!element) return;
  std::lock_guard guard(lock_);
  auto* slot = static_cast<FreeSlot*>(element);
  slot->next = free_;
  free_ = slot;
  --slotsInUse_;
}

void ElementPool::GiveChain(void* first) {
  if (!first) return;
  auto* head = static_cast<FreeSlot*>(first);
  FreeSlot* tail = head;
  std::int64_t count = 1;
  while (tail->next) {
    tail = tail->next;
    ++count;
  }
  GiveChain(head, tail, count);
}

void ElementPool::GiveChain(void* first, void* last, std::int64_t count) {
  if (!first || !last) return;
  std::lock_guard guard(lock_);
  static_cast<FreeSlot*>(last)->next = free_;
  free_ = static_cast<FreeSlot*>(first);
  slotsInUse_ -= count;
}

void ElementPool::ReleaseBlocksIfUnused() {
  std::lock_guard guard(lock_);
  if (slotsInUse_ != 0 || slotsAllocated_ <= maximumBlockSlots_) return;
  std::vector<std::unique_ptr<std::byte[]>>().swap(blocks_);
  free_ = nullptr;
  slotsAllocated_ = 0;
}

std::int64_t ElementPool::SlotsAllocated() {
  std::lock_guard guard(lock_);
  return slotsAllocated_;
}

std::int64_t ElementPool::SlotsInUse() {
  std::lock_guard guard(lock_);
  return slotsInUse_;
}

std::int64_t ElementSlotSize(std::int64_t elementSize) {
  if (elementSize < 0 || elementSize > kLargestElement) return -1;
  std::int64_t rounded = (elementSize + 7) & ~std::int64_t{7};
  return std::max<std::int64_t>(rounded, 8) + kBlockReferenceSize;
}

ElementPool* AcquireElementPool(std::int64_t slotSize) {
  if (slotSize < 16 || slotSize % 8 != 0) return nullptr;
  SharedPools& shared = Pools();
  std::lock_guard guard(shared.lock);
  try {
    auto& pool = shared.bySlotSize[slotSize];
    if (!pool) pool = std::make_unique<ElementPool>(slotSize);
    ++pool->users_;
    return pool.get();
  } catch (const std::bad_alloc&) {
    auto entry = shared.bySlotSize.find(slotSize);
    if (entry != shared.bySlotSize.end() && !entry->second) shared.bySlotSize.erase(entry);
    return nullptr;
  }
}

void GiveUpElementPool(ElementPool* pool) {
  if (!pool) return;
  SharedPools& shared = Pools();
  std::lock_guard guard(shared.lock);
  auto entry = shared.bySlotSize.find(pool->SlotSize());
  if (entry == shared.bySlotSize.end() || entry->second.get() != pool) return;
  if (--pool->users_ == 0) shared.bySlotSize.erase(entry);
}
