#include "tree_row_store.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

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

const TreeRowStore::Family& TreeRowStore::FamilyOf(std::int64_t row) const {
  // A view lays out rows in order, asking for one family after the other: the one found
  // last, or the next, before a search.
  for (std::size_t at = familyHint_; at < familyHint_ + 2 && at < families_.size(); ++at) {
    if (families_[at].row == row) {
      familyHint_ = at;
      return families_[at];
    }
  }
  const auto found =
      std::lower_bound(families_.begin(), families_.end(), row,
                       [](const Family& family, std::int64_t id) { return family.row < id; });
  familyHint_ = static_cast<std::size_t>(found - families_.begin());
  return *found;
}

std::int64_t TreeRowStore::LastFamilyBefore(std::int64_t row) const {
  const auto before = [&](std::size_t at) {
    return families_[at].row < row && (at + 1 == families_.size() || families_[at + 1].row >= row);
  };
  for (std::size_t at = familyHint_; at < familyHint_ + 2 && at < families_.size(); ++at) {
    if (before(at)) {
      familyHint_ = at;
      return static_cast<std::int64_t>(at);
    }
  }
  const auto after =
      std::lower_bound(families_.begin(), families_.end(), row,
                       [](const Family& family, std::int64_t id) { return family.row < id; });
  const std::int64_t at = (after - families_.begin()) - 1;
  if (at >= 0) familyHint_ = static_cast<std::size_t>(at);
  return at;
}

// While no entry is deeper than 1, the rows after a root up to the next root are its
// children, and an entry below a root is one of a family's.
std::int64_t TreeRowStore::WorkedOutLinkOf(std::int64_t entry, std::int64_t row) const {
  const std::int64_t at = LastFamilyBefore(row);
  if (at < 0) return entry;  // a root with only roots before it
  const Family& family = families_[static_cast<std::size_t>(at)];
  if (Entry(entry).depth > 0) return family.row;
  return entry - family.entriesBelow;
}

void TreeRowStore::SetRunHint(std::size_t run) const {
  const Run& first = runs_[run];
  const bool last = run + 1 == runs_.size();
  const std::int64_t rowEnd = last ? tailRow_ : runs_[run + 1].firstRow;
  const std::int64_t entryEnd = last ? entries_ - 1 : runs_[run + 1].firstEntry;
  runHint_ = {run,      first.firstRow,
              rowEnd,   first.firstEntry,
              entryEnd, (rowEnd - first.firstRow) / (entryEnd - first.firstEntry)};
}

void TreeRowStore::FindRunOfRow(std::int64_t row) const {
  // In order, the next run comes after the one found last.
  const std::size_t next = runHint_.run + 1;
  if (next < runs_.size() && runs_[next].firstRow <= row &&
      (next + 1 == runs_.size() || row < runs_[next + 1].firstRow)) {
    SetRunHint(next);
    return;
  }
  const auto after =
      std::upper_bound(runs_.begin(), runs_.end(), row,
                       [](std::int64_t id, const Run& run) { return id < run.firstRow; });
  SetRunHint(static_cast<std::size_t>(after - runs_.begin()) - 1);
}

std::int64_t TreeRowStore::RowOfEntry(std::int64_t entry) const {
  if (entry < plainRows_) return entry;
  if (entry == entries_ - 1) return tailRow_;
  if (entry < runHint_.firstEntry || entry >= runHint_.entryEnd) {
    const auto after =
        std::upper_bound(runs_.begin(), runs_.end(), entry,
                         [](std::int64_t index, const Run& run) { return index < run.firstEntry; });
    SetRunHint(static_cast<std::size_t>(after - runs_.begin()) - 1);
  }
  return runHint_.firstRow + (entry - runHint_.firstEntry) * runHint_.stride;
}

const char16_t* TreeRowStore::LeafText(std::int64_t entry, std::int64_t leaf,
                                       std::size_t& length) const {
  const char16_t* text = nullptr;
  std::int64_t at = 1;
  if (leafHintEntry_ == entry && leafHintLeaf_ <= leaf) {
    text = leafHintText_;
    at = leafHintLeaf_;
  } else {
    const Row& row = Entry(entry);
    text = TextOf(row) + row.textLength + 1;
  }
  for (; at < leaf; ++at) text += std::char_traits<char16_t>::length(text) + 1;
  leafHintEntry_ = entry;
  leafHintLeaf_ = leaf;
  leafHintText_ = text;
  length = std::char_traits<char16_t>::length(text);
  return text;
}

// The row after a row's subtree is its next sibling, unless it belongs higher up.
std::int64_t TreeRowStore::NextSiblingOf(std::int64_t row) const {
  const std::int64_t next = row + 1 + DescendantsOf(row);
  return next < size_ && ParentOf(next) == ParentOf(row) ? next : NoRow;
}

std::int64_t TreeRowStore::RowInParentOf(std::int64_t row) const {
  const Located located = Locate(row);
  // Implicit leaves are the first children of their entry.
  if (located.leaf > 0) return located.leaf - 1;
  const std::int64_t link = LinkOf(located.entry, row);
  return Entry(located.entry).depth == 0 ? link : EntryInParentOf(row, link);
}

std::int64_t TreeRowStore::EntryInParentOf(std::int64_t row, std::int64_t parent) const {
  const Family& family = FamilyOf(parent);
  if (family.children == family.descendants) return row - parent - 1;
  // Some children have children of their own: count the siblings before, from where the
  // last walk over this parent's children ended when that lies before the row.
  std::int64_t at = parent + 1;
  std::int64_t index = 0;
  if (walkParent_ == parent && walkRow_ != NoRow && walkRow_ <= row) {
    at = walkRow_;
    index = walkIndex_;
  }
  for (; at != NoRow && at < row; ++index) at = NextSiblingOf(at);
  walkParent_ = parent;
  walkIndex_ = index;
  walkRow_ = at;
  return index;
}

std::int64_t TreeRowStore::TopRootPlaceOf(std::int64_t row) const {
  for (;;) {
    const Located at = Locate(row);
    if (at.leaf > 0) {
      row -= at.leaf;
      continue;
    }
    const std::int64_t link = LinkOf(at.entry, row);
    if (Entry(at.entry).depth == 0) return link;
    row = link;
  }
}

bool TreeRowStore::RoomForLink(std::int64_t entry) {
  const auto chunk = static_cast<std::size_t>(entry / RowsPerChunk);
  try {
    if (linkChunks_.size() <= chunk) linkChunks_.resize(chunk + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (linkChunks_[chunk]) return true;
  linkChunks_[chunk].reset(new (std::nothrow) std::int32_t[RowsPerChunk]);
  return linkChunks_[chunk] != nullptr;
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

void TreeRowStore::StartRun(std::int64_t leaves) {
  runs_.push_back({static_cast<std::int32_t>(tailRow_), static_cast<std::int32_t>(entries_ - 1)});
  lastRunStride_ = leaves + 1;
}

inline bool TreeRowStore::RoomForEntries(std::int64_t count) {
  while (entries_ + count > static_cast<std::int64_t>(rowChunks_.size()) * RowsPerChunk) {
    if (!AddChunk()) return false;
  }
  return true;
}

inline bool TreeRowStore::RoomForRuns(std::size_t count) {
  if (runs_.size() + count <= runs_.capacity()) return true;
  try {
    runs_.reserve(std::max<std::size_t>(16, 2 * runs_.size() + count));
  } catch (const std::bad_alloc&) {
    return false;
  }
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
  return {pinnedSource_, static_cast<std::int64_t>((at - block) / sizeof(char16_t)), true};
}

// Pooled texts end in a terminator and never change, so a leaf's text needs no place or
// length of its own when it starts after the last row's terminator and ends at its own. Own
// copies lie back to back without terminators and never qualify.
inline bool TreeRowStore::FollowsLastText(const TextPlace& place, std::u16string_view text) const {
  return place.borrowed && place.source == lastText_.source &&
         place.start == lastText_.start + lastTextLength_ + 1 && text.data()[text.size()] == 0 &&
         text.find(u'\0') == std::u16string_view::npos;
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
  // Placed against the last row: a level deeper than the last row's makes a child of it,
  // any other the next sibling of the last row's ancestor at that depth.
  const auto depth = std::min(level, static_cast<std::int64_t>(spine_.size()));
  const std::int64_t parent = depth == 0 ? NoRow : spine_[static_cast<std::size_t>(depth - 1)].row;
  text = text.substr(0, std::min(text.size(), TreeTextLimit));
  const TextPlace place = AddText(text);
  if (place.source < 0) return NoRow;
  const auto length = static_cast<std::int64_t>(text.size());
  // Roots, nearly every row of a result without groups, skip all questions about parents.
  if (depth == 0) {
    if (!RoomForEntries(1) || !RoomForRuns(1)) return NoRow;
    if (entries_ >= firstLinked_ && !RoomForLink(entries_)) return NoRow;
    if (spine_.capacity() == 0) {
      try {
        spine_.reserve(1);
      } catch (const std::bad_alloc&) {
        return NoRow;
      }
    }
    SealTail(tailLeaves_);
    AddEntry(MakeRow(place, length, 0), id, roots_++);
    if (plainRows_ == id) plainRows_ = id + 1;
    spine_.clear();
    spine_.push_back({static_cast<std::int32_t>(id), -1});  // within the room reserved
    CountAppended(place, length);
    return id;
  }
  // The last row is an implicit leaf about to gain a child: it becomes an entry first.
  const bool promote = depth == static_cast<std::int64_t>(spine_.size()) && tailLeaves_ > 0;
  // Then the parent is the tail, whose leaves the row may join.
  const std::int64_t parentLeaves = promote ? 0 : tailLeaves_;
  const bool implicit = (promote || parent == tailRow_) && parentLeaves < MaximumLeaves &&
                        FollowsLastText(place, text);
  // A parent without a family is the tail (any other row on the spine has entries below
  // it), and gains one with its first child that is an entry.
  const bool newFamily = !implicit && spine_[static_cast<std::size_t>(depth - 1)].family < 0;
  const std::int64_t promoted = entries_;  // the promoted leaf's entry, if any
  const std::int64_t entry = entries_ + (promote ? 1 : 0);
  std::int64_t firstLinked = firstLinked_;  // the first entry deeper than 1 keeps its link on
  if (promote && depth - 1 > 1) firstLinked = std::min(firstLinked, promoted);
  if (!implicit && depth > 1) firstLinked = std::min(firstLinked, entry);
  // Out of memory leaves no half-added row: all that can fail comes before any change (a
  // stored text, a chunk or room nobody refers to yet is harmless).
  if (spine_.capacity() <= static_cast<std::size_t>(depth)) {
    try {
      spine_.reserve(static_cast<std::size_t>(depth) + 1);
    } catch (const std::bad_alloc&) {
      return NoRow;
    }
  }
  const std::int64_t added = (promote ? 1 : 0) + (implicit ? 0 : 1);
  if (!RoomForEntries(added) || !RoomForRuns(2)) return NoRow;
  if (promote && promoted >= firstLinked && !RoomForLink(promoted)) return NoRow;
  if (!implicit && entry >= firstLinked && !RoomForLink(entry)) return NoRow;
  // Families last, as they are the only thing to take back.
  const std::size_t familiesBefore = promote || newFamily ? families_.size() : 0;
  if (promote || newFamily) {
    try {
      // The entries below the roots are counted while no entry is deeper than 1 (a promoted
      // leaf of depth 1 is one of them).
      std::int32_t below = families_.empty() ? 0 : families_.back().entriesBelow;
      if (promote) {
        // The tail's leaves, the promoted one included, are its children so far.
        below += depth - 1 == 1 && promoted < firstLinked ? 1 : 0;
        const auto leaves = static_cast<std::int32_t>(tailLeaves_);
        families_.push_back({static_cast<std::int32_t>(tailRow_), leaves, leaves, below});
      }
      if (newFamily) {
        const auto leaves = static_cast<std::int32_t>(parentLeaves);
        families_.push_back({static_cast<std::int32_t>(parent), leaves, leaves, below});
      }
    } catch (const std::bad_alloc&) {
      families_.resize(familiesBefore);
      return NoRow;
    }
  }
  // The rest cannot fail.
  firstLinked_ = firstLinked;
  std::size_t family = familiesBefore;
  if (promote) {
    spine_[static_cast<std::size_t>(depth - 2)].family = static_cast<std::int64_t>(family++);
    Row& tail = Entry(entries_ - 1);
    tail.hasFamily = 1;
    const Row row = MakeRow(lastText_, lastTextLength_, tail.depth + 1);
    SealTail(tailLeaves_ - 1);
    AddEntry(row, id - 1, tailRow_);
  }
  if (newFamily) {
    spine_[static_cast<std::size_t>(depth - 1)].family = static_cast<std::int64_t>(family);
    Entry(entries_ - 1).hasFamily = 1;  // the parent is the tail
  }
  if (implicit) {
    ++tailLeaves_;
    plainRows_ = std::min(plainRows_, tailRow_);  // the parent has leaves now
  } else {
    if (plainRows_ == id) plainRows_ = id + 1;
    if (depth == 1 && entries_ < firstLinked_) ++families_.back().entriesBelow;
    SealTail(tailLeaves_);
    AddEntry(MakeRow(place, length, depth), id, parent);
  }
  spine_.resize(static_cast<std::size_t>(depth));
  // Every ancestor has a family, but an implicit leaf's parent.
  for (const SpineRow& ancestor : spine_) {
    if (ancestor.family >= 0) ++families_[static_cast<std::size_t>(ancestor.family)].descendants;
  }
  if (!implicit) ++families_[static_cast<std::size_t>(spine_.back().family)].children;
  spine_.push_back({static_cast<std::int32_t>(id), -1});  // within the room reserved
  CountAppended(place, length);
  return id;
}

void TreeRowStore::Clear() {
  const auto guard = Lock();
  // Swapping with empty containers gives the memory of a big tree back at once.
  std::vector<std::unique_ptr<Row[]>>().swap(rowChunks_);
  std::vector<std::unique_ptr<std::int32_t[]>>().swap(linkChunks_);
  std::vector<Run>().swap(runs_);
  firstLinked_ = std::numeric_limits<std::int64_t>::max();
  ReleaseTexts();
  std::deque<Family>().swap(families_);
  std::vector<SpineRow>().swap(spine_);
  roots_ = 0;
  size_ = 0;
  entries_ = 0;
  lastRunStride_ = 0;
  tailRow_ = 0;
  tailLeaves_ = 0;
  plainRows_ = 0;
  lastText_ = {};
  lastTextLength_ = 0;
  walkParent_ = NoRow;
  walkRow_ = NoRow;
  walkIndex_ = 0;
  rootWalkIndex_ = 0;
  rootWalkRow_ = NoRow;
  familyHint_ = 0;
  runHint_ = {};
  leafHintEntry_ = -1;
  leafHintText_ = nullptr;
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
  const Located at = Locate(row);
  std::size_t length = 0;
  const char16_t* from = nullptr;
  if (at.leaf > 0) {
    from = LeafText(at.entry, at.leaf, length);
  } else {
    const Row& record = Entry(at.entry);
    from = TextOf(record);
    length = record.textLength;
  }
  text.assign(from, length);
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
  // Entry by entry, each followed by its leaves, whose texts follow its text.
  std::size_t run = 0;
  std::int64_t runEnd = 0;  // the entries of runs_[run - 1] end here
  std::int64_t leaves = 0;
  for (std::int64_t entry = 0; entry < entries_; ++entry) {
    if (entry == runEnd) {
      if (run < runs_.size()) {
        SetRunHint(run++);
        runEnd = runHint_.entryEnd;
        leaves = runHint_.stride - 1;
      } else {
        leaves = tailLeaves_;
      }
    }
    const Row& record = Entry(entry);
    const char16_t* from = TextOf(record);
    out = std::copy_n(from, record.textLength, out);
    out = std::copy(terminator.begin(), terminator.end(), out);
    from += record.textLength + 1;
    // Leaf texts are short: copying up to the terminator in one pass beats measuring each
    // and then copying it.
    for (std::int64_t leaf = 0; leaf < leaves; ++leaf) {
      for (char16_t unit = *from++; unit != 0; unit = *from++) *out++ = unit;
      out = std::copy(terminator.begin(), terminator.end(), out);
    }
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
  return true;
}

TreeRowLinks TreeRowStore::Links(std::int64_t row) const {
  const auto guard = Lock();
  if (!Valid(row)) return {};
  const Located at = Locate(row);
  const Row& record = Entry(at.entry);
  if (at.leaf > 0) return {row - at.leaf, at.leaf - 1, 0, record.depth + 1};
  const std::int64_t link = LinkOf(at.entry, row);
  const std::int64_t children = record.hasFamily ? FamilyOf(row).children : at.leaves;
  if (record.depth == 0) return {NoRow, link, children, 0};
  return {link, EntryInParentOf(row, link), children, record.depth};
}

std::int64_t TreeRowStore::RootAt(std::int64_t index) const {
  const auto guard = Lock();
  return RootAtLocked(index);
}

// Roots are read in order nearly always: each is found from the one read before. A far
// jump searches the rows, whose roots' places only grow with their ids.
std::int64_t TreeRowStore::RootAtLocked(std::int64_t index) const {
  if (index < 0 || index >= roots_) return NoRow;
  if (families_.empty()) return RowOfEntry(index);  // every entry is a root
  std::int64_t row = NoRow;
  constexpr std::int64_t LongestWalk = 64;
  if (rootWalkRow_ != NoRow && index >= rootWalkIndex_ && index - rootWalkIndex_ <= LongestWalk) {
    row = rootWalkRow_;
    for (std::int64_t at = rootWalkIndex_; at < index; ++at) row = NextSiblingOf(row);
  } else {
    std::int64_t low = index;  // a root's place is never past its id
    std::int64_t high = size_ - 1;
    while (low < high) {
      const std::int64_t middle = low + (high - low) / 2;
      if (TopRootPlaceOf(middle) < index) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    row = low;
  }
  rootWalkIndex_ = index;
  rootWalkRow_ = row;
  return row;
}

std::int64_t TreeRowStore::ChildAt(std::int64_t parent, std::int64_t index) const {
  const auto guard = Lock();
  return ChildAtLocked(parent, index);
}

std::int64_t TreeRowStore::ChildAtLocked(std::int64_t parent, std::int64_t index) const {
  if (!Valid(parent) || index < 0) return NoRow;
  const Located located = Locate(parent);
  if (located.leaf > 0) return NoRow;
  if (!Entry(located.entry).hasFamily) {
    return index < located.leaves ? parent + 1 + index : NoRow;
  }
  const Family& family = FamilyOf(parent);
  if (index >= family.children) return NoRow;
  // In pre-order a row's first child directly follows it, and leaf children follow each
  // other.
  if (family.children == family.descendants) return parent + 1 + index;
  std::int64_t row = parent + 1;
  std::int64_t at = 0;
  if (walkParent_ == parent && walkIndex_ <= index && walkRow_ != NoRow) {
    row = walkRow_;
    at = walkIndex_;
  }
  for (; at < index && row != NoRow; ++at) row = NextSiblingOf(row);
  walkParent_ = parent;
  walkIndex_ = index;
  walkRow_ = row;
  return row;
}

TreePublishStep TreeRowStore::NextPublishStep(std::int64_t from, std::int64_t limit) const {
  const auto guard = Lock();
  limit = std::min(limit, Size());
  if (from < 0 || from >= limit) return {NoRow, 0, -1, std::max<std::int64_t>(from, 0)};
  const std::int64_t firstChild = RowInParentOf(from);
  TreePublishStep step{ParentOf(from), firstChild, firstChild, from + 1};
  // Rows keep belonging to this step while they are further children of the same parent
  // (each the next one: its place is one more) or descendants of rows of this step; the
  // first row that attaches higher up starts the next.
  for (; step.bound < limit; ++step.bound) {
    const std::int64_t parent = ParentOf(step.bound);
    if (parent == step.parent) {
      ++step.lastChild;
    } else if (parent == NoRow || parent < from) {
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
    spine.entries.push_back({row, visible});
    visible = RowInParentOf(row) + 1;
    row = ParentOf(row);
  }
  spine.visibleRoots = visible;
  std::reverse(spine.entries.begin(), spine.entries.end());
  return spine;
}
