// Currency and Single: rounding into Currency, the result subtype of each
// operator across subtypes, overflow at both ends, and printing.
#include "variant.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace pellar::script {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

Var Cur(int64_t ticks) { return Var::Currency(ticks); }
Var Str(const char* text) { return Var::String(FromUtf8(text)); }

int FailureOf(auto&& f) {
  try {
    f();
  } catch (const Failure& failure) {
    return failure.number();
  }
  return 0;
}

struct ToCurrencyCase {
  Var value;
  int64_t ticks;  // when no error
  int error;
};

class ToCurrencyTest : public testing::TestWithParam<ToCurrencyCase> {};

TEST_P(ToCurrencyTest, RoundsHalfToEvenAtTheFifthDecimal) {
  const ToCurrencyCase& c = GetParam();
  int64_t got = 0;
  EXPECT_EQ(FailureOf([&] { got = ToCurrency(c.value); }), c.error)
      << ToUtf8(ToStr(c.value));
  if (c.error == 0) {
    EXPECT_EQ(got, c.ticks) << ToUtf8(ToStr(c.value));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Currency, ToCurrencyTest,
    testing::Values(ToCurrencyCase{Var::Double(1234.56789), 12345679, 0},
                    ToCurrencyCase{Var::Double(0.00005), 0, 0},
                    ToCurrencyCase{Var::Double(0.00015), 2, 0},
                    ToCurrencyCase{Var::Double(0.00025), 2, 0},
                    ToCurrencyCase{Var::Double(-0.00025), -2, 0},
                    ToCurrencyCase{Var::Double(-0.00035), -4, 0},
                    ToCurrencyCase{Var::Double(2.50005), 25000, 0},
                    ToCurrencyCase{Var::Double(1e14), 1000000000000000000, 0},
                    ToCurrencyCase{Var::Integer(-3), -30000, 0},
                    ToCurrencyCase{Var::Bool(true), -10000, 0},
                    ToCurrencyCase{Str("1,234.5"), 12345000, 0},
                    ToCurrencyCase{Str(" 0.00025 "), 2, 0},
                    ToCurrencyCase{Str("0.000250001"), 3, 0},
                    ToCurrencyCase{Str("1e-4"), 1, 0},
                    ToCurrencyCase{Str("922337203685477.5807"), kMax, 0},
                    ToCurrencyCase{Str("-922337203685477.5808"), kMin, 0},
                    ToCurrencyCase{Str("922337203685477.58074"), kMax, 0},
                    ToCurrencyCase{Str("922337203685477.58075"), 0, 6},
                    ToCurrencyCase{Str("-922337203685477.5809"), 0, 6},
                    ToCurrencyCase{Var::Double(1e15), 0, 6},
                    ToCurrencyCase{Var::Double(-1e15), 0, 6},
                    ToCurrencyCase{Var::Double(1e300), 0, 6},
                    ToCurrencyCase{Var::Double(1e-40), 0, 0},
                    ToCurrencyCase{
                        Str("1000000000000000000000000000000000000000000"), 0,
                        6},
                    ToCurrencyCase{Str("abc"), 0, 13},
                    ToCurrencyCase{Var::Null(), 0, 94}));

struct ArithmeticCase {
  BinOp op;
  Var a;
  Var b;
  VType type;  // of the result, when no error
  const char* text;
  int error;
};

class MixedArithmeticTest : public testing::TestWithParam<ArithmeticCase> {};

TEST_P(MixedArithmeticTest, GivesTheSubtypeOfTheReference) {
  const ArithmeticCase& c = GetParam();
  Var r;
  EXPECT_EQ(FailureOf([&] { r = Binary(c.op, c.a, c.b); }), c.error) << c.text;
  if (c.error != 0) return;
  EXPECT_EQ(static_cast<int>(r.type()), static_cast<int>(c.type)) << c.text;
  EXPECT_EQ(ToUtf8(ToStr(r)), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Currency, MixedArithmeticTest,
    testing::Values(
        // + and -: Currency with any number stays Currency.
        ArithmeticCase{BinOp::kAdd, Cur(15000), Var::Integer(1),
                       VType::kCurrency, "2.5", 0},
        ArithmeticCase{BinOp::kAdd, Cur(15000), Var::Double(0.25),
                       VType::kCurrency, "1.75", 0},
        ArithmeticCase{BinOp::kSub, Var::Single(1), Cur(2500), VType::kCurrency,
                       "0.75", 0},
        ArithmeticCase{BinOp::kAdd, Cur(1), Str("1,000"), VType::kCurrency,
                       "1000.0001", 0},
        ArithmeticCase{BinOp::kAdd, Cur(kMax), Cur(1), VType::kEmpty, "", 6},
        ArithmeticCase{BinOp::kSub, Cur(kMin), Var::Integer(1), VType::kEmpty,
                       "", 6},
        // *: with whole numbers and Currency, Currency; else Double.
        ArithmeticCase{BinOp::kMul, Cur(25000), Var::Long(3), VType::kCurrency,
                       "7.5", 0},
        ArithmeticCase{BinOp::kMul, Cur(1000), Cur(1000), VType::kCurrency,
                       "0.01", 0},
        ArithmeticCase{BinOp::kMul, Cur(1), Cur(5000), VType::kCurrency, "0",
                       0},
        ArithmeticCase{BinOp::kMul, Cur(3), Cur(5000), VType::kCurrency,
                       "0.0002", 0},
        ArithmeticCase{BinOp::kMul, Cur(20000), Var::Double(1.5),
                       VType::kDouble, "3", 0},
        ArithmeticCase{BinOp::kMul, Cur(20000), Var::Single(1.5),
                       VType::kDouble, "3", 0},
        ArithmeticCase{BinOp::kMul, Cur(kMax), Var::Integer(2), VType::kEmpty,
                       "", 6},
        ArithmeticCase{BinOp::kMul, Cur(kMin), Var::Integer(-1), VType::kEmpty,
                       "", 6},
        // / gives a Double; \ and Mod a Long of the rounded operands.
        ArithmeticCase{BinOp::kDiv, Cur(100000), Var::Integer(4),
                       VType::kDouble, "2.5", 0},
        ArithmeticCase{BinOp::kIntDiv, Cur(75000), Var::Integer(2),
                       VType::kLong, "4", 0},
        ArithmeticCase{BinOp::kMod, Cur(65000), Var::Integer(4), VType::kLong,
                       "2", 0},
        ArithmeticCase{BinOp::kPow, Cur(20000), Var::Integer(2), VType::kDouble,
                       "4", 0},
        // Single with Single, Byte, Integer stays Single; with Long or
        // Double a Double.
        ArithmeticCase{BinOp::kAdd, Var::Single(1), Var::Integer(1),
                       VType::kSingle, "2", 0},
        ArithmeticCase{BinOp::kDiv, Var::Single(1), Var::Integer(3),
                       VType::kSingle, "0.3333333", 0},
        ArithmeticCase{BinOp::kMul, Var::Single(1.5), Var::Single(2),
                       VType::kSingle, "3", 0},
        ArithmeticCase{BinOp::kAdd, Var::Single(1), Var::Long(1),
                       VType::kDouble, "2", 0},
        ArithmeticCase{BinOp::kMul, Var::Single(0.5), Var::Double(0.1),
                       VType::kDouble, "0.05", 0},
        ArithmeticCase{BinOp::kMul, Var::Single(3e38), Var::Integer(10),
                       VType::kDouble, "3.00000000549776E+39", 0},
        // Comparisons across subtypes.
        ArithmeticCase{BinOp::kEq, Cur(10000), Var::Integer(1), VType::kBoolean,
                       "True", 0},
        ArithmeticCase{BinOp::kLt, Cur(kMax - 1), Cur(kMax), VType::kBoolean,
                       "True", 0},
        ArithmeticCase{BinOp::kEq, Var::Single(0.1), Var::Double(0.1),
                       VType::kBoolean, "False", 0},
        ArithmeticCase{BinOp::kGt, Cur(20000), Var::Single(1.5),
                       VType::kBoolean, "True", 0}));

TEST(CurrencyTest, NegationOverflowsOnlyAtTheLeastAmount) {
  EXPECT_EQ(ToUtf8(ToStr(Negate(Cur(kMax)))), "-922337203685477.5807");
  EXPECT_EQ(FailureOf([] { Negate(Cur(kMin)); }), 6);
  EXPECT_EQ(Negate(Var::Single(2)).type(), VType::kSingle);
}

TEST(CurrencyTest, PrintsWithoutExponentOrTrailingZeros) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"},
      {10, "0.001"},
      {-5000, "-0.5"},
      {12345679, "1234.5679"},
      {kMax, "922337203685477.5807"},
      {kMin, "-922337203685477.5808"},
  };
  for (const auto& [ticks, text] : cases)
    EXPECT_EQ(ToUtf8(CurrencyText(ticks)), text);
}

TEST(SingleTest, PrintsSevenSignificantDigits) {
  const std::pair<double, const char*> cases[] = {
      {1.0 / 3, "0.3333333"}, {12345678, "1.234568E+07"},
      {1234567, "1234567"},   {0.1, "0.1"},
      {1e-5, "1E-05"},        {-2.5, "-2.5"},
  };
  for (const auto& [value, text] : cases)
    EXPECT_EQ(ToUtf8(ToStr(Var::Single(value))), text) << value;
  EXPECT_EQ(FailureOf([] { Var::Single(1e39); }), 6);
}

}  // namespace
}  // namespace pellar::script
