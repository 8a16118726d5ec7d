#include <pellar/table/table.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/io/identity.h>
#include <pellar/testing/test_support.h>
#include <pellar/ufl/ufl.h>

namespace pellar {
namespace {

using testing::FakePlatform;
using testing::ReadBytes;
using testing::TempDir;

using ::pellar::testing::FailureOf;

class TableTest : public ::testing::Test {
 protected:
  TableTest() {
    platform_.module_folder = dir_.text();
    ClearActivityLog();
  }

  Text BuildNew(int32_t rows, int32_t cols) {
    return table_.BuildNew(rows, cols);
  }
  Text Load(int32_t row, int32_t col, Text value, Text format = u"") {
    return table_.LoadCell(row, col, value, format);
  }
  Text Append(int32_t row, int32_t col, Text value) {
    return table_.AppendCell(row, col, value);
  }
  Text Save(Text tag, Text format = u"") { return table_.Save(tag, format); }

  TempDir dir_;
  FakePlatform platform_;
  ScopedPlatform scope_{platform_};
  Table table_;
};

TEST_F(TableTest, BuildNewRaisesTheSizesAndTheCallersCols) {
  int32_t cols = 0;
  EXPECT_EQ(table_.BuildNew(0, cols), u"Table Created (1 x 1)");
  EXPECT_EQ(cols, 1);
  cols = -5;
  EXPECT_EQ(table_.BuildNew(-3, cols), u"Table Created (1 x 1)");
  EXPECT_EQ(cols, 1);
  cols = 4;
  EXPECT_EQ(table_.BuildNew(7, cols), u"Table Created (7 x 4)");
  EXPECT_EQ(cols, 4);
  // The grid has inclusive bounds.
  EXPECT_EQ(Load(7, 4, u"x"), u"x");
}

TEST_F(TableTest, BuildNewLogsTheReceivedAndTheRaisedSizes) {
  int32_t cols = -2;
  table_.BuildNew(0, cols);
  cols = 3;
  table_.BuildNew(5, cols);
  UFL ufl;
  ufl.Help(u"savelog");
  EXPECT_EQ(ReadBytes(dir_.Path("UFL.log")),
            "\r\n08-Dec-2026 14:05:09 Table BuildNew (Start) Rows=0 Cols=-2"
            "\r\n08-Dec-2026 14:05:09 Table BuildNew (Table Cleared) Rows=1 "
            "Cols=1"
            "\r\n08-Dec-2026 14:05:09 Table BuildNew (Start) Rows=5 Cols=3"
            "\r\n08-Dec-2026 14:05:09 Table BuildNew (Table Cleared) Rows=5 "
            "Cols=3\r\n");
}

TEST_F(TableTest, AGridTooLargeForTheMachineIsRefusedAndTheOldOneKept) {
  BuildNew(1, 1);
  Load(0, 0, u"kept");
  int32_t cols = INT32_MAX;
  EXPECT_EQ(FailureOf([&] { table_.BuildNew(INT32_MAX, cols); }),
            error::kOutOfMemory);
  EXPECT_EQ(Load(1, 1, u"x"), u"x");
  EXPECT_EQ(Load(2, 0, u"x"), u"Row number (2) must be less than1");
  Save(u"t");
  EXPECT_NE(table_.GetText().find(u"<td>kept</td>"), Text::npos);
}

TEST_F(TableTest, BoundsAreCheckedRowFirstAndLeaveTheGridAlone) {
  BuildNew(10, 3);
  struct Case {
    int32_t row, col;
    Text expected;
  };
  const std::vector<Case> cases = {
      {10, 3, u"v"},
      {0, 0, u"v"},
      {11, 0, u"Row number (11) must be less than10"},
      {-1, 0, u"Row number (-1) must be less than10"},
      {0, 4, u"Column number (4) must be less than3"},
      {0, -7, u"Column number (-7) must be less than3"},
      {12, 9, u"Row number (12) must be less than10"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.row, c.col, u"v", u"f"), c.expected)
        << c.row << "," << c.col;
    EXPECT_EQ(Append(c.row, c.col, u"v"), c.expected) << c.row << "," << c.col;
  }
  Save(u"t");
  // Only the two cells inside the bounds were written.
  EXPECT_EQ(table_.GetText().find(u"v</td>") != Text::npos, true);
  EXPECT_EQ(table_.GetText().find(u"<td f>vv</td>") != Text::npos, true);
}

TEST_F(TableTest, AppendCellAddsToTheTextAndKeepsTheFormat) {
  BuildNew(1, 1);
  EXPECT_EQ(Load(0, 0, u"", u"class=\"x\""), u"");
  EXPECT_EQ(Append(0, 0, u"a"), u"a");
  EXPECT_EQ(Append(0, 0, u"b"), u"b");
  // LoadCell replaces both, an empty format included.
  EXPECT_EQ(Load(1, 0, u"old", u"f"), u"old");
  EXPECT_EQ(Load(1, 0, u"new", u""), u"new");
  Save(u"t");
  EXPECT_EQ(table_.GetText(),
            u"<TableReplaceTag>t</TableReplaceTag>\r\n"
            u"<TableFormat></TableFormat>\r\n<table>"
            u"\r\n<tr>\r\n<td class=\"x\">ab</td>\r\n</tr>"
            u"\r\n<tr>\r\n<td>new</td>\r\n</tr>"
            u"\r\n</table>");
}

TEST_F(TableTest, SaveRendersEachRowUpToItsLastUsedColumn) {
  BuildNew(1, 2);
  Load(1, 1, u"A");
  EXPECT_EQ(Save(u"Tag", u"border=1"), u"Table saved for tag=Tag");
  EXPECT_EQ(table_.GetText(),
            u"<TableReplaceTag>Tag</TableReplaceTag>\r\n"
            u"<TableFormat>border=1</TableFormat>\r\n<table>"
            u"\r\n<tr>\r\n<td></td>\r\n</tr>"
            u"\r\n<tr>\r\n<td></td>\r\n<td>A</td>\r\n</tr>"
            u"\r\n</table>");
}

TEST_F(TableTest, FormattedEmptyCellsCountAndNothingIsEscaped) {
  BuildNew(2, 4);
  Load(0, 3, u"", u"bgcolor=red");
  Load(1, 0, u"<b>a & b</b>");
  Load(1, 4, u"", u"");
  Load(2, 2, u"x", u"align=\"right\"");
  Save(u"<&>", u"<fmt>");
  EXPECT_EQ(table_.GetText(),
            u"<TableReplaceTag><&></TableReplaceTag>\r\n"
            u"<TableFormat><fmt></TableFormat>\r\n<table>"
            u"\r\n<tr>\r\n<td></td>\r\n<td></td>\r\n<td></td>"
            u"\r\n<td bgcolor=red></td>\r\n</tr>"
            u"\r\n<tr>\r\n<td><b>a & b</b></td>\r\n</tr>"
            u"\r\n<tr>\r\n<td></td>\r\n<td></td>"
            u"\r\n<td align=\"right\">x</td>\r\n</tr>"
            u"\r\n</table>");
}

TEST_F(TableTest, TablesAccumulateAcrossBuildNewAndSaveReplacesTheLastBlock) {
  const Text first =
      u"<TableReplaceTag>one</TableReplaceTag>\r\n"
      u"<TableFormat></TableFormat>\r\n<table>"
      u"\r\n<tr>\r\n<td>1</td>\r\n</tr>\r\n<tr>\r\n<td></td>\r\n</tr>"
      u"\r\n</table>";
  BuildNew(1, 1);
  Load(0, 0, u"1");
  Save(u"one");
  EXPECT_EQ(table_.GetText(), first);

  BuildNew(1, 1);
  EXPECT_EQ(table_.GetText(), u"");
  Load(0, 0, u"2");
  Save(u"two");
  // Saving again re-renders the current table from the grid: one block.
  Load(1, 0, u"3");
  EXPECT_EQ(Save(u"two again", u"f"), u"Table saved for tag=two again");
  EXPECT_EQ(
      table_.GetText(),
      first +
          u"\r\n<TableReplaceTag>two again</TableReplaceTag>\r\n"
          u"<TableFormat>f</TableFormat>\r\n<table>"
          u"\r\n<tr>\r\n<td>2</td>\r\n</tr>\r\n<tr>\r\n<td>3</td>\r\n</tr>"
          u"\r\n</table>");
}

TEST_F(TableTest, ClearEmptiesOnlyTheDocumentText) {
  BuildNew(1, 1);
  Load(0, 0, u"1");
  Save(u"one");
  BuildNew(1, 1);
  Load(0, 0, u"2");
  Save(u"two");
  EXPECT_EQ(table_.Clear(), u"Table Work Area Now Empty");
  EXPECT_EQ(table_.GetText(), u"");
  // Without BuildNew, Save rebuilds from the committed first table and the
  // grid that is still there.
  Save(u"again");
  Text text = table_.GetText();
  EXPECT_EQ(text.find(u"<TableReplaceTag>one</TableReplaceTag>"), 0u);
  EXPECT_NE(text.find(u"\r\n<TableReplaceTag>again</TableReplaceTag>"),
            Text::npos);
  EXPECT_NE(text.find(u"<td>2</td>"), Text::npos);
  // BuildNew after Clear commits the empty text: a fresh document.
  table_.Clear();
  BuildNew(1, 1);
  Save(u"fresh");
  EXPECT_EQ(table_.GetText().find(u"<TableReplaceTag>fresh</TableReplaceTag>"),
            0u);
}

TEST_F(TableTest, WithoutAGridCellsAndSaveFailWithSubscriptOutOfRange) {
  EXPECT_EQ(Load(1, 0, u"x"), u"Row number (1) must be less than0");
  EXPECT_EQ(Append(0, 1, u"x"), u"Column number (1) must be less than0");
  EXPECT_EQ(FailureOf([&] { Load(0, 0, u"x"); }), error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Append(0, 0, u"x"); }),
            error::kSubscriptOutOfRange);
  EXPECT_EQ(FailureOf([&] { Save(u"t"); }), error::kSubscriptOutOfRange);
  // The text keeps what was built before the failure.
  EXPECT_EQ(table_.GetText(),
            u"<TableReplaceTag>t</TableReplaceTag>\r\n"
            u"<TableFormat></TableFormat>\r\n<table>");
  EXPECT_EQ(table_.Clear(), u"Table Work Area Now Empty");
}

TEST_F(TableTest, SaveOverflowsWhenALastColumnNeedsMoreThan16Bits) {
  BuildNew(2, 40000);
  Load(0, 32767, u"edge");
  Load(1, 32768, u"beyond");
  EXPECT_EQ(FailureOf([&] { Save(u"t"); }), error::kOverflow);
  Text text = table_.GetText();
  // Row 0 was rendered, row 1 stopped the rendering.
  EXPECT_NE(text.find(u"<td>edge</td>\r\n</tr>"), Text::npos);
  EXPECT_EQ(text.find(u"beyond"), Text::npos);
  EXPECT_EQ(text.find(u"</table>"), Text::npos);
  // Column 32767 itself is fine.
  Load(1, 32768, u"");
  EXPECT_EQ(Save(u"t"), u"Table saved for tag=t");
}

TEST_F(TableTest, GetTextIsSlotFiveOfTheInterface) {
  const ClassInfo* cls = FindClass(u"PellarLib.Table");
  ASSERT_NE(cls, nullptr);
  const MethodInfo* method = FindMethod(*cls, 0x60030005);
  ASSERT_NE(method, nullptr);
  EXPECT_EQ(method->name, u"GetText");
  EXPECT_TRUE(method->params.empty());
  EXPECT_EQ(method->result, Type::kText);
  EXPECT_EQ(FindMethod(*cls, 0x60030004)->name, u"Save");

  std::unique_ptr<Object> table = Object::Create(u"PellarLib.Table");
  Value rows = int32_t{1}, cols = int32_t{0}, tag = Text(u"T"),
        format = Text(u"");
  std::vector<Arg> build = {Arg::Ref(rows), Arg::Ref(cols)};
  Invoke(*table, u"BuildNew", build);
  EXPECT_EQ(std::get<int32_t>(cols), 1);
  std::vector<Arg> save = {Arg::Ref(tag), Arg::Ref(format)};
  Invoke(*table, u"Save", save);
  std::vector<Arg> none;
  Value text = Invoke(*table, *method, none);
  EXPECT_EQ(std::get<Text>(text),
            u"<TableReplaceTag>T</TableReplaceTag>\r\n"
            u"<TableFormat></TableFormat>\r\n<table>"
            u"\r\n<tr>\r\n<td></td>\r\n</tr>\r\n<tr>\r\n<td></td>\r\n</tr>"
            u"\r\n</table>");
}

}  // namespace
}  // namespace pellar
