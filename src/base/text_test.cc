
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include <pellar/base/failure.h>
#include <pellar/base/number.h>
#include <pellar/base/text_internal.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

TEST(AnsiTest, EveryByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    std::string byte(1, static_cast<char>(b));
    Text text = FromAnsi(byte);
    ASSERT_EQ(text.size(), 1u) << b;
    EXPECT_EQ(ToAnsi(text), byte) << b;
    EXPECT_EQ(AnsiCode(text[0]), b) << b;
  }
}

TEST(AnsiTest, HighCodesMapToTheirWindowsCharacters) {
  EXPECT_EQ(FromAnsi("\x80"), u"\u20AC");  // euro
  EXPECT_EQ(FromAnsi("\x9F"), u"\u0178");
  EXPECT_EQ(FromAnsi("\xE9"), u"\u00E9");
  EXPECT_EQ(FromAnsi("\x81"), u"\u0081");  // undefined: C1 control
}

TEST(AnsiTest, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(ToAnsi(u"a\u0416b"), "a?b");       // Cyrillic
  EXPECT_EQ(ToAnsi(u"\U0001F600"), "??");      // one per code unit
  EXPECT_EQ(ToAnsi(u"\xD800"), "?");           // lone surrogate
  // A whole block of C1 controls the code page lacks: none is a byte.
  EXPECT_EQ(ToAnsi(u"\u0080\u0082\u0083\u0084\u0085\u0086\u0087\u0088\u0089"
                   u"\u008A\u008B\u008C\u008E\u0091\u0092\u0093"),
            std::string(16, '?'));
  EXPECT_EQ(ToAnsi(Text(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(Utf8Test, RoundTripsEveryPlane) {
  Text text = u"A\u00E9\u20AC\U0001F600";
  EXPECT_EQ(ToUtf8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(Utf16LeTest, LowByteFirstSurrogatesKeptOddByteDropped) {
  std::string bytes = "x";
  AppendUtf16Le(bytes, u"A\u20AC\U0001F600");
  EXPECT_EQ(bytes, std::string("xA\0\xAC\x20\x3D\xD8\x00\xDE", 9));
  EXPECT_EQ(FromUtf16Le(bytes.substr(1)), u"A\u20AC\U0001F600");
  EXPECT_EQ(FromUtf16Le(std::string("A\0B", 3)), u"A");
}

TEST(Utf8Test, MalformedInputNeverThrows) {
  EXPECT_EQ(ToUtf8(u"\xDC00x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(FromUtf8("\xC3"), u"\uFFFD");
  EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");     // overlong
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
}

TEST(NumberTextTest, DecimalAndPadding) {
  EXPECT_EQ(Decimal(0), u"0");
  EXPECT_EQ(Decimal(-32768), u"-32768");
  EXPECT_EQ(Decimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(ZeroPadded(7, 4), u"0007");
  EXPECT_EQ(ZeroPadded(12345, 4), u"12345");
}

TEST(LowerTest, FoldsBeyondAscii) {
  EXPECT_EQ(Lower(u"ABOUT"), u"about");
  EXPECT_EQ(Lower(u"\u00C9T\u00C9"), u"\u00E9t\u00E9");
  EXPECT_EQ(Lower(u"\u0178\u0152"), u"\u00FF\u0153");
  EXPECT_TRUE(EqualsIgnoreCase(u"C:\\Out\\A.TXT", u"c:\\out\\a.txt"));
  EXPECT_FALSE(EqualsIgnoreCase(u"a", u"ab"));
}

struct ConversionCase {
  Value in;
  Type type;
  Value expected;  // Empty when `error` is set
  int error;
};

class ConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, FollowsAutomationRules) {
  const ConversionCase& c = GetParam();
  if (c.error != 0) {
    try {
      ConvertTo(c.in, c.type);
      FAIL() << "expected failure " << c.error;
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.error);
    }
  } else {
    EXPECT_EQ(ConvertTo(c.in, c.type), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ConversionTest,
    ::testing::Values(
        ConversionCase{Value(Text(u"12")), Type::kInt16, Value(int16_t{12}), 0},
        ConversionCase{Value(Text(u" -7 ")), Type::kInt32, Value(int32_t{-7}), 0},
        ConversionCase{Value(Text(u"1.5e1")), Type::kInt32, Value(int32_t{15}), 0},
        ConversionCase{Value(Text(u"abc")), Type::kInt32, Value(), 13},
        ConversionCase{Value(Text(u"")), Type::kInt16, Value(), 13},
        ConversionCase{Value(Text(u"1e999")), Type::kInt32, Value(), 6},
        ConversionCase{Value(Text(u"1e+999")), Type::kInt32, Value(), 6},
        ConversionCase{Value(Text(u"1e-999")), Type::kInt32,
                       Value(int32_t{0}), 0},
        ConversionCase{Value(int32_t{40000}), Type::kInt16, Value(), 6},
        ConversionCase{Value(int32_t{-32768}), Type::kInt16, Value(int16_t{-32768}), 0},
        ConversionCase{Value(2.5), Type::kInt16, Value(int16_t{2}), 0},
        ConversionCase{Value(3.5), Type::kInt16, Value(int16_t{4}), 0},
        ConversionCase{Value(-2.5), Type::kInt32, Value(int32_t{-2}), 0},
        ConversionCase{Value(2147483647.5), Type::kInt32, Value(), 6},
        ConversionCase{Value(1e300), Type::kInt32, Value(), 6},
        ConversionCase{Value(true), Type::kInt16, Value(int16_t{-1}), 0},
        ConversionCase{Value(), Type::kInt32, Value(int32_t{0}), 0},
        ConversionCase{Value(), Type::kText, Value(Text()), 0},
        ConversionCase{Value(), Type::kBoolean, Value(false), 0},
        ConversionCase{Value(true), Type::kText, Value(Text(u"True")), 0},
        ConversionCase{Value(int16_t{-5}), Type::kText, Value(Text(u"-5")), 0},
        ConversionCase{Value(0.1), Type::kText, Value(Text(u"0.1")), 0},
        ConversionCase{Value(1e20), Type::kText, Value(Text(u"1E+20")), 0},
        ConversionCase{Value(1e15), Type::kText, Value(Text(u"1E+15")), 0},
        ConversionCase{Value(-999999999999999.0), Type::kText,
                       Value(Text(u"-999999999999999")), 0},
        ConversionCase{Value(Text(u"true")), Type::kBoolean, Value(true), 0},
        ConversionCase{Value(Text(u"0")), Type::kBoolean, Value(false), 0},
        ConversionCase{Value(Text(u"yes")), Type::kBoolean, Value(), 13},
        ConversionCase{Value(int32_t{2}), Type::kBoolean, Value(true), 0}));

#ifndef _WIN32
// A program that switches to a locale with a decimal comma must still read
// and write numbers as scripts and files have them.
TEST(ByteCountTest, TakesDigitsWithAUnitOfPowersOf1024) {
  uint64_t bytes = 0;
  EXPECT_TRUE(ParseByteCount("512", &bytes));
  EXPECT_EQ(bytes, 512u);
  EXPECT_TRUE(ParseByteCount("64k", &bytes));
  EXPECT_EQ(bytes, 64u << 10);
  EXPECT_TRUE(ParseByteCount("100M", &bytes));
  EXPECT_EQ(bytes, 100u << 20);
  EXPECT_TRUE(ParseByteCount("2G", &bytes));
  EXPECT_EQ(bytes, uint64_t{2} << 30);
  for (const char* wrong : {"", "0", "-1", "+1", "1.5G", "1T", "G", "1 G",
                            "17179869184G", "18446744073709551616"}) {
    EXPECT_FALSE(ParseByteCount(wrong, &bytes)) << wrong;
  }
}

TEST(ConversionTest, NumbersIgnoreTheProcessLocale) {
  testing::TempDir dir;
  const std::string make = "localedef -i de_DE -f UTF-8 '" +
                           dir.Path("de_DE.UTF-8") + "' >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef failed";
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  const bool comma = switched && *std::localeconv()->decimal_point == ',';
  EXPECT_TRUE(comma);
  EXPECT_EQ(ToInt32(Text(u"1.5")), 2);
  EXPECT_EQ(ParseNumber(u" -2.25e1 "), -22.5);
  EXPECT_EQ(ToText(1.5), u"1.5");
  EXPECT_EQ(ToText(1.0 / 3), u"0.333333333333333");
  EXPECT_EQ(ToText(-1.5e-7), u"-1.5E-07");
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
}
#endif

}  // namespace
}  // namespace pellar
