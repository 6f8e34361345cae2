#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "json_test_support.h"

namespace {

TEST_F(JsonDocumentTest, ScalarRootsComposeAlone) {
  EXPECT_EQ(Compose(JsonPrettyPrint), u"null");
  JsonSetString(root, u"");
  EXPECT_EQ(Compose(JsonPrettyPrint), u"\"\"");
  root->kind = 3;
  root->integer = 2;
  EXPECT_EQ(Compose(), u"true");
  JsonSetArray(root);
  JsonValue* element = JsonAppendElement(root);
  ASSERT_NE(element, nullptr);
  element->kind = 9;
  EXPECT_EQ(Compose(), u"");
}

TEST_F(JsonDocumentTest, StringsAreEscapedPerCodeUnit) {
  JsonSetString(root, u"\t\"\\\x01\x1f/\b\f\n\r\u00e9\xD83D\xDE00");
  EXPECT_EQ(Compose(), u"\"\\t\\\"\\\\\\u0001\\u001f/\\b\\f\\n\\r\u00e9\xD83D\xDE00\"");
}

TEST_F(JsonDocumentTest, PrettyKeysArePaddedPerObject) {
  JsonSetObject(root);
  JsonSetInteger(JsonAddMember(root, u"ab"), 1);
  JsonValue* inner = JsonAddMember(root, u"abcd");
  JsonSetObject(inner);
  JsonSetInteger(JsonAddMember(inner, u"deep"), 2);
  JsonSetInteger(JsonAddMember(inner, u"z"), 3);
  JsonSetArray(JsonAddMember(inner, u"k"));
  EXPECT_EQ(Compose(JsonPrettyPrint),
            u"{\r\n"
            u"  \"ab\"  : 1,\r\n"
            u"  \"abcd\": {\r\n"
            u"      \"deep\": 2,\r\n"
            u"      \"k\"   : [],\r\n"
            u"      \"z\"   : 3\r\n"
            u"    }\r\n"
            u"}");
}

// Qt puts the user's locale in place, whose decimal separator may be a comma.
void UseCommaDecimalsIfAvailable() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (std::setlocale(LC_NUMERIC, name)) return;
  }
}

TEST_F(JsonDocumentTest, NumbersComposeTheSameUnderAnyLocale) {
  UseCommaDecimalsIfAvailable();
  JsonSetArray(root);
  JsonValue* minusZero = JsonAppendElement(root);
  JsonSetDouble(minusZero, -0.0);
  JsonSetDouble(JsonAppendElement(root), 0.1);
  JsonSetDouble(JsonAppendElement(root), 2.0 / 3.0);
  JsonSetDouble(JsonAppendElement(root), std::nan(""));
  JsonSetDouble(JsonAppendElement(root), -std::numeric_limits<double>::infinity());
  JsonSetInteger(JsonAppendElement(root), std::numeric_limits<std::int64_t>::min());
  JsonSetInteger(JsonAppendElement(root), std::numeric_limits<std::int64_t>::max());
  const std::u16string text = Compose();
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(text, u"[0,0.1,0.6666666667,null,null,-9223372036854775808,9223372036854775807]");
  EXPECT_FALSE(std::signbit(minusZero->real));
}

// Nested far deeper than any stack would hold one frame per level, alternating Arrays and
// Objects so that both ways down and up are taken.
TEST_F(JsonDocumentTest, DeepDocumentComposesAndReleases) {
  constexpr int kLevels = 100000;
  JsonValue* value = root;
  for (int level = 0; level < kLevels; ++level) {
    if (level % 2 == 0) {
      JsonSetArray(value);
      value = JsonAppendElement(value);
    } else {
      JsonSetObject(value);
      value = JsonAddMember(value, u"k");
    }
    ASSERT_NE(value, nullptr);
  }
  JsonSetInteger(value, 1);
  std::u16string expected;
  for (int level = 0; level < kLevels; ++level) expected += level % 2 == 0 ? u"[" : u"{\"k\":";
  expected += u"1";
  for (int level = kLevels; level-- > 0;) expected += level % 2 == 0 ? u"]" : u"}";
  EXPECT_EQ(Compose(), expected);

  JsonClearValue(root);
  EXPECT_EQ(root->kind, JsonKindNull);
  EXPECT_EQ(Compose(), u"null");
}

}  // namespace
