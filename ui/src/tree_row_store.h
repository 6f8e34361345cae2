// The rows of a tree gadget, kept apart from any view: eight bytes per row and its text, four
// more once rows go deeper than one level, and sixteen for each row that has children, so
// that millions of rows cost little more than their texts. A pooled text (see
// runtime/text_pool.h) is not copied: the row points into it and the store pins its
// block. Rows are only ever appended (or all cleared), which keeps the tree in pre-order: a row's
// subtree is the contiguous run of ids after it, and only the rows on the path from the root to the
// last row (the "spine") can still gain children.
//
// All members lock the store; any thread may append and read.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text_pool.h"

// Texts are read back through a buffer of 4096 units, so nothing past this is ever seen.
inline constexpr std::size_t TreeTextLimit = 4095;

inline constexpr std::int64_t NoRow = -1;

// Rows go no deeper than this: a deeper level places a row at this depth.
inline constexpr std::int64_t TreeDepthLimit = 4095;

struct TreeRowLinks {
  std::int64_t parent = NoRow;  // NoRow for a root row
  std::int64_t rowInParent = 0;
  std::int64_t childCount = 0;
  std::int64_t depth = 0;
};

// One step of showing appended rows to a view: the rows [first, bound) add the children
// firstChild to lastChild to parent (NoRow: roots); the other rows of the step are
// descendants of those children.
struct TreePublishStep {
  std::int64_t parent = NoRow;
  std::int64_t firstChild = 0;
  std::int64_t lastChild = -1;
  std::int64_t bound = 0;
};

// How many children of each spine row a view knows when it knows rows [0, bound).
struct TreeSpineEntry {
  std::int64_t row = NoRow;
  std::int64_t visibleChildren = 0;
};
struct TreeVisibleSpine {
  std::int64_t visibleRoots = 0;
  std::vector<TreeSpineEntry> entries;  // root first
};

class TreeRowStore {
 public:
  // Keeps the store locked for the calling thread while it lives; the thread's own calls
  // meanwhile skip locking. A view holds it across one layout pass, which makes millions
  // of calls that would otherwise each contend with an appending worker; a worker holds it
  // across a batch of appends.
  class Hold {
   public:
    explicit Hold(const TreeRowStore& store);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    const TreeRowStore& store_;
    const TreeRowStore* previous_;
    bool locked_;
  };

  // Appends a row placed by level against the last row (see PlaceByLevel); its id.
  std::int64_t Append(std::u16string_view text, std::int64_t level);
  void Clear();

  TreeRowStore() = default;
  ~TreeRowStore();
  TreeRowStore(const TreeRowStore&) = delete;
  TreeRowStore& operator=(const TreeRowStore&) = delete;

  std::int64_t Count() const;
  // The row's text (at most TreeTextLimit units); empty for an id out of range.
  std::u16string Text(std::int64_t row) const;
  // The same into text, whose capacity is reused.
  void CopyText(std::int64_t row, std::u16string& text) const;
  // Appends every row's text, each followed by terminator, in row order and under one lock:
  // reading millions of rows one call each would pay the lock and a copy per row. False
  // when memory ran out (text is then left as it was).
  bool AppendAllTexts(std::u16string& text, std::u16string_view terminator) const;
  // Links of a row; a default value for an id out of range.
  TreeRowLinks Links(std::int64_t row) const;
  // The id of the index-th root / of the index-th child of parent, or NoRow.
  std::int64_t RootAt(std::int64_t index) const;
  std::int64_t ChildAt(std::int64_t parent, std::int64_t index) const;

  // The next step towards showing rows [from, limit), from < limit <= Count().
  TreePublishStep NextPublishStep(std::int64_t from, std::int64_t limit) const;
  TreeVisibleSpine VisibleSpine(std::int64_t bound) const;

 private:
  // A row keeps only what can't be worked out from the rows before it: where its text
  // lies, its depth, and its link: its place among the roots (a root) or its parent (any
  // other row), a 32-bit id, which still leaves room for two billion rows. Links live apart
  // from the rows, and only from the first row deeper than 1 on: before it a row's parent
  // is the last row with children before it, and a root's place is its id less the rows
  // below the roots before it (see Family). Child counts and subtree sizes live apart too,
  // for the rows that have children.
  struct Row {
    // Where the text lies and how deep the row is, in eight bytes (a text never spans two
    // sources): every byte of a row is a megabyte per million rows.
    std::uint32_t textSource : 19;
    std::uint32_t hasChildren : 1;
    std::uint32_t depth : 12;
    std::uint32_t textStart : 20;
    std::uint32_t textLength : 12;
  };
  static_assert(sizeof(Row) == 8);
  static constexpr std::int64_t MaximumTextSources = std::int64_t{1} << 19;

  // A row with children: how many, and how many rows its subtree holds below it. Where the
  // two are equal the children are leaves that follow it directly, and a child's place
  // among them is its distance from the parent: the common case is answered without a walk.
  // Before the first row deeper than 1, rowsBelowBefore counts the rows below the roots
  // before this one.
  struct Family {
    std::int32_t row;
    std::int32_t children;
    std::int32_t descendants;
    std::int32_t rowsBelowBefore;
  };

  // Rows and texts live in chunks of fixed size: growing never copies what is stored,
  // which for millions of rows would stall every reader for the copy.
  static constexpr std::int64_t RowsPerChunk = 1 << 16;
  static constexpr std::size_t TextUnitsPerChunk = std::size_t{1} << 20;
  static_assert(TextUnitsPerChunk <= std::size_t{1} << 20 && PooledBlockUnits <= 1 << 20 &&
                    TreeTextLimit < 1 << 12 && TreeDepthLimit < 1 << 12,
                "a row's text start, text length and depth must fit their bit fields");

  std::int64_t ChildAtLocked(std::int64_t parent, std::int64_t index) const;
  std::int64_t RootAtLocked(std::int64_t index) const;
  std::int64_t Size() const { return size_; }
  bool Valid(std::int64_t row) const { return row >= 0 && row < size_; }
  // Unsigned, so that the chunk and the place in it are a shift and a mask: a row id here
  // is never negative, and this runs several times for each row appended.
  Row& At(std::int64_t row) const {
    const auto index = static_cast<std::size_t>(row);
    constexpr auto perChunk = static_cast<std::size_t>(RowsPerChunk);
    return rowChunks_[index / perChunk][index % perChunk];
  }
  std::int64_t LinkOf(std::int64_t row) const {
    if (row < firstLinked_) return families_.empty() ? row : WorkedOutLinkOf(row);
    const auto index = static_cast<std::size_t>(row);
    constexpr auto perChunk = static_cast<std::size_t>(RowsPerChunk);
    return linkChunks_[index / perChunk][index % perChunk];
  }
  std::int64_t WorkedOutLinkOf(std::int64_t row) const;
  // The index of the last family of a row before row, or -1.
  std::int64_t LastFamilyBefore(std::int64_t row) const;
  // Room for the link of row id, which is about to be added; false when memory ran out.
  bool RoomForLink(std::int64_t id);
  std::int64_t ParentOf(std::int64_t row) const { return At(row).depth == 0 ? NoRow : LinkOf(row); }
  // The family of a row with children (rows with families are kept in id order).
  const Family& FamilyOf(std::int64_t row) const;
  std::int64_t DescendantsOf(std::int64_t row) const {
    return At(row).hasChildren ? FamilyOf(row).descendants : 0;
  }
  std::int64_t NextSiblingOf(std::int64_t row) const;
  std::int64_t RowInParentOf(std::int64_t row) const;
  // The place among the roots of the root above row (row itself for a root).
  std::int64_t TopRootPlaceOf(std::int64_t row) const;
  bool AddRow(const Row& row);
  bool AddChunk();  // room for RowsPerChunk more rows
  // Where a row's text lies: a text source (a chunk of the store's own or a pinned block)
  // and the offset in it. Source -1 when memory ran out.
  struct TextPlace {
    std::int64_t source = -1;
    std::int64_t start = 0;
  };
  TextPlace AddText(std::u16string_view text);
  TextPlace BorrowText(std::u16string_view text);
  TextPlace KeepOwnCopy(std::u16string_view text);
  const char16_t* TextOf(const Row& row) const {
    return textSources_[row.textSource] + row.textStart;
  }
  bool RoomForTextSource();
  void ReleaseTexts();

  std::unique_lock<std::mutex> Lock() const;

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<Row[]>> rowChunks_;
  std::int64_t size_ = 0;
  // Chunks beside the rows' from the chunk of firstLinked_ on (null before it).
  std::vector<std::unique_ptr<std::int32_t[]>> linkChunks_;
  std::int64_t firstLinked_ = std::numeric_limits<std::int64_t>::max();
  // Row.textSource indexes textSources_: the start of one of ownTexts_ or of a pinned block.
  std::vector<const char16_t*> textSources_;
  std::vector<std::u16string> ownTexts_;
  std::vector<const char16_t*> pinnedBlocks_;
  std::int64_t ownSource_ = -1;     // the source of ownTexts_.back()
  std::int64_t pinnedSource_ = -1;  // the source of pinnedBlocks_.back()
  std::size_t textUnits_ = 0;       // of all rows' texts
  // The families, in row order; a deque, so that growing never copies them.
  std::deque<Family> families_;
  std::int64_t roots_ = 0;
  // The rows on the path from a root to the last row, by depth: the only rows that can
  // still gain children, and the ancestors of whatever row comes next.
  struct SpineRow {
    std::int32_t row;
    std::int64_t family;  // its index in families_, or -1 while it has no children
  };
  std::vector<SpineRow> spine_;
  // Walks over siblings are linear, so remember where the last one ended: views read
  // children in order. Roots (parent NoRow) have a walk of their own.
  mutable std::int64_t walkParent_ = NoRow;
  mutable std::int64_t walkIndex_ = 0;
  mutable std::int64_t walkRow_ = NoRow;
  mutable std::int64_t rootWalkIndex_ = 0;
  mutable std::int64_t rootWalkRow_ = NoRow;
  mutable std::size_t familyHint_ = 0;  // where FamilyOf found the last family
};
