#include "tree_row_store.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr std::int64_t MaximumRows = std::numeric_limits<std::int32_t>::max();

// The store whose lock the calling thread holds through a Hold.
thread_local const TreeRowStore* heldStore = nullptr;

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

std::unique_lock<std::mutex> TreeRowStore::Lock() const {
  std::unique_lock guard(lock_, std::defer_lock);
  if (heldStore != this) guard.lock();
  return guard;
}

std::int64_t TreeRowStore::PreviousSiblingFor(std::int64_t level) const {
  if (size_ == 0) return NoRow;
  std::int64_t row = Size() - 1;
  if (level > At(row).depth) return NoRow;
  // The ancestor of the last row at depth level (the last row itself when equal).
  while (At(row).depth > level) {
    row = At(row).parent;
  }
  return row;
}

bool TreeRowStore::AddRow(const Row& row) {
  if (size_ == static_cast<std::int64_t>(rowChunks_.size()) * RowsPerChunk) {
    auto chunk = std::unique_ptr<Row[]>(new (std::nothrow) Row[RowsPerChunk]);
    if (!chunk) return false;
    try {
      rowChunks_.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  At(size_++) = row;
  return true;
}

std::int64_t TreeRowStore::AddText(std::u16string_view text) {
  try {
    if (textChunks_.empty() || textChunks_.back().size() + text.size() > TextUnitsPerChunk) {
      textChunks_.emplace_back();
      try {
        textChunks_.back().reserve(TextUnitsPerChunk);
      } catch (const std::bad_alloc&) {
        textChunks_.pop_back();
        return -1;
      }
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::u16string& chunk = textChunks_.back();
  const std::size_t offset = (textChunks_.size() - 1) * TextUnitsPerChunk + chunk.size();
  chunk.append(text);  // within the reserved capacity: never reallocates
  return static_cast<std::int64_t>(offset);
}

std::int64_t TreeRowStore::Append(std::u16string_view text, std::int64_t level) {
  const auto guard = Lock();
  if (size_ >= MaximumRows) return NoRow;
  level = std::max<std::int64_t>(level, 0);
  const std::int64_t id = size_;
  const std::int64_t previous = PreviousSiblingFor(level);
  Row row{};
  row.parent = NoRow;
  row.nextSibling = NoRow;
  if (previous == NoRow && id > 0) {
    row.parent = static_cast<std::int32_t>(id - 1);
    row.depth = At(id - 1).depth + 1;
  } else if (previous != NoRow) {
    row.parent = At(previous).parent;
    row.depth = At(previous).depth;
  }
  text = text.substr(0, std::min(text.size(), TreeTextLimit));
  const std::int64_t textOffset = AddText(text);
  if (textOffset < 0) return NoRow;
  const auto offset = static_cast<std::size_t>(textOffset);
  row.textChunk = static_cast<std::uint32_t>(offset / TextUnitsPerChunk);
  row.textStart = static_cast<std::uint32_t>(offset % TextUnitsPerChunk) & 0xFFFFF;
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
  if (row.parent != NoRow) ++At(row.parent).childCount;
  if (previous != NoRow) At(previous).nextSibling = static_cast<std::int32_t>(id);
  return id;
}

void TreeRowStore::Clear() {
  const auto guard = Lock();
  // Swapping with empty containers gives the memory of a big tree back at once.
  std::vector<std::unique_ptr<Row[]>>().swap(rowChunks_);
  std::vector<std::u16string>().swap(textChunks_);
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
  text.assign(textChunks_[record.textChunk], record.textStart, record.textLength);
}

bool TreeRowStore::AppendAllTexts(std::u16string& text, std::u16string_view terminator) const {
  const auto guard = Lock();
  std::size_t units = 0;
  for (const std::u16string& chunk : textChunks_) units += chunk.size();
  const std::size_t kept = text.size();
  try {
    text.resize(kept + units + static_cast<std::size_t>(size_) * terminator.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Every stored text belongs to a row, so the units of all chunks are enough room.
  char16_t* out = text.data() + kept;
  for (std::int64_t row = 0; row < size_; ++row) {
    const Row& record = At(row);
    const char16_t* from = textChunks_[record.textChunk].data() + record.textStart;
    out = std::copy_n(from, record.textLength, out);
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
