#include "tree_row_store.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr std::int64_t MaximumRows = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::int64_t TreeRowStore::PreviousSiblingFor(std::int64_t level) const {
  if (rows_.empty()) return NoRow;
  std::int64_t row = Size() - 1;
  if (level > rows_[static_cast<std::size_t>(row)].depth) return NoRow;
  // The ancestor of the last row at depth level (the last row itself when equal).
  while (rows_[static_cast<std::size_t>(row)].depth > level) {
    row = rows_[static_cast<std::size_t>(row)].parent;
  }
  return row;
}

std::int64_t TreeRowStore::Append(std::u16string_view text, std::int64_t level) {
  std::lock_guard guard(lock_);
  if (Size() >= MaximumRows) return NoRow;
  level = std::max<std::int64_t>(level, 0);
  const std::int64_t id = Size();
  const std::int64_t previous = PreviousSiblingFor(level);
  Row row{};
  if (previous == NoRow && id > 0) {
    row.parent = static_cast<std::int32_t>(id - 1);
    row.depth = rows_.back().depth + 1;
  } else if (previous != NoRow) {
    row.parent = rows_[static_cast<std::size_t>(previous)].parent;
    row.depth = rows_[static_cast<std::size_t>(previous)].depth;
  } else {
    row.parent = NoRow;
  }
  row.nextSibling = NoRow;
  text = text.substr(0, std::min(text.size(), TreeTextLimit));
  row.textOffset = textPool_.size();
  row.textLength = static_cast<std::uint32_t>(text.size());
  try {
    textPool_.append(text);
    rows_.push_back(row);
    if (row.parent == NoRow) roots_.push_back(static_cast<std::int32_t>(id));
  } catch (const std::bad_alloc&) {
    // Nothing half-added: drop whatever part of the row made it in.
    textPool_.resize(row.textOffset);
    if (Size() > id) rows_.pop_back();
    return NoRow;
  }
  Row& added = rows_.back();
  if (added.parent == NoRow) {
    added.rowInParent = static_cast<std::int32_t>(roots_.size() - 1);
  } else {
    Row& parent = rows_[static_cast<std::size_t>(added.parent)];
    added.rowInParent = parent.childCount++;
  }
  if (previous != NoRow) rows_[static_cast<std::size_t>(previous)].nextSibling =
      static_cast<std::int32_t>(id);
  return id;
}

void TreeRowStore::Clear() {
  std::lock_guard guard(lock_);
  // Swapping with empty containers gives the memory of a big tree back at once.
  std::u16string().swap(textPool_);
  std::vector<Row>().swap(rows_);
  std::vector<std::int32_t>().swap(roots_);
  walkParent_ = NoRow;
  walkRow_ = NoRow;
  walkIndex_ = 0;
}

std::int64_t TreeRowStore::Count() const {
  std::lock_guard guard(lock_);
  return Size();
}

std::u16string TreeRowStore::Text(std::int64_t row) const {
  std::lock_guard guard(lock_);
  if (!Valid(row)) return {};
  const Row& record = rows_[static_cast<std::size_t>(row)];
  return textPool_.substr(record.textOffset, record.textLength);
}

TreeRowLinks TreeRowStore::Links(std::int64_t row) const {
  std::lock_guard guard(lock_);
  if (!Valid(row)) return {};
  const Row& record = rows_[static_cast<std::size_t>(row)];
  return {record.parent, record.rowInParent, record.childCount, record.depth};
}

std::int64_t TreeRowStore::RootAt(std::int64_t index) const {
  std::lock_guard guard(lock_);
  if (index < 0 || index >= static_cast<std::int64_t>(roots_.size())) return NoRow;
  return roots_[static_cast<std::size_t>(index)];
}

std::int64_t TreeRowStore::ChildAt(std::int64_t parent, std::int64_t index) const {
  std::lock_guard guard(lock_);
  return ChildAtLocked(parent, index);
}

std::int64_t TreeRowStore::ChildAtLocked(std::int64_t parent, std::int64_t index) const {
  if (!Valid(parent) || index < 0) return NoRow;
  if (index >= rows_[static_cast<std::size_t>(parent)].childCount) return NoRow;
  // In pre-order a row's first child directly follows it.
  std::int64_t row = parent + 1;
  std::int64_t at = 0;
  if (walkParent_ == parent && walkIndex_ <= index && walkRow_ != NoRow) {
    row = walkRow_;
    at = walkIndex_;
  }
  for (; at < index; ++at) row = rows_[static_cast<std::size_t>(row)].nextSibling;
  walkParent_ = parent;
  walkIndex_ = index;
  walkRow_ = row;
  return row;
}

TreePublishStep TreeRowStore::NextPublishStep(std::int64_t from, std::int64_t limit) const {
  std::lock_guard guard(lock_);
  limit = std::min(limit, Size());
  if (from < 0 || from >= limit) return {NoRow, 0, -1, std::max<std::int64_t>(from, 0)};
  const Row& first = rows_[static_cast<std::size_t>(from)];
  TreePublishStep step{first.parent, first.rowInParent, first.rowInParent, from + 1};
  // Rows keep belonging to this step while they are further children of the same parent or
  // descendants of rows of this step; the first row that attaches higher up starts the next.
  for (; step.bound < limit; ++step.bound) {
    const Row& row = rows_[static_cast<std::size_t>(step.bound)];
    if (row.parent == step.parent) {
      step.lastChild = row.rowInParent;
    } else if (row.parent == NoRow || row.parent < from) {
      break;
    }
  }
  return step;
}

TreeVisibleSpine TreeRowStore::VisibleSpine(std::int64_t bound) const {
  std::lock_guard guard(lock_);
  TreeVisibleSpine spine;
  bound = std::min(bound, Size());
  if (bound <= 0) return spine;
  std::int64_t row = bound - 1;
  std::int64_t visible = 0;  // the last visible row's children all lie past the bound
  while (row != NoRow) {
    const Row& record = rows_[static_cast<std::size_t>(row)];
    spine.entries.push_back({row, visible});
    visible = record.rowInParent + 1;
    row = record.parent;
  }
  spine.visibleRoots = visible;
  std::reverse(spine.entries.begin(), spine.entries.end());
  return spine;
}
