#include <pellar/workarea/cell.h>

#include <gtest/gtest.h>

#include <pellar/base/failure.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using ::pellar::testing::FailureOf;

class CellTest : public ::testing::Test {
 protected:
  Text Clear(int32_t rows, int32_t cols) { return cell_.Clear(rows, cols); }
  Text Save(int32_t r, int32_t c, Text v, Text d = u"") {
    return cell_.SaveValue(r, c, v, d);
  }
  Text Format(int32_t r, int32_t c, Text p, Text v) {
    return cell_.SaveFormat(r, c, p, v);
  }
  Text Get(int32_t r, int32_t c, Text d = u"") { return cell_.GetValue(r, c, d); }
  Text Copy(int16_t fr, int16_t fc, int16_t sr, int16_t sc, int16_t er,
            int16_t ec) {
    return cell_.CopyFormat(fr, fc, sr, sc, er, ec);
  }

  Cell cell_;
};

TEST_F(CellTest, ClearAnswersItsSizeAndStartsEmpty) {
  EXPECT_EQ(Clear(0, 0), u"Pellar Work Area Created (0 x 0)");
  EXPECT_EQ(Clear(10, 3), u"Pellar Work Area Created (10 x 3)");
  Save(10, 3, u"x");
  Clear(10, 3);
  EXPECT_EQ(Get(10, 3), u"");
}

struct MessageCase {
  int32_t row, col;
  const char16_t* answer;
};

class SaveValueMessagesTest : public CellTest,
                              public ::testing::WithParamInterface<MessageCase> {
};

TEST_P(SaveValueMessagesTest, RowIsCheckedBeforeColumn) {
  Clear(10, 3);
  const MessageCase& c = GetParam();
  EXPECT_EQ(Save(c.row, c.col, u"v"), c.answer);
  Text p = u"B", v = u"1";
  EXPECT_EQ(cell_.SaveFormat(c.row, c.col, p, v),
            Text(c.answer) == u"v" ? Text(u"1") : Text(c.answer));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SaveValueMessagesTest,
    ::testing::Values(
        MessageCase{10, 3, u"v"}, MessageCase{0, 0, u"v"},
        MessageCase{11, 0, u"Row number (11) must be less than10"},
        MessageCase{-1, 0, u"Row number (-1) must be less than10"},
        MessageCase{0, -1, u"Column number (-1) must be less than3"},
        MessageCase{0, 4, u"Column number (4) must be less than3"},
        MessageCase{99, 99, u"Row number (99) must be less than10"},
        MessageCase{INT32_MIN, 0,
                    u"Row number (-2147483648) must be less than10"}));

TEST_F(CellTest, ValuesCarryTheirDelimiterAndGetValueStripsOneEachEnd) {
  Clear(2, 2);
  EXPECT_EQ(Save(0, 0, u"abc", u"\""), u"abc");
  EXPECT_EQ(Get(0, 0, u"\""), u"abc");
  EXPECT_EQ(Get(0, 0, u""), u"\"abc\"");
  Save(0, 1, u"\"q\"", u"\"");
  EXPECT_EQ(Get(0, 1, u"\""), u"\"q\"");
  Save(1, 1, u"x", u"||");
  EXPECT_EQ(Get(1, 1, u"||"), u"||x||");
  EXPECT_EQ(Get(2, 2, u""), u"");
  EXPECT_EQ(Get(2, 2, u"\""), u"");
  EXPECT_EQ(Get(3, 0, u""), u"");
  EXPECT_EQ(Get(0, -1, u""), u"");
}

TEST_F(CellTest, FormatsAppendWithoutSeparator) {
  Clear(1, 1);
  EXPECT_EQ(Format(1, 1, u"Bold", u"1"), u"1");
  Format(1, 1, u"Italic", u"1");
  Format(0, 0, u"Bold", u"0");
  EXPECT_EQ(cell_.format(1, 1), u"Bold=1Italic=1");
  // Copying replaces the rectangle's formats; the source may lie inside.
  EXPECT_EQ(Copy(1, 1, 0, 0, 1, 1), u"Format Copied");
  EXPECT_EQ(cell_.format(0, 0), u"Bold=1Italic=1");
  EXPECT_EQ(cell_.format(1, 0), u"Bold=1Italic=1");
  EXPECT_EQ(cell_.format(1, 1), u"Bold=1Italic=1");
  EXPECT_EQ(cell_.value(1, 1), u"");
}

struct CopyCase {
  int16_t fr, fc, sr, sc, er, ec;
  const char16_t* answer;
};

class CopyFormatMessagesTest : public CellTest,
                               public ::testing::WithParamInterface<CopyCase> {
};

TEST_P(CopyFormatMessagesTest, ChecksRunInOrder) {
  Clear(5, 4);
  const CopyCase& c = GetParam();
  EXPECT_EQ(Copy(c.fr, c.fc, c.sr, c.sc, c.er, c.ec), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Order, CopyFormatMessagesTest,
    ::testing::Values(
        CopyCase{6, 9, 9, 9, 9, 9, u"From Row number (6) must be less than5"},
        CopyCase{0, 5, 9, 9, 9, 9, u"From Column number (5) must be less than4"},
        CopyCase{0, 0, -1, 9, 9, 9, u"Start Row number (-1) must be less than5"},
        CopyCase{0, 0, 0, 5, 9, 9,
                 u"Start Column number (5) must be less than4"},
        CopyCase{0, 0, 0, 0, 6, 9, u"End Row number (6) must be less than5"},
        CopyCase{0, 0, 0, 0, 0, -2, u"End Column number (-2) must be less than4"},
        CopyCase{0, 0, 2, 0, 1, 0, u"End Row number (1) must be less than2"},
        CopyCase{0, 0, 0, 3, 0, 2, u"End Column number (2) must be less than3"},
        CopyCase{0, 0, 0, 0, 5, 4, u"Format Copied"}));

TEST_F(CellTest, CopyFormatReachesIndex32767) {
  Clear(32767, 1);
  Format(0, 1, u"B", u"1");
  EXPECT_EQ(Copy(0, 1, 0, 0, 32767, 1), u"Format Copied");
  EXPECT_EQ(cell_.format(32767, 0), u"B=1");
}

TEST_F(CellTest, GridMethodsBeforeClearFailWithSubscriptOutOfRange) {
  EXPECT_EQ(FailureOf([&] { Save(0, 0, u"x"); }), error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Format(0, 0, u"a", u"b"); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Get(0, 0); }), error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Copy(0, 0, 0, 0, 0, 0); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(Save(1, 0, u"x"), u"Row number (1) must be less than0");
}

TEST_F(CellTest, ClearRefusesNegativeAndUnholdableSizes) {
  Clear(3, 3);
  Save(3, 3, u"kept");
  EXPECT_EQ(FailureOf([&] { Clear(-1, 3); }), error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Clear(3, -1); }), error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Clear(INT32_MAX, INT32_MAX); }),
            error::kOutOfMemory);
  EXPECT_EQ(FailureOf([&] { Clear(INT32_MAX, 0); }), error::kOutOfMemory);
  // A refused size leaves the previous work area as it was.
  EXPECT_EQ(cell_.max_row(), 3);
  EXPECT_EQ(cell_.max_col(), 3);
  EXPECT_EQ(Get(3, 3), u"kept");
}

TEST_F(CellTest, ClearCapFollowsPhysicalMemory) {
  struct SmallMachine : testing::FakePlatform {
    uint64_t PhysicalMemory() override { return 64 * 1024 * 1024; }
  } small;
  ScopedPlatform scope(small);
  // 64 MiB / 2 / 64 bytes: 524,288 cells at most.
  EXPECT_EQ(FailureOf([&] { Clear(1023, 1023); }), error::kOutOfMemory);
  EXPECT_EQ(Clear(511, 1023), u"Pellar Work Area Created (511 x 1023)");
}

TEST_F(CellTest, PadCutsOrFillsTheCallersText) {
  Text s = u"abc";
  int16_t l = 5;
  EXPECT_EQ(cell_.Pad(s, l), u"abc  ");
  EXPECT_EQ(s, u"abc  ");
  l = 2;
  EXPECT_EQ(cell_.Pad(s, l), u"ab");
  EXPECT_EQ(s, u"abc  ");
  l = 0;
  EXPECT_EQ(cell_.Pad(s, l), u"");
  l = 32767;
  Text empty;
  EXPECT_EQ(cell_.Pad(empty, l).size(), 32767u);
  EXPECT_EQ(empty.size(), 32767u);
  l = -1;
  EXPECT_EQ(FailureOf([&] { cell_.Pad(s, l); }), error::kInvalidCall);
}

struct CsvCase {
  const char16_t* in;
  const char16_t* out;
};

class FormatCsvTest : public CellTest,
                      public ::testing::WithParamInterface<CsvCase> {};

TEST_P(FormatCsvTest, QuotesOnlyForCommas) {
  Text s = GetParam().in;
  EXPECT_EQ(cell_.FormatCSVData(s), GetParam().out);
  EXPECT_EQ(s, GetParam().in);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FormatCsvTest,
    ::testing::Values(CsvCase{u"", u""}, CsvCase{u"plain", u"plain"},
                      CsvCase{u"say \"hi\"", u"say \"\"hi\"\""},
                      CsvCase{u"a,b", u"\"a,b\""},
                      CsvCase{u"\"x\",y", u"\"\"\"x\"\",y\""},
                      CsvCase{u"line\r\nbreak;tab\t", u"line\r\nbreak;tab\t"}));

TEST_F(CellTest, FormatCsvHandlesLongTexts) {
  Text s(40000, u',');
  EXPECT_EQ(cell_.FormatCSVData(s).size(), 40002u);
}

}  // namespace
}  // namespace pellar
