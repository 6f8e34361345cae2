#include "runtime/text_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include "runtime/page_warmer.h"
#include "runtime/text_encoding.h"

namespace {

constexpr int BlockShift = 20;
constexpr std::uintptr_t BlockBytes = std::uintptr_t{1} << BlockShift;
static_assert(BlockBytes / sizeof(char16_t) == PooledBlockUnits);

// A block starts with its reference count: one per text handed out and per pin, plus the
// credit its pool holds while filling it. The credit (more texts than a block can hold)
// saves the pool an atomic operation per text: on moving on it gives back what it didn't
// use.
struct BlockHeader {
  std::atomic<std::int64_t> references;
};
constexpr std::int64_t HeaderBytes = 16;
static_assert(sizeof(BlockHeader) <= HeaderBytes);
constexpr std::int64_t PoolCredit = static_cast<std::int64_t>(BlockBytes);

// Which 1 MiB address ranges are pooled blocks, as a two-level table over the user address
// space, so that FreeString can tell a pooled text from a heap block with two loads and no
// lock. Leaves are made on first use and never freed; a leaf covers 16 GiB.
constexpr int AddressBits = 48;
constexpr int LeafBits = 14;
constexpr std::size_t LeafEntries = std::size_t{1} << LeafBits;
constexpr std::size_t TopEntries = std::size_t{1} << (AddressBits - BlockShift - LeafBits);

struct Leaf {
  std::atomic<bool> pooled[LeafEntries];
};

std::atomic<Leaf*> leaves[TopEntries];
std::mutex leafLock;

std::uintptr_t BlockIndex(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer) >> BlockShift;
}

std::byte* BlockOf(const void* pointer) {
  return reinterpret_cast<std::byte*>(reinterpret_cast<std::uintptr_t>(pointer) &
                                      ~(BlockBytes - 1));
}

BlockHeader& HeaderOf(std::byte* block) { return *reinterpret_cast<BlockHeader*>(block); }

std::atomic<bool>* EntryFor(std::uintptr_t index, bool make) {
  const std::uintptr_t top = index >> LeafBits;
  if (top >= TopEntries) return nullptr;
  Leaf* leaf = leaves[top].load(std::memory_order_acquire);
  if (!leaf && make) {
    std::lock_guard guard(leafLock);
    leaf = leaves[top].load(std::memory_order_acquire);
    if (!leaf) {
      void* memory = std::malloc(sizeof(Leaf));
      if (!memory) return nullptr;
      leaf = ::new (memory) Leaf();
      leaves[top].store(leaf, std::memory_order_release);
    }
  }
  return leaf ? &leaf->pooled[index & (LeafEntries - 1)] : nullptr;
}

// A block-aligned block from the system, marked as pooled; null when none can be had.
std::byte* MapBlock() {
  void* mapped =
      ::mmap(nullptr, 2 * BlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* start = static_cast<std::byte*>(mapped);
  std::byte* block = BlockOf(start + BlockBytes - 1);
  const auto head = static_cast<std::size_t>(block - start);
  if (head > 0) ::munmap(start, head);
  ::munmap(block + BlockBytes, BlockBytes - head);
  std::atomic<bool>* entry = EntryFor(BlockIndex(block), true);
  if (!entry) {
    ::munmap(block, BlockBytes);
    return nullptr;
  }
  entry->store(true, std::memory_order_release);
  return block;
}

void UnmapBlock(std::byte* block) {
  EntryFor(BlockIndex(block), false)->store(false, std::memory_order_release);
  ::munmap(block, BlockBytes);
}

void Release(std::byte* block, std::int64_t references) {
  if (references <= 0) return;
  if (HeaderOf(block).references.fetch_sub(references, std::memory_order_acq_rel) == references) {
    UnmapBlock(block);
  }
}

}  // namespace

bool IsPooledText(const void* text) {
  if (!text) return false;
  const std::atomic<bool>* entry = EntryFor(BlockIndex(text), false);
  return entry && entry->load(std::memory_order_acquire);
}

bool ReleasePooledText(const void* text) {
  if (!IsPooledText(text)) return false;
  Release(BlockOf(text), 1);
  return true;
}

const char16_t* PinTextBlock(const char16_t* text) {
  if (!IsPooledText(text)) return nullptr;
  std::byte* block = BlockOf(text);
  HeaderOf(block).references.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<const char16_t*>(block);
}

TextPool::~TextPool() { LetGoOfBlock(); }

void TextPool::LetGoOfBlock() {
  if (!block_) return;
  Release(block_, PoolCredit - handedOut_);
  block_ = nullptr;
}

bool TextPool::StartBlock() {
  LetGoOfBlock();
  block_ = MapBlock();
  if (!block_) return false;
  WarmPagesAhead(block_ + BlockBytes / 2, BlockBytes / 2);  // this pool fills the first half
  new (block_) BlockHeader{PoolCredit};
  used_ = HeaderBytes;
  handedOut_ = 0;
  return true;
}

char16_t* TextPool::Room(std::int64_t units) {
  const std::int64_t bytes = 2 * (units + 1);
  if (bytes > static_cast<std::int64_t>(BlockBytes) - HeaderBytes) return nullptr;
  if ((!block_ || used_ + bytes > static_cast<std::int64_t>(BlockBytes)) && !StartBlock()) {
    return nullptr;
  }
  return reinterpret_cast<char16_t*>(block_ + used_);
}

void TextPool::HandOut(StringVar& variable, char16_t* text, std::int64_t length) {
  text[length] = 0;
  used_ += 2 * (length + 1);
  ++handedOut_;
  if (variable) FreeString(variable);
  variable = text;
}

std::int64_t TextPool::AssignUtf8(StringVar& variable, const char* bytes, std::int64_t length) {
  if (!bytes) length = 0;
  length = std::max<std::int64_t>(length, 0);
  // A UTF-8 text never has more UTF-16 units than bytes.
  char16_t* decoded = Room(length);
  if (!decoded) {
    // Through the temporary area to the string heap, as a text too long for the pool goes.
    const std::int64_t at = TempPosition();
    Utf8ToTempString(bytes, length, at);
    const std::int64_t units = (TempPosition() - at) / 2;
    AssignFromTemp(variable, at);
    return units;
  }
  const auto units = static_cast<std::int64_t>(
      length > 0 ? DecodeUtf8(bytes, static_cast<std::size_t>(length), decoded) : 0);
  HandOut(variable, decoded, units);
  return units;
}
