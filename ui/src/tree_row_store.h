// The rows of a tree gadget, kept apart from any view: eight bytes per row and its text, four
// more once rows go deeper than one level, and sixteen for each row with children of that
// kind, so that millions of rows cost little more than their texts. A leaf row whose pooled
// text directly follows the text of the row before it costs nothing at all (see Row): a match
// and its group rows cost eight bytes. A pooled text (see runtime/text_pool.h) is not copied:
// the row points into it and the store pins its block. Rows are only ever appended (or all
// cleared), which keeps the tree in pre-order: a row's subtree is the contiguous run of ids
// after it, and only the rows on the path from the root to the last row (the "spine") can
// still gain children.
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
  // Only "entries" are kept as rows: a leaf child whose pooled text starts one unit (the
  // terminator) after the text of the row before it, in the same pinned block, and holds no
  // U+0000 is an implicit leaf of the last entry before it. Its place is the next id and its
  // text is found by stepping over terminators from its entry's text, so it costs nothing:
  // a match with its group rows, decoded one after the other into the pool, is one entry.
  // An implicit leaf that gains a child becomes an entry first.
  //
  // An entry keeps what can't be worked out from the rows before it: where its text lies,
  // its depth, and its link: its place among the roots (a root) or its parent's id (any
  // other entry), a 32-bit id, which still leaves room for two billion rows. Links live apart
  // from the entries, and only from the first entry deeper than 1 on: before it an entry's
  // parent is the last row with a family before it, and a root's place is its entry index
  // less the entries below the roots before it (see Family).
  struct Row {
    // Where the text lies and how deep the entry is, in eight bytes (a text never spans two
    // sources): every byte of an entry is a megabyte per million matches.
    std::uint32_t textSource : 19;
    std::uint32_t hasFamily : 1;
    std::uint32_t depth : 12;
    std::uint32_t textStart : 20;
    std::uint32_t textLength : 12;
  };
  static_assert(sizeof(Row) == 8);
  static constexpr std::int64_t MaximumTextSources = std::int64_t{1} << 19;
  // An entry's implicit leaves are read by stepping over the texts before them: this bounds
  // the steps of reading one out of order.
  static constexpr std::int64_t MaximumLeaves = 255;

  // An entry with entries among its children (implicit leaves alone need none): how many
  // children, leaves included, and how many rows its subtree holds below it. Where the two are
  // equal the children are leaves that follow it directly, and a child's place among them is
  // its distance from the entry: the common case is answered without a walk. Before the
  // first entry deeper than 1, entriesBelow counts the entries below the roots up to and
  // including this one.
  struct Family {
    std::int32_t row;
    std::int32_t children;
    std::int32_t descendants;
    std::int32_t entriesBelow;
  };

  // Entries with the same number of implicit leaves in a row form a run: an entry's id is
  // then its run's first id plus a multiple of the run's stride (leaves + 1), and a row's
  // entry a division away. A run reaches to the next one's first entry; the last entry (the
  // "tail", whose leaves can still grow) is kept apart from the runs. Regular results (every
  // match with the same groups) are one run, however many rows they hold; the stride is the
  // rows a run covers over its entries.
  struct Run {
    std::int32_t firstRow;
    std::int32_t firstEntry;
  };
  // A row as an entry and its leaf: 0 for the entry itself, else the leaf-th implicit leaf.
  struct Located {
    std::int64_t entry;
    std::int64_t leaf;
    std::int64_t leaves;  // the entry's implicit leaves
  };

  // Entries and texts live in chunks of fixed size: growing never copies what is stored,
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
  // Unsigned, so that the chunk and the place in it are a shift and a mask: an entry index
  // here is never negative, and this runs several times for each row appended.
  Row& Entry(std::int64_t entry) const {
    const auto index = static_cast<std::size_t>(entry);
    constexpr auto perChunk = static_cast<std::size_t>(RowsPerChunk);
    return rowChunks_[index / perChunk][index % perChunk];
  }
  // Readers go through rows in order: the run found last answers nearly every call.
  Located Locate(std::int64_t row) const {
    if (row < plainRows_) return {row, 0, 0};
    if (row >= tailRow_) return {entries_ - 1, row - tailRow_, tailLeaves_};
    if (row < runHint_.firstRow || row >= runHint_.rowEnd) FindRunOfRow(row);
    const std::int64_t offset = row - runHint_.firstRow;
    if (runHint_.stride == 1) return {runHint_.firstEntry + offset, 0, 0};
    return {runHint_.firstEntry + offset / runHint_.stride, offset % runHint_.stride,
            runHint_.stride - 1};
  }
  void FindRunOfRow(std::int64_t row) const;
  void SetRunHint(std::size_t run) const;
  std::int64_t RowOfEntry(std::int64_t entry) const;
  std::int64_t LinkOf(std::int64_t entry, std::int64_t row) const {
    if (entry < firstLinked_) return families_.empty() ? entry : WorkedOutLinkOf(entry, row);
    const auto index = static_cast<std::size_t>(entry);
    constexpr auto perChunk = static_cast<std::size_t>(RowsPerChunk);
    return linkChunks_[index / perChunk][index % perChunk];
  }
  std::int64_t WorkedOutLinkOf(std::int64_t entry, std::int64_t row) const;
  // The index of the last family of a row before row, or -1.
  std::int64_t LastFamilyBefore(std::int64_t row) const;
  // Room for the link of entry, which is about to be added; false when memory ran out.
  bool RoomForLink(std::int64_t entry);
  std::int64_t ParentOf(std::int64_t row) const {
    const Located at = Locate(row);
    if (at.leaf > 0) return row - at.leaf;
    return Entry(at.entry).depth == 0 ? NoRow : LinkOf(at.entry, row);
  }
  // The family of an entry that has one (families are kept in id order).
  const Family& FamilyOf(std::int64_t row) const;
  std::int64_t DescendantsOf(std::int64_t row) const {
    const Located at = Locate(row);
    if (at.leaf > 0) return 0;
    return Entry(at.entry).hasFamily ? FamilyOf(row).descendants : at.leaves;
  }
  std::int64_t NextSiblingOf(std::int64_t row) const;
  std::int64_t RowInParentOf(std::int64_t row) const;
  // The same for an entry below parent.
  std::int64_t EntryInParentOf(std::int64_t row, std::int64_t parent) const;
  // The place among the roots of the root above row (row itself for a root).
  std::int64_t TopRootPlaceOf(std::int64_t row) const;
  bool RoomForEntries(std::int64_t count);
  bool AddChunk();  // room for RowsPerChunk more entries
  // The tail is complete with leaves implicit leaves: it joins the last run or starts one
  // (within the room RoomForRuns made).
  void SealTail(std::int64_t leaves) {
    if (entries_ > 0 && (runs_.empty() || lastRunStride_ != leaves + 1)) StartRun(leaves);
  }
  void StartRun(std::int64_t leaves);
  // Adds the next entry, the new tail, within the room made for it and its link.
  void AddEntry(const Row& row, std::int64_t id, std::int64_t link) {
    if (entries_ >= firstLinked_) {
      linkChunks_[static_cast<std::size_t>(entries_ / RowsPerChunk)][entries_ % RowsPerChunk] =
          static_cast<std::int32_t>(link);
    }
    Entry(entries_++) = row;
    tailRow_ = id;
    tailLeaves_ = 0;
  }
  bool RoomForRuns(std::size_t count);
  // Where a row's text lies: a text source (a chunk of the store's own or a pinned block)
  // and the offset in it. Source -1 when memory ran out.
  struct TextPlace {
    std::int64_t source = -1;
    std::int64_t start = 0;
    bool borrowed = false;
  };
  // The row just appended, whose text lies at place, counts.
  void CountAppended(const TextPlace& place, std::int64_t length) {
    lastText_ = place;
    lastTextLength_ = length;
    textUnits_ += static_cast<std::size_t>(length);
    ++size_;
  }
  TextPlace AddText(std::u16string_view text);
  TextPlace BorrowText(std::u16string_view text);
  TextPlace KeepOwnCopy(std::u16string_view text);
  // Whether text, placed at place, can be read back as the text after the last row's.
  bool FollowsLastText(const TextPlace& place, std::u16string_view text) const;
  const char16_t* TextOf(const Row& row) const {
    return textSources_[row.textSource] + row.textStart;
  }
  // The text of the leaf-th implicit leaf of entry, and its length.
  const char16_t* LeafText(std::int64_t entry, std::int64_t leaf, std::size_t& length) const;
  // In one expression: built field by field, the row is stored in parts and read back
  // whole, which stalls every append.
  static Row MakeRow(const TextPlace& place, std::int64_t length, std::int64_t depth) {
    return {.textSource = static_cast<std::uint32_t>(place.source) & 0x7FFFF,
            .hasFamily = 0,
            .depth = static_cast<std::uint32_t>(depth) & 0xFFF,
            .textStart = static_cast<std::uint32_t>(place.start) & 0xFFFFF,
            .textLength = static_cast<std::uint32_t>(length) & 0xFFF};
  }
  bool RoomForTextSource();
  void ReleaseTexts();

  std::unique_lock<std::mutex> Lock() const;

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<Row[]>> rowChunks_;  // the entries
  std::int64_t entries_ = 0;
  std::int64_t size_ = 0;  // rows, implicit leaves included
  std::vector<Run> runs_;  // cover the entries before the tail
  std::int64_t lastRunStride_ = 0;
  std::int64_t tailRow_ = 0;  // the last entry's id
  std::int64_t tailLeaves_ = 0;
  // Rows before it are entries without leaves, each at its own index: all rows of a result
  // without groups, which so skip the runs.
  std::int64_t plainRows_ = 0;
  // Where the last row's text lies, which the next row's text may follow.
  TextPlace lastText_;
  std::int64_t lastTextLength_ = 0;
  // Chunks beside the entries' from the chunk of firstLinked_ on (null before it).
  std::vector<std::unique_ptr<std::int32_t[]>> linkChunks_;
  std::int64_t firstLinked_ = std::numeric_limits<std::int64_t>::max();  // an entry index
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
  // still gain children, and the ancestors of whatever row comes next. Only the last of
  // them can be an implicit leaf (while tailLeaves_ > 0).
  struct SpineRow {
    std::int32_t row;
    std::int64_t family;  // its index in families_, or -1 while it has none
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
  // The run Locate found last, with its bounds worked out. A run's rows only ever grow,
  // so a hint can fall short of its run's end but never be wrong (until Clear).
  struct RunHint {
    std::size_t run = 0;
    std::int64_t firstRow = 0;
    std::int64_t rowEnd = 0;
    std::int64_t firstEntry = 0;
    std::int64_t entryEnd = 0;
    std::int64_t stride = 1;
  };
  mutable RunHint runHint_;
  // Where the last implicit leaf read lies: reading the leaves of an entry in order steps
  // over each text once.
  mutable std::int64_t leafHintEntry_ = -1;
  mutable std::int64_t leafHintLeaf_ = 0;
  mutable const char16_t* leafHintText_ = nullptr;
};
