#include "runtime/text_encoding.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/strings.h"

namespace {

const std::u16string Mixed = u"a\u00e9\u20ac\U0001F600z";  // 1, 2, 3, 4 and 1 UTF-8 bytes
const std::string MixedUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";

std::u16string Decoded(const std::string& bytes) { return Utf8ToUtf16(bytes); }

TEST(TextEncoding, Utf8RoundTripsEveryPlane) {
  EXPECT_EQ(Utf16ToUtf8(Mixed), MixedUtf8);
  EXPECT_EQ(Utf8ToUtf16(MixedUtf8), Mixed);
  EXPECT_EQ(Utf8LengthOf(Mixed.data(), Mixed.size()), MixedUtf8.size());
  EXPECT_EQ(Utf16ToUtf8(u""), "");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

// The word-at-a-time ASCII path must hand over to the general one at every alignment.
TEST(TextEncoding, AsciiRunsMeetOtherCharactersAtAnyOffset) {
  for (std::size_t offset = 0; offset < 20; ++offset) {
    const std::u16string prefix(offset, u'x');
    const std::u16string text = prefix + u"\u00e9" + prefix + u"\U0001F600";
    const std::string bytes =
        std::string(offset, 'x') + "\xC3\xA9" + std::string(offset, 'x') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(text), bytes) << offset;
    EXPECT_EQ(Utf8ToUtf16(bytes), text) << offset;
  }
}

TEST(TextEncoding, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D)}), "a" + replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D), u'b'}), replacement + "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}),
            replacement + replacement);
  const std::u16string lone{char16_t(0xDE00)};
  EXPECT_EQ(Utf8LengthOf(lone.data(), lone.size()), 3u);
}

TEST(TextEncoding, InvalidUtf8BecomesOneReplacementPerBrokenSequence) {
  const std::u16string r(1, char16_t(0xFFFD));
  EXPECT_EQ(Decoded("\x80"), r);
  EXPECT_EQ(Decoded("a\xC3"
                    "A"),
            u"a" + r + u"A");         // the breaking byte survives
  EXPECT_EQ(Decoded("\xE2\x82"), r);  // cut short at the end
  EXPECT_EQ(Decoded("\xF0\x9F\x98"), r);
  EXPECT_EQ(Decoded("\xC0\xAF"), r + r);                  // overlong
  EXPECT_EQ(Decoded("\xE0\x80\x80"), r + r + r);          // overlong
  EXPECT_EQ(Decoded("\xED\xA0\x80"), r + r + r);          // an encoded surrogate
  EXPECT_EQ(Decoded("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(Decoded("\xF5\xFF"), r + r);
  EXPECT_EQ(Decoded("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
  EXPECT_EQ(Decoded("\xEF\xBB\xBF"
                    "x"),
            u"\uFEFFx");  // a byte-order mark is text
}

// Each range sits at the very end of its own heap block, so a read past it is caught by
// AddressSanitizer, and the byte that would complete the sequence is not part of it.
TEST(TextEncoding, DecodingStopsAtTheEndOfItsRange) {
  const std::string source = "0123456789\xC3\xA9";
  for (std::size_t length = 0; length <= source.size(); ++length) {
    auto bytes = std::make_unique<char[]>(length);
    std::copy(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(length), bytes.get());
    std::vector<char16_t> out(MaxUtf16UnitsFor(length) + 1);
    const std::size_t units = DecodeUtf8(bytes.get(), length, out.data());
    std::u16string text(out.data(), units);
    std::u16string expected = std::u16string(u"0123456789").substr(0, length);
    if (length == 11) expected += u"\uFFFD";
    if (length == 12) expected += u"\u00e9";
    EXPECT_EQ(text, expected) << length;
  }
}

// A text checked or repaired in place must read as the one decoded and encoded again, also
// when it is cut into slices where Utf8SliceEnd says.
TEST(TextEncoding, RepairingUtf8EqualsDecodingAndEncodingIt) {
  const std::vector<std::string> texts = {MixedUtf8,
                                          "\xEF\xBF\xBD",
                                          "plain",
                                          "a\xC3"
                                          "A",
                                          "\xE2\x82",
                                          "\xF0\x9F\x98",
                                          "\xC0\xAF",
                                          "\xE0\x80\x80",
                                          "\xED\xA0\x80",
                                          "\xF4\x90\x80\x80",
                                          "\xF5\xFF",
                                          "\x80\x80\x80\x80\x80z",
                                          "\xF0\x90\x80"
                                          "A",
                                          "\xF4\x8F\xBF\xBF"};
  for (const std::string& text : texts) {
    const std::string expected = Utf16ToUtf8(Decoded(text));
    EXPECT_EQ(IsValidUtf8(text.data(), text.size()), expected == text) << text;
    std::string repaired(3 * text.size(), '\0');
    repaired.resize(RepairUtf8(text.data(), text.size(), repaired.data()));
    EXPECT_EQ(repaired, expected) << text;
  }
  std::string joined;
  for (const std::string& text : texts) joined += text;
  for (std::size_t slice = 5; slice <= 12; ++slice) {
    std::string repaired;
    for (std::size_t start = 0; start < joined.size();) {
      const std::size_t end = Utf8SliceEnd(joined.data(), start, joined.size(), slice);
      ASSERT_GT(end, start);
      std::string part(3 * (end - start), '\0');
      part.resize(RepairUtf8(joined.data() + start, end - start, part.data()));
      repaired += part;
      start = end;
    }
    EXPECT_EQ(repaired, Utf16ToUtf8(Decoded(joined))) << slice;
  }
}

// Bytes are one valid sequence exactly when they decode to one character and encoding that
// gives them back: every lead byte with every second byte, and the third and fourth bytes
// at the edges of the continuation range.
TEST(TextEncoding, OneSequenceIsValidExactlyWhenItRoundTripsAsOneCharacter) {
  const auto roundTrips = [](const std::string& bytes) {
    const std::u16string decoded = Utf8ToUtf16(bytes);
    const bool oneCharacter =
        decoded.size() == 1 || (decoded.size() == 2 && IsHighSurrogate(decoded[0]));
    return oneCharacter && Utf16ToUtf8(decoded) == bytes;
  };
  const unsigned char edges[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  int checked = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int second = 0; second <= 0xFF; ++second) {
      for (const unsigned char third : edges) {
        for (const unsigned char fourth : edges) {
          std::string bytes{static_cast<char>(lead), static_cast<char>(second),
                            static_cast<char>(third), static_cast<char>(fourth)};
          for (std::size_t length = 1; length <= 4; ++length) {
            const std::string sequence = bytes.substr(0, length);
            ASSERT_EQ(IsValidUtf8Sequence(sequence.data(), length), roundTrips(sequence))
                << std::hex << lead << " " << second << " " << +third << " " << +fourth
                << " length " << length;
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_EQ(checked, 128 * 256 * 36 * 4);
}

TEST(TextEncoding, TemporaryFormsWriteAtTheResultPosition) {
  const std::int64_t start = TempPosition();
  AppendTemp(u"keep");
  const std::int64_t at = TempPosition();
  Utf8ToTempString(MixedUtf8.data(), static_cast<std::int64_t>(MixedUtf8.size()), at);
  EXPECT_EQ(std::u16string(TempAt(at)), Mixed);
  EXPECT_EQ(TempPosition(), at + 2 * static_cast<std::int64_t>(Mixed.size()));
  EXPECT_EQ(std::u16string(TempAt(start)), u"keep" + Mixed);

  Utf8ToTempString(nullptr, 5, at);
  EXPECT_EQ(std::u16string(TempAt(at)), u"");
  EXPECT_EQ(TempPosition(), at);
  AnsiToTempString("\xE9t\xE9", 3, at);
  EXPECT_EQ(std::u16string(TempAt(at)), u"\u00e9t\u00e9");
  SetTempPosition(start);
}

}  // namespace
