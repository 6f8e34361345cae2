#include "runtime/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "runtime/file_stream.h"

namespace {

// The text a string function left at its result position, taken out of the area.
template <class Produce>
std::u16string Result(Produce produce) {
  return std::u16string(TakeResult(produce).view());
}

// Runs check on a thread of its own, so that it starts with a fresh 16-byte area.
template <class Check>
void OnFreshThread(Check check) {
  std::thread worker(check);
  worker.join();
}

TEST(StringFunctions, ParseIntegerReadsDecimalHexAndBinary) {
  EXPECT_EQ(ParseInteger(u"  -42abc"), -42);
  EXPECT_EQ(ParseInteger(u"$ff"), 255);
  EXPECT_EQ(ParseInteger(u"$FFz"), 255);
  EXPECT_EQ(ParseInteger(u"%101"), 5);
  EXPECT_EQ(ParseInteger(u"%102"), 2);
  EXPECT_EQ(ParseInteger(u"-$10"), -16);
  EXPECT_EQ(ParseInteger(u"\t+7"), 7);
  EXPECT_EQ(ParseInteger(u"x1"), 0);
  EXPECT_EQ(ParseInteger(u"$"), 0);
  EXPECT_EQ(ParseInteger(u"- 5"), 0);
  EXPECT_EQ(ParseInteger(nullptr), 0);
  EXPECT_EQ(ParseInteger(u"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseInteger(u"18446744073709551617"), 1);  // wraps in 64 bits
}

TEST(StringFunctions, FormatRealWritesFixedNotation) {
  auto real = [](double x, std::int64_t decimals) {
    return Result([&](std::int64_t at) { FormatReal(x, decimals, at); });
  };
  EXPECT_EQ(real(1.5, -1), u"1.5");
  EXPECT_EQ(real(2.0, -1), u"2");
  EXPECT_EQ(real(-0.0, -1), u"0");
  EXPECT_EQ(real(-0.0, 2), u"0.00");
  EXPECT_EQ(real(1.0 / 3.0, 2), u"0.33");
  EXPECT_EQ(real(-2.5, 0), u"-2");  // round half to even, as printf does
  EXPECT_EQ(real(1250.0, -1), u"1250");
  EXPECT_EQ(real(0.1, -1), u"0.1");
  EXPECT_EQ(real(-1e-12, -1), u"0");
  EXPECT_EQ(real(1.0 / 0.0, 3), u"+Infinity");
  EXPECT_EQ(real(-1.0 / 0.0, 3), u"-Infinity");
  EXPECT_EQ(real(0.0 / 0.0, 3), u"NaN");
  EXPECT_EQ(real(1.0, 1000).size(), 2u + 512u);  // decimals are clamped to 512
  EXPECT_EQ(real(1.25, -7), u"1");               // other negatives count as 0
}

TEST(StringFunctions, DecimalTextCoversTheWholeRange) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-7), u"-7");
  EXPECT_EQ(DecimalText(INT64_MAX), u"9223372036854775807");
  EXPECT_EQ(DecimalText(INT64_MIN), u"-9223372036854775808");  // all 20 units
}

TEST(StringFunctions, FormatRealGivesBackWhatItDidNotUse) {
  const std::int64_t start = TempPosition();
  FormatReal(12.5, 1, start);
  EXPECT_EQ(TempPosition(), start + 2 * 4);
  SetTempPosition(start);
}

TEST(StringFunctions, LengthTreatsNullAsEmpty) { EXPECT_EQ(StringLength(nullptr), 0); }

TEST(StringBuffer, ReservationsMoveThePositionAndTerminate) {
  OnFreshThread([] {
    EXPECT_EQ(TempAreaCapacity(), 16);
    EXPECT_EQ(TempPosition(), 0);
    AppendTemp(u"ab");
    EXPECT_EQ(TempPosition(), 4);
    EXPECT_EQ(std::u16string(TempAt(0)), u"ab");
    ReserveTemp(1, -1);  // the terminator now belongs to "ab"
    AppendTemp(u"cde");
    EXPECT_EQ(TempPosition(), 12);
    EXPECT_EQ(std::u16string(TempAt(6)), u"cde");
    GiveBackTemp(1);
    EXPECT_EQ(TempPosition(), 10);
    ReturnEmptyTemp(6);
    EXPECT_EQ(TempPosition(), 6);
    EXPECT_EQ(std::u16string(TempAt(6)), u"");
    SetTempPosition(0);
    EXPECT_EQ(std::u16string(TempAt(0)), u"ab");
    EXPECT_EQ(TempPosition(), 0);
  });
}

TEST(StringBuffer, GrowthAddsTheMarginPastTheNeed) {
  OnFreshThread([] {
    ReserveTemp(6, -1);  // need 12 >= 16 - 4
    EXPECT_EQ(TempAreaCapacity(), 12 + 16384);
    ReserveTemp(100, 0);  // measured from the end of the content: need 12 + 200
    EXPECT_EQ(TempAreaCapacity(), 12 + 16384);
    EXPECT_EQ(TempPosition(), 200);
  });
}

TEST(StringBuffer, ShrinksAfterATenMillionUnitTemporary) {
  OnFreshThread([] {
    const std::int64_t units = 10'000'000;
    char16_t* text = ReserveTemp(units, 0);
    std::fill(text, text + units, u'x');
    text[units] = 0;
    StringVar big = nullptr;
    AssignFromTemp(big, 0);
    EXPECT_EQ(StringLength(big), units);
    EXPECT_EQ(TempAreaCapacity(), 2 * units + 16384);
    AppendTemp(u"small");
    EXPECT_EQ(TempAreaCapacity(), 1048576);
    EXPECT_EQ(std::u16string(TempAt(0)), u"small");
    FreeString(big);

    // A need above 1 MiB is what the area shrinks to.
    SetTempPosition(0);
    ReserveTemp(units, 0);
    SetTempPosition(0);
    ReserveTemp(1'000'000, 0);
    EXPECT_EQ(TempAreaCapacity(), 2'000'000);
  });
}

TEST(StringBuffer, LargeKeptContentDoesNotReallocateOnEveryAppend) {
  OnFreshThread([] {
    ReserveTemp(2'000'000, 0);
    const char16_t* base = TempAt(0);
    const std::int64_t capacity = TempAreaCapacity();
    for (int i = 0; i < 100; ++i) AppendTemp(u"xy");
    EXPECT_EQ(TempAt(0), base);
    EXPECT_EQ(TempAreaCapacity(), capacity);
  });
}

TEST(StringBuffer, PositionPrimitivesKeepErrno) {
  OnFreshThread([] {
    errno = EBADF;
    const std::int64_t position = TempPosition();  // creates the area
    SetTempPosition(position);
    EXPECT_EQ(errno, EBADF);
  });
}

// Every result below is built from a source that is itself a temporary, while the
// reservation for the result moves the area.
TEST(StringBuffer, NestedResultsSurviveReallocation) {
  OnFreshThread([] {
    const std::int64_t start = TempPosition();
    AppendTemp(u"**cde");
    AppendTemp(TempAt(start));  // appending the content to itself
    EXPECT_EQ(std::u16string(TempAt(start)), u"**cde**cde");
    // Doubling until the 16-byte area has grown several times over.
    for (int round = 0; round < 10; ++round) AppendTemp(TempAt(start));
    const std::u16string result(TempAt(start));
    EXPECT_EQ(result.size(), 10u << 10);
    EXPECT_EQ(result.substr(result.size() - 10), u"**cde**cde");
    // A result written where its own source starts.
    FilePartOfPath(TempAt(start), 0, start);
    EXPECT_EQ(std::u16string(TempAt(start)), result);
    SetTempPosition(start);
  });
}

TEST(StringBuffer, DroppedTemporarySurvivesAShrinkingReservation) {
  OnFreshThread([] {
    const std::int64_t units = 3'000'000;
    const std::int64_t middle = 1'000'000;
    ReserveTemp(units, 0);
    char16_t* text = TempAt(2 * middle);
    std::u16string_view(u"mid").copy(text, 3);
    text[3] = 0;
    // Drop everything, then use the dropped text as the source of a result at 0: the
    // reservation shrinks the area, which must not cut the source off first.
    SetTempPosition(0);
    const char16_t* source = TempAt(0) + middle;
    FilePartOfPath(source, 0, 0);  // a path without a folder: the text itself
    EXPECT_EQ(std::u16string(TempAt(0)), u"mid");
    EXPECT_LT(TempAreaCapacity(), 2 * units);
  });
}

TEST(StringVariables, AssignCopiesAndHandlesItsOwnValue) {
  StringVar v = nullptr;
  AssignString(v, u"hello world");
  EXPECT_EQ(std::u16string(v), u"hello world");
  AssignString(v, v);
  EXPECT_EQ(std::u16string(v), u"hello world");
  AssignString(v, v + 6);  // a tail of its own value
  EXPECT_EQ(std::u16string(v), u"world");
  AssignString(v, nullptr);
  EXPECT_EQ(v, nullptr);
  AssignStringRange(v, u"abcdef", 3);
  EXPECT_EQ(std::u16string(v), u"abc");
  FreeString(v);
}

TEST(StringVariables, ConcatenationAssignsFromTheStartPosition) {
  StringVar v = nullptr;
  AssignString(v, u"v");
  const std::int64_t start = TempPosition();
  AppendTemp(v);
  AppendTemp(u"+a");
  AppendTemp(u"+b");
  EXPECT_EQ(AssignFromTemp(v, start), start);
  EXPECT_EQ(std::u16string(v), u"v+a+b");
  EXPECT_EQ(TempPosition(), start);
  AssignFromTemp(v, start);  // nothing there: the empty string
  EXPECT_EQ(StringLength(v), 0);
  FreeString(v);
}

TEST(StringLayer, ReadsLikeOrdinaryCode) {
  auto real = [](double x, std::int64_t decimals) {
    return TakeResult([&](std::int64_t at) { FormatReal(x, decimals, at); });
  };
  const String seconds = real(64.125, 2);
  EXPECT_EQ(seconds, u"64.12");
  EXPECT_EQ(ParseInteger(seconds.data()), 64);
  EXPECT_EQ(real(0.5, -1).length(), 3);

  std::vector<String> words{String(u"pear"), String(u"apple"), String(u"fig")};
  std::sort(words.begin(), words.end());
  EXPECT_EQ(words.front(), u"apple");
  String copy = words.back();
  String moved = std::move(words.back());
  EXPECT_EQ(copy, moved);
  EXPECT_TRUE(words.back().empty());  // NOLINT: a moved-from String is empty
  EXPECT_EQ(std::u16string(words.back().data()), u"");
  copy = copy;  // self-assignment keeps the value
  EXPECT_EQ(copy, u"pear");
}

TEST(StringLayer, TakeResultLeavesThePositionWhereItWas) {
  const std::int64_t before = TempPosition();
  String joined = TakeResult([](std::int64_t) {
    AppendTemp(u"left");
    AppendTemp(std::u16string_view(u"-right-ignored").substr(0, 6));
  });
  EXPECT_EQ(joined, u"left-right");
  EXPECT_EQ(TempPosition(), before);
}

TEST(StringManager, AreasAreIndependentBetweenThreads) {
  std::vector<std::u16string> results(2);
  auto build = [&](int index, char16_t unit) {
    for (int round = 0; round < 200; ++round) {
      const std::int64_t start = TempPosition();
      for (int i = 0; i < 50; ++i) AppendTemp(std::u16string(static_cast<std::size_t>(i), unit));
      String text = String::FromTemp(start);
      if (text.length() != 49 * 50 / 2 || text.view().find(u'-') != std::u16string_view::npos)
        return;
      results[static_cast<std::size_t>(index)] = std::u16string(text.view().substr(0, 3));
    }
  };
  std::thread a(build, 0, u'a');
  std::thread b(build, 1, u'b');
  a.join();
  b.join();
  EXPECT_EQ(results[0], u"aaa");
  EXPECT_EQ(results[1], u"bbb");
}

TEST(StringManager, RestartsAfterShutDown) {
  OnFreshThread([] {
    StringManagerInit();
    AppendTemp(u"before");
    EXPECT_EQ(TempPosition(), 12);
    StringManagerEnd();
    EXPECT_EQ(TempPosition(), 0);  // a new area on first use
    EXPECT_EQ(Result([](std::int64_t at) { FormatReal(2.5, 1, at); }), u"2.5");
  });
}

}  // namespace
