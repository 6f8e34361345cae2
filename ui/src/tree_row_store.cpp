#include "tree_row_store.h"

#include <algorithm>
#include <limits>
#include <new>

#include "runtime/page_warmer.h"

namespace {

constexpr std::int64_t MaximumRows = std::numeric_limits<std::int32_t>::max();

// The store whose lock the calling thread holds through a Hold.
thread_local const TreeRowStore* heldStore = nullptr;

// Makes sure one more element can be pushed without failing; false when memory ran out.
template <class Element>
bool RoomForOneMore(std::vector<Element>& elements) {
  if (elements.size() < elements.capacity()) return true;
  try {
    elements.reserve(std::max<std::size_t>(16, 2 * elements.size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

TreeRowStore::Hold::Hold(const TreeRowStore& store)
    : store_(store), previous_(heldStore), locked_(heldStore != &store) {
  if (!locked_) return;
  store_.lock_.lock();
  heldStore = &store_;
}

TreeRowStore::Hold::~Hold() {
  if (!locked_) return;
  heldStore = previous_;
  store_.lock_.unlock();
}

// The helpers that every appended row goes through are inline: for millions of rows the
// calls cost more than most of them do.
inline std::unique_lock<std::mutex> TreeRowStore::Lock() const {
  std::unique_lock guard(lock_, std::defer_lock);
  if (heldStore != this) guard.lock();
  return guard;
}

inline std::int64_t TreeRowStore::PreviousSiblingFor(std::int64_t level) const {
  if (size_ == 0) return NoRow;
  std::int64_t row = Size() - 1;
  if (level > At(row).depth) return NoRow;
  // The ancestor of the last row at depth level (the last row itself when equal).
  while (At(row).depth > level) {
    row = At(row).parent;
  }
  return row;
}

bool TreeRowStore::AddChunk() {
  auto chunk = std::unique_ptr<Row[]>(new (std::nothrow) Row[RowsPerChunk]);
  if (!chunk) return false;
  WarmPagesAhead(chunk.get(), sizeof(Row) * RowsPerChunk);
  try {
    rowChunks_.push_back(std::move(chunk));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

inline bool TreeRowStore::AddRow(const Row& row) {
  if (size_ == static_cast<std::int64_t>(rowChunks_.size()) * RowsPerChunk && !AddChunk()) {
    return false;
  }
  At(size_++) = row;
  return true;
}

TreeRowStore::~TreeRowStore() { ReleaseTexts(); }

inline TreeRowStore::TextPlace TreeRowStore::AddText(std::u16string_view text) {
  if (TextPlace borrowed = BorrowText(text); borrowed.source >= 0) return borrowed;
  return KeepOwnCopy(text);
}

// A pooled text is shared, not copied; the block being pinned once is enough for every row
// pointing into it.
inline TreeRowStore::TextPlace TreeRowStore::BorrowText(std::u16string_view text) {
  const auto at = reinterpret_cast<std::uintptr_t>(text.data());
  const char16_t* pinned = pinnedSource_ >= 0 ? pinnedBlocks_.back() : nullptr;
  auto block = reinterpret_cast<std::uintptr_t>(pinned);
  if (!block || at - block >= PooledBlockUnits * sizeof(char16_t)) {
    if (!RoomForOneMore(pinnedBlocks_) || !RoomForTextSource()) return {};
    pinned = PinTextBlock(text.data());
    if (!pinned) return {};  // not a pooled text
    pinnedBlocks_.push_back(pinned);
    textSources_.push_back(pinned);
    pinnedSource_ = static_cast<std::int64_t>(textSources_.size()) - 1;
    block = reinterpret_cast<std::uintptr_t>(pinned);
  }
  return {pinnedSource_, static_cast<std::int64_t>((at - block) / sizeof(char16_t))};
}

TreeRowStore::TextPlace TreeRowStore::KeepOwnCopy(std::u16string_view text) {
  if (ownSource_ < 0 || ownTexts_.back().size() + text.size() > TextUnitsPerChunk) {
    if (!RoomForTextSource() || !RoomForOneMore(ownTexts_)) return {};
    try {
      std::u16string chunk;
      chunk.reserve(TextUnitsPerChunk);
      ownTexts_.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
      return {};
    }
    textSources_.push_back(ownTexts_.back().data());
    ownSource_ = static_cast<std::int64_t>(textSources_.size()) - 1;
  }
  std::u16string& chunk = ownTexts_.back();
  const auto start = static_cast<std::int64_t>(chunk.size());
  chunk.append(text);  // within the reserved capacity: never reallocates
  return {ownSource_, start};
}

bool TreeRowStore::RoomForTextSource() {
  return static_cast<std::int64_t>(textSources_.size()) < MaximumTextSources &&
         RoomForOneMore(textSources_);
}

void TreeRowStore::ReleaseTexts() {
  for (const char16_t* block : pinnedBlocks_) ReleasePooledText(block);
  std::vector<const char16_t*>().swap(pinnedBlocks_);
  std::vector<const char16_t*>().swap(textSources_);
  std::vector<std::u16string>().swap(ownTexts_);
  ownSource_ = -1;
  pinnedSource_ = -1;
  textUnits_ = 0;
}

std::int64_t TreeRowStore::Append(std::u16string_view text, std::int64_t level) {
  const auto guard = Lock();
  if (size_ >= MaximumRows) return NoRow;
  level = std::clamp<std::int64_t>(level, 0, TreeDepthLimit);
  const std::int64_t id = size_;
  const std::int64_t previous = PreviousSiblingFor(level);
  Row row{};
  row.parent = NoRow;
  row.nextSibling = NoRow;
  if (previous == NoRow && id > 0) {
    row.parent = static_cast<std::int32_t>(id - 1);
    row.depth = (At(id - 1).depth + 1) & 0xFFF;
  } else if (previous != NoRow) {
    row.parent = At(previous).parent;
    row.depth = At(previous).depth;
  }
  text = text.substr(0, std::min(text.size(), TreeTextLimit));
  const TextPlace place = AddText(text);
  if (place.source < 0) return NoRow;
  row.textSource = static_cast<std::uint32_t>(place.source) & 0xFFFFF;
  row.textStart = static_cast<std::uint32_t>(place.start) & 0xFFFFF;
  row.textLength = static_cast<std::uint32_t>(text.size()) & 0xFFF;
  // Out of memory leaves no half-added row (a stored text nobody refers to is harmless).
  if (row.parent == NoRow) {
    try {
      roots_.push_back(static_cast<std::int32_t>(id));
    } catch (const std::bad_alloc&) {
      return NoRow;
    }
    row.rowInParent = static_cast<std::int32_t>(roots_.size() - 1);
  } else {
    row.rowInParent = At(row.parent).childCount;
  }
  if (!AddRow(row)) {
    if (row.parent == NoRow) roots_.pop_back();
    return NoRow;
  }
  textUnits_ += text.size();
  if (row.parent != NoRow) ++At(row.parent).childCount;
  if (previous != NoRow) At(previous).nextSibling = static_cast<std::int32_t>(id);
  return id;
}

void TreeRowStore::Clear() {
  const auto guard = Lock();
  // Swapping with empty containers gives the memory of a big tree back at once.
  std::vector<std::unique_ptr<Row[]>>().swap(rowChunks_);
  ReleaseTexts();
  std::vector<std::int32_t>().swap(roots_);
  size_ = 0;
  walkParent_ = NoRow;
  walkRow_ = NoRow;
  walkIndex_ = 0;
}

std::int64_t TreeRowStore::Count() const {
  const auto guard = Lock();
  return Size();
}

std::u16string TreeRowStore::Text(std::int64_t row) const {
  std::u16string text;
  CopyText(row, text);
  return text;
}

void TreeRowStore::CopyText(std::int64_t row, std::u16string& text) const {
  const auto guard = Lock();
  if (!Valid(row)) {
    text.clear();
    return;
  }
  const Row& record = At(row);
  text.assign(TextOf(record), record.textLength);
}

bool TreeRowStore::AppendAllTexts(std::u16string& text, std::u16string_view terminator) const {
  const auto guard = Lock();
  const std::size_t kept = text.size();
  try {
    text.resize(kept + textUnits_ + static_cast<std::size_t>(size_) * terminator.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  char16_t* out = text.data() + kept;
  for (std::int64_t row = 0; row < size_; ++row) {
    const Row& record = At(row);
    out = std::copy_n(TextOf(record), record.textLength, out);
    out = std::copy(terminator.begin(), terminator.end(), out);
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
  return true;
}

TreeRowLinks TreeRowStore::Links(std::int64_t row) const {
  const auto guard = Lock();
  if (!Valid(row)) return {};
  const Row& record = At(row);
  return {record.parent, record.rowInParent, record.childCount, record.depth};
}

std::int64_t TreeRowStore::RootAt(std::int64_t index) const {
  const auto guard = Lock();
  if (index < 0 || index >= static_cast<std::int64_t>(roots_.size())) return NoRow;
  return roots_[static_cast<std::size_t>(index)];
}

std::int64_t TreeRowStore::ChildAt(std::int64_t parent, std::int64_t index) const {
  const auto guard = Lock();
  return ChildAtLocked(parent, index);
}

std::int64_t TreeRowStore::ChildAtLocked(std::int64_t parent, std::int64_t index) const {
  if (!Valid(parent) || index < 0) return NoRow;
  if (index >= At(parent).childCount) return NoRow;
  // In pre-order a row's first child directly follows it.
  std::int64_t row = parent + 1;
  std::int64_t at = 0;
  if (walkParent_ == parent && walkIndex_ <= index && walkRow_ != NoRow) {
    row = walkRow_;
    at = walkIndex_;
  }
  for (; at < index; ++at) row = At(row).nextSibling;
  walkParent_ = parent;
  walkIndex_ = index;
  walkRow_ = row;
  return row;
}

TreePublishStep TreeRowStore::NextPublishStep(std::int64_t from, std::int64_t limit) const {
  const auto guard = Lock();
  limit = std::min(limit, Size());
  if (from < 0 || from >= limit) return {NoRow, 0, -1, std::max<std::int64_t>(from, 0)};
  const Row& first = At(from);
  TreePublishStep step{first.parent, first.rowInParent, first.rowInParent, from + 1};
  // Rows keep belonging to this step while they are further children of the same parent or
  // descendants of rows of this step; the first row that attaches higher up starts the next.
  for (; step.bound < limit; ++step.bound) {
    const Row& row = At(step.bound);
    if (row.parent == step.parent) {
      step.lastChild = row.rowInParent;
    } else if (row.parent == NoRow || row.parent < from) {
      break;
    }
  }
  return step;
}

TreeVisibleSpine TreeRowStore::VisibleSpine(std::int64_t bound) const {
  const auto guard = Lock();
  TreeVisibleSpine spine;
  bound = std::min(bound, Size());
  if (bound <= 0) return spine;
  std::int64_t row = bound - 1;
  std::int64_t visible = 0;  // the last visible row's children all lie past the bound
  while (row != NoRow) {
    const Row& record = At(row);
    spine.entries.push_back({row, visible});
    visible = record.rowInParent + 1;
    row = record.parent;
  }
  spine.visibleRoots = visible;
  std::reverse(spine.entries.begin(), spine.entries.end());
  return spine;
}
