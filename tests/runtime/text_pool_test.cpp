#include "runtime/text_pool.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "runtime/text_encoding.h"

namespace {

std::u16string_view View(const char16_t* text) { return text ? text : u""; }

TEST(TextPool, APooledTextIsAnOrdinaryStringToItsReaders) {
  TextPool pool;
  StringVar text = nullptr;
  StringVar empty = nullptr;
  pool.AssignUtf8(text, "192.168.0.1 and more", 11);
  pool.AssignUtf8(empty, "", 0);
  EXPECT_TRUE(IsPooledText(text));
  EXPECT_EQ(View(text), u"192.168.0.1");
  EXPECT_EQ(StringLength(empty), 0);
  ASSERT_NE(empty, nullptr);

  // Assigning to it leaves the pool: the text after it must not be overwritten.
  AssignString(empty, u"a text longer than the two units the empty one took");
  EXPECT_FALSE(IsPooledText(empty));
  EXPECT_EQ(View(text), u"192.168.0.1");
  AssignStringRange(text, text + 4, 3);
  EXPECT_FALSE(IsPooledText(text));
  EXPECT_EQ(View(text), u"168");
  FreeString(text);
  FreeString(empty);

  StringVar heap = nullptr;
  AssignString(heap, u"heap");
  EXPECT_FALSE(IsPooledText(heap));
  EXPECT_FALSE(ReleasePooledText(heap));
  FreeString(heap);
  EXPECT_FALSE(IsPooledText(nullptr));
}

TEST(TextPool, ATextTooLongForABlockGoesToTheHeap) {
  TextPool pool;
  const std::string huge(PooledBlockUnits, 'x');
  StringVar text = nullptr;
  pool.AssignUtf8(text, huge.data(), static_cast<std::int64_t>(huge.size()));
  EXPECT_FALSE(IsPooledText(text));
  EXPECT_EQ(View(text), std::u16string(PooledBlockUnits, u'x'));
  FreeString(text);
}

// Decoded into the pool, a text reads as the string decoder gives it, with its length in
// units: also with a broken sequence, a character beyond the BMP, an empty or null text, and
// one too long for a block, which is decoded to the heap instead.
TEST(TextPool, AUtf8TextIsDecodedIntoThePoolAsTheDecoderReadsIt) {
  TextPool pool;
  const std::string texts[] = {"10.0.0.1", "\xE2\x82\xAC\xF0\x9F\x98\x80 \xC3", "",
                               std::string(PooledBlockUnits, 'x') + "\xC3\xA9"};
  std::vector<StringVar> decoded(std::size(texts), nullptr);
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    SCOPED_TRACE(i);
    const std::u16string expected = Utf8ToUtf16(texts[i]);
    const std::int64_t length =
        pool.AssignUtf8(decoded[i], texts[i].data(), static_cast<std::int64_t>(texts[i].size()));
    EXPECT_EQ(length, static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(View(decoded[i]), expected);
    EXPECT_EQ(IsPooledText(decoded[i]), i + 1 < std::size(texts));
  }
  // The long text's detour through the heap left the next pooled one intact.
  EXPECT_EQ(View(decoded[0]), u"10.0.0.1");
  StringVar none = nullptr;
  EXPECT_EQ(pool.AssignUtf8(none, nullptr, 5), 0);
  EXPECT_EQ(View(none), u"");
  for (StringVar& text : decoded) FreeString(text);
  FreeString(none);
}

TEST(TextPool, ABlockLastsUntilItsPoolItsTextsAndItsPinsLetGo) {
  StringVar first = nullptr;
  StringVar second = nullptr;
  const char16_t* block = nullptr;
  {
    TextPool pool;
    pool.AssignUtf8(first, "first", 5);
    pool.AssignUtf8(second, "second", 6);
    block = PinTextBlock(second);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(PinTextBlock(u"not pooled"), nullptr);
  }
  FreeString(first);
  FreeString(second);
  EXPECT_TRUE(IsPooledText(block));  // the pin still holds it
  EXPECT_TRUE(ReleasePooledText(block));
  EXPECT_FALSE(IsPooledText(block));
}

// Texts of several blocks, freed from two threads at once while the pool is gone: every
// block goes back exactly when its last text does.
TEST(TextPool, TextsOfManyBlocksFreedFromTwoThreadsReleaseEveryBlock) {
  std::vector<StringVar> texts(300000, nullptr);
  {
    TextPool pool;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::string text = "text " + std::string(i % 7, 'w');
      pool.AssignUtf8(texts[i], text.data(), static_cast<std::int64_t>(text.size()));
    }
  }
  std::vector<const char16_t*> blocks;
  for (StringVar text : texts) {
    const char16_t* block = PinTextBlock(text);
    if (blocks.empty() || blocks.back() != block) {
      blocks.push_back(block);
    } else {
      ReleasePooledText(block);
    }
  }
  ASSERT_GT(blocks.size(), 2u);
  EXPECT_EQ(View(texts[299998]), u"text wwwwww");  // 299998 % 7 == 6
  std::thread other([&] {
    for (std::size_t i = 0; i < texts.size(); i += 2) FreeString(texts[i]);
  });
  for (std::size_t i = 1; i < texts.size(); i += 2) FreeString(texts[i]);
  other.join();
  for (const char16_t* block : blocks) {
    EXPECT_TRUE(IsPooledText(block));
    ReleasePooledText(block);
    EXPECT_FALSE(IsPooledText(block));
  }
}

}  // namespace
