#include "tree_row_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/text_pool.h"

namespace {

void AppendLevels(TreeRowStore& store, const std::vector<std::int64_t>& levels) {
  for (std::int64_t level : levels) {
    ASSERT_NE(store.Append(u"row " + std::u16string(1, static_cast<char16_t>(u'0' + level)), level),
              NoRow);
  }
}

std::vector<std::int64_t> ChildrenOf(const TreeRowStore& store, std::int64_t parent) {
  std::vector<std::int64_t> children;
  const std::int64_t count = parent == NoRow ? -1 : store.Links(parent).childCount;
  for (std::int64_t index = 0;; ++index) {
    const std::int64_t child = parent == NoRow ? store.RootAt(index) : store.ChildAt(parent, index);
    if (child == NoRow) break;
    children.push_back(child);
  }
  if (count >= 0) {
    EXPECT_EQ(static_cast<std::int64_t>(children.size()), count);
  }
  return children;
}

TEST(TreeRowStoreLevels, ZeroOneOneZeroOneGivesTwoRootsWithTwoAndOneChildren) {
  TreeRowStore store;
  AppendLevels(store, {0, 1, 1, 0, 1});
  EXPECT_EQ(store.Count(), 5);
  EXPECT_EQ(ChildrenOf(store, NoRow), (std::vector<std::int64_t>{0, 3}));
  EXPECT_EQ(ChildrenOf(store, 0), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(ChildrenOf(store, 3), (std::vector<std::int64_t>{4}));
  EXPECT_EQ(store.Links(2).rowInParent, 1);
  EXPECT_EQ(store.Links(4).parent, 3);
}

TEST(TreeRowStoreLevels, LevelsArePlacedAgainstTheLastRow) {
  TreeRowStore store;
  // A first row is a root whatever its level; a level deeper than the last row's depth + 1
  // still makes only a child; a smaller level climbs to the ancestor at that depth.
  AppendLevels(store, {3, 1, 2, 3, 1, 5, 0, -4});
  EXPECT_EQ(store.Links(0).depth, 0);
  EXPECT_EQ(store.Links(1).parent, 0);
  EXPECT_EQ(store.Links(3).parent, 2);
  EXPECT_EQ(store.Links(3).depth, 3);
  EXPECT_EQ(store.Links(4).parent, 0);  // next sibling of row 1, the ancestor at depth 1
  EXPECT_EQ(store.Links(4).rowInParent, 1);
  EXPECT_EQ(store.Links(5).parent, 4);
  EXPECT_EQ(store.Links(5).depth, 2);
  EXPECT_EQ(store.Links(6).parent, NoRow);
  EXPECT_EQ(store.Links(7).parent, NoRow);  // a negative level counts as 0
  EXPECT_EQ(ChildrenOf(store, NoRow), (std::vector<std::int64_t>{0, 6, 7}));
  EXPECT_EQ(ChildrenOf(store, 0), (std::vector<std::int64_t>{1, 4}));
}

TEST(TreeRowStoreTexts, TextsReadBackCutToTheBufferAndInOrder) {
  TreeRowStore store;
  const std::u16string longText(5000, u'x');
  store.Append(u"first", 0);
  store.Append(longText, 1);
  store.Append(u"", 0);
  store.Append(u"\u00e9\U0001F600", 0);
  EXPECT_EQ(store.Text(0), u"first");
  EXPECT_EQ(store.Text(1), std::u16string(TreeTextLimit, u'x'));
  EXPECT_EQ(store.Text(2), u"");
  EXPECT_EQ(store.Text(3), u"\u00e9\U0001F600");
  EXPECT_EQ(store.Text(4), u"");
  EXPECT_EQ(store.Text(-1), u"");
}

// Enough long rows that the texts fill more than one of the store's text chunks.
TEST(TreeRowStoreTexts, AllTextsReadInOneGoEqualTheRowsReadOneByOne) {
  TreeRowStore store;
  for (int row = 0; row < 600; ++row) {
    const auto unit = static_cast<char16_t>(u'a' + row % 26);
    store.Append(std::u16string(static_cast<std::size_t>(row * 37 % 5000), unit), row % 3);
  }
  store.Append(u"", 0);
  std::u16string oneByOne = u"kept";
  for (std::int64_t row = 0; row < store.Count(); ++row) oneByOne += store.Text(row) + u"\r\n";
  std::u16string all = u"kept";
  ASSERT_TRUE(store.AppendAllTexts(all, u"\r\n"));
  EXPECT_EQ(all, oneByOne);
}

// Rows showing pooled texts point into them, and still read right once the texts, their
// pool and whatever else pointed into their blocks are gone.
TEST(TreeRowStoreTexts, PooledTextsAreSharedAndOutliveTheirOwners) {
  TreeRowStore store;
  std::u16string expected;
  {
    std::vector<StringVar> texts(150000, nullptr);
    TextPool pool;
    for (std::size_t row = 0; row < texts.size(); ++row) {
      const std::u16string text = u"match " + std::u16string(row % 5, u'0' + row % 10);
      const std::string bytes(text.begin(), text.end());  // ASCII
      pool.AssignUtf8(texts[row], bytes.data(), static_cast<std::int64_t>(bytes.size()));
      ASSERT_NE(store.Append(texts[row], row % 2), NoRow);
      expected += text + u"\n";
      if (row % 1000 == 0) {
        ASSERT_NE(store.Append(u"own copy", 0), NoRow);
        expected += u"own copy\n";
      }
    }
    for (StringVar text : texts) FreeString(text);
  }
  std::u16string all;
  ASSERT_TRUE(store.AppendAllTexts(all, u"\n"));
  EXPECT_EQ(all, expected);
  EXPECT_EQ(store.Text(store.Count() - 1), u"match 9999");
  store.Clear();
  EXPECT_EQ(store.Text(0), u"");
}

TEST(TreeRowStoreLevels, RowsGoNoDeeperThanTheDepthLimit) {
  TreeRowStore store;
  for (std::int64_t level = 0; level <= TreeDepthLimit + 3; ++level) {
    ASSERT_NE(store.Append(u"deeper", level), NoRow);
  }
  const std::int64_t last = store.Count() - 1;
  EXPECT_EQ(store.Links(last - 3).depth, TreeDepthLimit);
  EXPECT_EQ(store.Links(last).depth, TreeDepthLimit);
  EXPECT_EQ(store.Links(last).parent, last - 4);
  EXPECT_EQ(store.Links(last).rowInParent, 3);
  EXPECT_EQ(store.Links(last - 4).depth, TreeDepthLimit - 1);
}

TEST(TreeRowStoreTexts, ClearEmptiesAndTheNextRowIsARootAgain) {
  TreeRowStore store;
  AppendLevels(store, {0, 1, 2});
  store.Clear();
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.RootAt(0), NoRow);
  EXPECT_EQ(store.Text(0), u"");
  store.Append(u"again", 2);
  EXPECT_EQ(store.Links(0).parent, NoRow);
  EXPECT_EQ(store.Links(0).depth, 0);
  EXPECT_EQ(store.Text(0), u"again");
}

TEST(TreeRowStoreWalks, ChildrenAreFoundInAnyOrderOfAsking) {
  TreeRowStore store;
  store.Append(u"parent", 0);
  std::vector<std::int64_t> expected;
  for (int child = 0; child < 60; ++child) {
    expected.push_back(store.Append(u"child", 1));
    store.Append(u"grandchild", 2);  // children are not contiguous ids
  }
  for (std::int64_t index = 59; index >= 0; --index) {
    EXPECT_EQ(store.ChildAt(0, index), expected[static_cast<std::size_t>(index)]);
  }
  std::mt19937 random(7);
  for (int probe = 0; probe < 200; ++probe) {
    const auto index = static_cast<std::int64_t>(random() % 60);
    EXPECT_EQ(store.ChildAt(0, index), expected[static_cast<std::size_t>(index)]);
  }
  EXPECT_EQ(store.ChildAt(0, 60), NoRow);
  EXPECT_EQ(store.ChildAt(0, -1), NoRow);
  EXPECT_EQ(store.ChildAt(1, 0), 2);
  EXPECT_EQ(store.ChildAt(2, 0), NoRow);
}

// Places, child counts and roots are worked out from a few numbers per row and per parent:
// every one must agree with counting the rows, on a tree of every shape, asked in any order.
TEST(TreeRowStoreWalks, LinksAndRootsAgreeWithCountingOnARandomTree) {
  TreeRowStore store;
  std::mt19937 random(5);
  std::vector<std::int64_t> parents;
  std::vector<std::int64_t> roots;
  for (int row = 0; row < 3000; ++row) {
    // Long runs of roots and of leaf children, as results give, between deeper stretches.
    const std::int64_t level = row < 1000 ? 0 : row < 2000 ? row % 5 == 0 ? 0 : 1 : random() % 4;
    const std::int64_t id = store.Append(u"r", level);
    parents.push_back(store.Links(id).parent);
    if (parents.back() == NoRow) roots.push_back(id);
  }
  std::vector<std::int64_t> children(parents.size(), 0);
  std::vector<std::int64_t> rootCount(1, 0);
  for (std::size_t row = 0; row < parents.size(); ++row) {
    const std::int64_t parent = parents[row];
    std::int64_t& count =
        parent == NoRow ? rootCount[0] : children[static_cast<std::size_t>(parent)];
    ASSERT_EQ(store.Links(static_cast<std::int64_t>(row)).rowInParent, count) << "row " << row;
    const std::int64_t found = parent == NoRow ? store.RootAt(count) : store.ChildAt(parent, count);
    ASSERT_EQ(found, static_cast<std::int64_t>(row));
    ++count;
  }
  for (std::size_t row = 0; row < parents.size(); ++row) {
    ASSERT_EQ(store.Links(static_cast<std::int64_t>(row)).childCount, children[row])
        << "row " << row;
  }
  // Roots asked for far apart and backwards, then past the last.
  for (int probe = 0; probe < 300; ++probe) {
    const auto index = static_cast<std::size_t>(random() % roots.size());
    ASSERT_EQ(store.RootAt(static_cast<std::int64_t>(index)), roots[index]) << "root " << index;
  }
  EXPECT_EQ(store.RootAt(static_cast<std::int64_t>(roots.size())), NoRow);
  EXPECT_EQ(store.RootAt(-1), NoRow);
}

// What a view knowing rows [0, bound) sees as a row's child count, counted the slow way.
std::int64_t VisibleChildrenByCount(const TreeRowStore& store, std::int64_t parent,
                                    std::int64_t bound) {
  std::int64_t visible = 0;
  for (std::int64_t row = 0; row < bound; ++row) visible += store.Links(row).parent == parent;
  return visible;
}

void ExpectSpineAgreesWithCounting(const TreeRowStore& store, std::int64_t bound) {
  const TreeVisibleSpine spine = store.VisibleSpine(bound);
  EXPECT_EQ(spine.visibleRoots, VisibleChildrenByCount(store, NoRow, bound));
  for (std::int64_t row = 0; row < bound; ++row) {
    const TreeRowLinks links = store.Links(row);
    std::int64_t visible = links.childCount;
    const auto depth = static_cast<std::size_t>(links.depth);
    if (depth < spine.entries.size() && spine.entries[depth].row == row) {
      visible = spine.entries[depth].visibleChildren;
    }
    ASSERT_EQ(visible, VisibleChildrenByCount(store, row, bound)) << "row " << row;
  }
}

bool IsDescendantOfRange(const TreeRowStore& store, std::int64_t row, std::int64_t from) {
  for (std::int64_t up = store.Links(row).parent; up != NoRow; up = store.Links(up).parent) {
    if (up >= from) return true;
  }
  return false;
}

void ExpectStepsShowEveryRow(const TreeRowStore& store, std::int64_t batch) {
  std::int64_t published = 0;
  while (published < store.Count()) {
    const std::int64_t limit = std::min(published + batch, store.Count());
    const TreePublishStep step = store.NextPublishStep(published, limit);
    ASSERT_GT(step.bound, published);
    ASSERT_LE(step.bound, limit);
    // The step appends children at the end of what the view knows of the parent.
    EXPECT_EQ(step.firstChild, VisibleChildrenByCount(store, step.parent, published));
    EXPECT_EQ(step.lastChild, VisibleChildrenByCount(store, step.parent, step.bound) - 1);
    for (std::int64_t row = published; row < step.bound; ++row) {
      EXPECT_TRUE(store.Links(row).parent == step.parent ||
                  IsDescendantOfRange(store, row, published))
          << "row " << row;
    }
    published = step.bound;
    ExpectSpineAgreesWithCounting(store, published);
  }
}

TEST(TreeRowStorePublishing, StepsAndSpineMatchCountingForEveryBatchSize) {
  TreeRowStore store;
  std::mt19937 random(11);
  for (int row = 0; row < 300; ++row) store.Append(u"r", static_cast<std::int64_t>(random() % 4));
  for (std::int64_t batch : {1, 2, 3, 7, 64, 1000}) {
    SCOPED_TRACE(batch);
    ExpectStepsShowEveryRow(store, batch);
  }
}

TEST(TreeRowStorePublishing, MatchAndGroupRowsOfManyMatchesNeedOneStep) {
  TreeRowStore store;
  store.Append(u"m", 0);
  const TreePublishStep first = store.NextPublishStep(0, 1);
  EXPECT_EQ(first.bound, 1);
  for (int match = 0; match < 100; ++match) {
    store.Append(u"g", 1);
    store.Append(u"m", 0);
    store.Append(u"g", 1);
  }
  // Once row 0 is shown, the rest is its last children, then roots with their children.
  const TreePublishStep children = store.NextPublishStep(1, store.Count());
  EXPECT_EQ(children.parent, 0);
  EXPECT_EQ(children.bound, 2);
  const TreePublishStep roots = store.NextPublishStep(2, store.Count());
  EXPECT_EQ(roots.parent, NoRow);
  EXPECT_EQ(roots.firstChild, 1);
  EXPECT_EQ(roots.lastChild, 100);
  EXPECT_EQ(roots.bound, store.Count());
}

// Leaf rows whose pooled texts follow the row before are kept implicitly, every other row
// explicitly. The same tree built from own copies keeps every row explicitly, so it must give
// the same answer to every question, however the two kinds mix and in whatever order asked.
std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t> LinksOf(
    const TreeRowStore& store, std::int64_t row) {
  const TreeRowLinks links = store.Links(row);
  return {links.parent, links.rowInParent, links.childCount, links.depth};
}

void ExpectSameAnswers(const TreeRowStore& actual, const TreeRowStore& expected,
                       const std::vector<std::int64_t>& order) {
  for (std::int64_t row : order) {
    ASSERT_EQ(LinksOf(actual, row), LinksOf(expected, row)) << "row " << row;
    ASSERT_EQ(actual.Text(row), expected.Text(row)) << "row " << row;
    const std::int64_t children = expected.Links(row).childCount;
    for (std::int64_t index = -1; index <= children; ++index) {
      ASSERT_EQ(actual.ChildAt(row, index), expected.ChildAt(row, index)) << "row " << row;
    }
    const std::int64_t root = expected.Links(row).rowInParent;
    ASSERT_EQ(actual.RootAt(root), expected.RootAt(root)) << "root " << root;
  }
}

void ExpectSameTree(const TreeRowStore& actual, const TreeRowStore& expected,
                    std::mt19937& random) {
  ASSERT_EQ(actual.Count(), expected.Count());
  std::u16string actualTexts = u"kept";
  std::u16string expectedTexts = u"kept";
  ASSERT_TRUE(actual.AppendAllTexts(actualTexts, u"\r\n"));
  ASSERT_TRUE(expected.AppendAllTexts(expectedTexts, u"\r\n"));
  EXPECT_EQ(actualTexts, expectedTexts);
  std::vector<std::int64_t> order(static_cast<std::size_t>(expected.Count()));
  for (std::size_t row = 0; row < order.size(); ++row) order[row] = static_cast<std::int64_t>(row);
  ExpectSameAnswers(actual, expected, order);
  std::reverse(order.begin(), order.end());
  ExpectSameAnswers(actual, expected, order);
  std::shuffle(order.begin(), order.end(), random);
  ExpectSameAnswers(actual, expected, order);
  for (std::int64_t batch : {1, 5, 1000}) {
    for (std::int64_t from = 0; from < expected.Count();) {
      const std::int64_t limit = std::min(from + batch, expected.Count());
      const TreePublishStep step = actual.NextPublishStep(from, limit);
      const TreePublishStep wanted = expected.NextPublishStep(from, limit);
      ASSERT_EQ(std::tie(step.parent, step.firstChild, step.lastChild, step.bound),
                std::tie(wanted.parent, wanted.firstChild, wanted.lastChild, wanted.bound))
          << "from " << from;
      const TreeVisibleSpine spine = actual.VisibleSpine(step.bound);
      const TreeVisibleSpine wantedSpine = expected.VisibleSpine(step.bound);
      ASSERT_EQ(spine.visibleRoots, wantedSpine.visibleRoots);
      ASSERT_EQ(spine.entries.size(), wantedSpine.entries.size());
      for (std::size_t at = 0; at < spine.entries.size(); ++at) {
        ASSERT_EQ(spine.entries[at].row, wantedSpine.entries[at].row);
        ASSERT_EQ(spine.entries[at].visibleChildren, wantedSpine.entries[at].visibleChildren);
      }
      from = step.bound;
    }
  }
}

TEST(TreeRowStoreTexts, PooledLeavesAnswerAsOwnCopiesDo) {
  for (unsigned seed : {1U, 2U, 3U}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    TreeRowStore pooled;
    TreeRowStore copied;
    TextPool pool;
    std::vector<StringVar> texts;
    const auto pooledText = [&](const std::string& bytes) {
      texts.push_back(nullptr);
      const std::int64_t length =
          pool.AssignUtf8(texts.back(), bytes.data(), static_cast<std::int64_t>(bytes.size()));
      return std::u16string_view(texts.back(), static_cast<std::size_t>(length));
    };
    const auto append = [&](std::u16string_view text, std::int64_t level) {
      ASSERT_EQ(pooled.Append(text, level), copied.Append(std::u16string(text), level));
    };
    bool followed = false;  // whether the last row's text is the last pooled one
    for (int row = 0; row < 3000; ++row) {
      // Matches with four groups, one row with more leaves than an entry takes, rows whose
      // links are worked out (no row deeper than 1 but implicit leaves), then rows of every
      // level.
      std::int64_t level = row < 500    ? (row % 5 == 0 ? 0 : 1)
                           : row == 500 ? 0
                           : row < 800  ? 1
                           : row < 1800 ? random() % 3 == 0 ? 0 : 1
                                        : std::array{0, 0, 1, 1, 1, 1, 2, 2, 3}[random() % 9];
      const bool implicitGrandchild = row >= 800 && row < 1800 && followed && random() % 4 == 0;
      if (implicitGrandchild) level = 2;
      const auto kind = row < 800 || implicitGrandchild ? 0 : random() % 8;
      followed = kind == 0;
      std::u16string_view text;
      switch (kind) {
        case 0:
          text = pooledText(std::string(random() % 4, 'a') + std::to_string(row));
          break;
        case 1:
          text = pooledText("");
          break;
        case 2:
          text = pooledText(std::string("nul\0inside", 10));
          break;
        case 3:
          text = pooledText(std::string(random() % 2 ? 5000 : TreeTextLimit, 'x'));
          break;
        case 4:
          pooledText("a gap");
          text = pooledText("after a gap \xc3\xa9");
          break;
        case 5:  // no terminator after it
          text = pooledText("a longer text").substr(0, 2);
          break;
        case 6:
          text = u"own copy";
          break;
        default:
          text = pooledText("\xf0\x9f\x98\x80");
          break;
      }
      append(text, level);
    }
    ExpectSameTree(pooled, copied, random);
    pooled.Clear();
    for (StringVar text : texts) FreeString(text);
  }
}

}  // namespace

namespace {

TEST(TreeRowStoreConcurrency, ReadersSeeAConsistentPrefixWhileAWriterAppends) {
  constexpr std::int64_t Rows = 200000;  // enough to cross several row and text chunks
  TreeRowStore store;
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (std::int64_t row = 0; row < Rows; ++row) {
      store.Append(std::u16string(static_cast<std::size_t>(row % 50), u'a'), row % 3 == 0 ? 0 : 1);
    }
    writing = false;
  });
  std::int64_t published = 0;
  int errors = 0;
  while (writing || published < store.Count()) {
    const std::int64_t count = store.Count();
    if (published < count) {
      // What the view does per batch: steps up to a bound, then reads under one hold.
      while (published < count) published = store.NextPublishStep(published, count).bound;
      TreeRowStore::Hold hold(store);
      const TreeVisibleSpine spine = store.VisibleSpine(published);
      errors += spine.visibleRoots != (published + 2) / 3;
      const std::int64_t last = published - 1;
      errors += store.Text(last).size() != static_cast<std::size_t>(last % 50);
      errors += store.Links(last).parent != (last % 3 == 0 ? NoRow : last - last % 3);
    }
  }
  writer.join();
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(published, Rows);
}

}  // namespace
