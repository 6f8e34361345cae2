#include "records/element_pool.h"

#include <algorithm>
#include <map>
#include <new>

#include "runtime/object_registry.h"
#include "runtime/page_warmer.h"

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
                         std::int64_t maximumBlockSlots, bool referencesBlock)
    : slotSize_(slotSize),
      referenceBytes_(referencesBlock ? kBlockReferenceSize : 0),
      minimumBlockSlots_(minimumBlockSlots),
      maximumBlockSlots_(maximumBlockSlots) {}

ElementPool::~ElementPool() = default;

std::int64_t ElementPool::NextBlockSlots() const {
  std::int64_t slots = (slotsAllocated_ / 16) & ~std::int64_t{15};
  return std::clamp(slots, minimumBlockSlots_, maximumBlockSlots_);
}

// A new block whose slots are carved as they are taken.
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
  const auto bytes = static_cast<std::size_t>(slots * slotSize_);
  std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[bytes]);
  if (!block) return false;
  uncarved_ = block.get();
  blockEnd_ = uncarved_ + bytes;
  WarmPagesAhead(uncarved_, bytes);
  blocks_.push_back(std::move(block));
  slotsAllocated_ += slots;
  return true;
}

void* ElementPool::Take() {
  std::lock_guard guard(lock_);
  return TakeLocked();
}

void* ElementPool::TakeChain(std::int64_t count) {
  std::lock_guard guard(lock_);
  FreeSlot* first = nullptr;
  FreeSlot* last = nullptr;
  for (std::int64_t taken = 0; taken < count; ++taken) {
    auto* slot = static_cast<FreeSlot*>(TakeLocked());
    if (!slot) {
      while (first) {
        FreeSlot* next = first->next;
        GiveLocked(first);
        first = next;
      }
      return nullptr;
    }
    slot->next = nullptr;
    (last ? last->next : first) = slot;
    last = slot;
  }
  return first;
}

void* ElementPool::TakeLocked() {
  ++slotsInUse_;
  if (FreeSlot* element = free_) {
    free_ = element->next;
    return element;
  }
  if (uncarved_ == blockEnd_ && !AddBlock(NextBlockSlots()) && !AddBlock(1)) {
    --slotsInUse_;
    return nullptr;
  }
  // Each list element's slot starts with a reference to the block it belongs to.
  std::byte* slot = uncarved_;
  if (referenceBytes_ > 0) *reinterpret_cast<std::byte**>(slot) = blocks_.back().get();
  uncarved_ += slotSize_;
  return slot + referenceBytes_;
}

void ElementPool::Give(void* element) {
  if (!element) return;
  std::lock_guard guard(lock_);
  GiveLocked(element);
}

void ElementPool::GiveAndReleaseIfUnused(void* element) {
  if (!element) return;
  std::lock_guard guard(lock_);
  GiveLocked(element);
  ReleaseBlocksIfUnusedLocked();
}

void ElementPool::GiveLocked(void* element) {
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
  ReleaseBlocksIfUnusedLocked();
}

void ElementPool::ReleaseBlocksIfUnusedLocked() {
  if (slotsInUse_ != 0 || slotsAllocated_ <= maximumBlockSlots_) return;
  std::vector<std::unique_ptr<std::byte[]>>().swap(blocks_);
  free_ = nullptr;
  uncarved_ = nullptr;
  blockEnd_ = nullptr;
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
