#include "utf8_text.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/strings.h"

namespace {

std::int64_t Count(const std::string& bytes) {
  return Utf8CharCount(bytes.c_str(), 0, static_cast<std::int64_t>(bytes.size()));
}

String Decode(const std::string& bytes) {
  return TakeResult([&](std::int64_t at) {
    Utf8ToTempString(bytes.c_str(), static_cast<std::int64_t>(bytes.size()), at);
  });
}

std::string Encode(const std::u16string& text) {
  Utf8Text utf8 = ConvertToUtf8(text.c_str());
  return std::string(utf8.bytes.get(), static_cast<std::size_t>(utf8.length));
}

TEST(Utf8Count, CountsCodePointsOfValidText) {
  EXPECT_EQ(Count("abc"), 3);
  EXPECT_EQ(Count("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 3);  // é € U+1F600
  EXPECT_EQ(Utf8CharCount("abc", 2, 1), 0);
  EXPECT_EQ(Utf8CharCount("abc", 1, 1), 0);
}

TEST(Utf8Count, InvalidBytesFollowTheWalk) {
  EXPECT_EQ(Count("\x80\xBF"), 0) << "stray continuation bytes count nothing";
  EXPECT_EQ(Count("\xF8\xFF"), 0);
  EXPECT_EQ(Count("\xC3x"), 2) << "a lead byte without continuation counts, then x";
  EXPECT_EQ(Count("\xE2\x82x"), 2) << "a three-byte lead with one continuation";
  EXPECT_EQ(Count("a\xE2\x82"), 1) << "a sequence running past the range counts nothing";
  EXPECT_EQ(Count("\xF0\x9F\x98x"), 2);
}

TEST(Utf8Decode, ValidCharactersInFull) {
  EXPECT_EQ(Decode("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"), u"aé€\U0001F600z");
  EXPECT_EQ(Decode(""), u"");
}

TEST(Utf8Decode, BrokenSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Decode("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(Decode("z\xE2\x82"), u"z\uFFFD") << "cut off at the range end";
}

TEST(Utf8Encode, SurrogatesPairedAndUnpaired) {
  EXPECT_EQ(Encode(u"aé€\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Encode(std::u16string{u'a', char16_t(0xD83D), u'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Encode(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), "\xEF\xBF\xBD\xEF\xBF\xBD");
  Utf8Text empty = ConvertToUtf8(nullptr);
  ASSERT_TRUE(empty.bytes);
  EXPECT_EQ(empty.length, 0);
  EXPECT_EQ(empty.bytes[0], '\0');
}

TEST(Utf8Encode, LongTextsConvertAcrossSliceBoundaries) {
  // A pair split by a slice boundary of the converter must stay one character.
  std::u16string text(262143, u'x');
  text += u"\U0001F600";
  text += std::u16string(300000, u'é');
  std::string utf8 = Encode(text);
  ASSERT_EQ(utf8.size(), 262143u + 4u + 600000u);
  EXPECT_EQ(utf8.substr(262143, 4), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Count(utf8), 262143 + 1 + 300000);
}

}  // namespace
