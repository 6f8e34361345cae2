// Fixed-size slots handed out from large blocks, so that list elements never come from the
// general heap one by one. Every slot is laid out as an 8-byte reference to the block that
// holds it, followed by the element the caller uses; the pool hands out element addresses.
//
// Lists (and anything else with fixed-size nodes) share one pool per slot size: a pool is
// found or made with AcquireElementPool and given up with GiveUpElementPool; it counts its
// users and goes away with the last one. Taking and giving back slots is locked per pool,
// so lists on different threads may insert and clear at the same time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class ElementPool {
 public:
  static constexpr std::int64_t kDefaultMinimumBlockSlots = 16;
  static constexpr std::int64_t kDefaultMaximumBlockSlots = 65536;

  // slotSize includes the 8-byte block reference and is a multiple of 8, at least 16.
  // Without referencesBlock the slot is the element alone (at least 8 bytes): for fixed-size
  // things that are not list elements, such as list headers, and nobody asks for the block.
  explicit ElementPool(std::int64_t slotSize,
                       std::int64_t minimumBlockSlots = kDefaultMinimumBlockSlots,
                       std::int64_t maximumBlockSlots = kDefaultMaximumBlockSlots,
                       bool referencesBlock = true);
  ElementPool(const ElementPool&) = delete;
  ElementPool& operator=(const ElementPool&) = delete;
  ~ElementPool();

  // The address of an unused element of slotSize - 8 bytes (its contents are undefined),
  // or null when the heap refuses both a new block and a single slot.
  [[nodiscard]] void* Take();
  // count elements under one take of the lock, chained through their first word in the
  // order taken (null ends the chain); null, with nothing taken, when memory ran out.
  [[nodiscard]] void* TakeChain(std::int64_t count);
  // Gives one element back; it is the next one Take hands out.
  void Give(void* element);
  // The same, then ReleaseBlocksIfUnused under the same take of the lock.
  void GiveAndReleaseIfUnused(void* element);
  // Gives back a chain of elements linked through their first word (null ends the chain).
  void GiveChain(void* first);
  // The same for a chain whose last element and length the caller already knows, so that
  // a long chain is not walked again.
  void GiveChain(void* first, void* last, std::int64_t count);
  // Hands every block back to the heap when no slot is in use and more than one largest
  // block's worth is allocated, so that a big list, once cleared, does not keep its memory
  // for the rest of the run. Small pools keep their blocks for the next use.
  void ReleaseBlocksIfUnused();

  [[nodiscard]] std::int64_t SlotSize() const { return slotSize_; }
  std::int64_t SlotsAllocated();
  std::int64_t SlotsInUse();

 private:
  friend ElementPool* AcquireElementPool(std::int64_t slotSize);
  friend void GiveUpElementPool(ElementPool* pool);

  struct FreeSlot {
    FreeSlot* next;
  };

  void* TakeLocked();
  void GiveLocked(void* element);
  [[nodiscard]] std::int64_t NextBlockSlots() const;
  bool AddBlock(std::int64_t slots);

  void ReleaseBlocksIfUnusedLocked();

  const std::int64_t slotSize_;
  const std::int64_t referenceBytes_;
  const std::int64_t minimumBlockSlots_;
  const std::int64_t maximumBlockSlots_;
  std::mutex lock_;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  FreeSlot* free_ = nullptr;
  // The newest block's slots not handed out yet: carved one by one as they are taken, so
  // that its pages are first touched when used (or by the page warmer ahead of that).
  std::byte* uncarved_ = nullptr;
  std::byte* blockEnd_ = nullptr;
  std::int64_t slotsAllocated_ = 0;
  std::int64_t slotsInUse_ = 0;
  std::int64_t users_ = 0;  // guarded by the lock over the set of shared pools
};

// The slot size that holds an element of elementSize bytes: rounded up to 8, plus the
// block reference in front. -1 for a negative or unreasonably large element size.
std::int64_t ElementSlotSize(std::int64_t elementSize);

// The shared pool for this slot size, made on first demand, with one more user counted;
// null when memory ran out.
[[nodiscard]] ElementPool* AcquireElementPool(std::int64_t slotSize);

// One user fewer; the last one releases the pool with all its blocks. Null is ignored.
void GiveUpElementPool(ElementPool* pool);
