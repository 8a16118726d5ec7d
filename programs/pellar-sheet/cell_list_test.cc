// The packed cells of an update: what goes in comes out, in row and column
// order, the later of two values for one cell kept.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "workbook.h"

namespace pellar::sheet {
namespace {

SheetCell Make(int64_t row, int64_t col, std::string text, int style = 0) {
  SheetCell cell;
  cell.row = row;
  cell.col = col;
  cell.style = style;
  cell.value.text = std::move(text);
  return cell;
}

TEST(CellList, SortsAcrossBlocksTheLaterValueKept) {
  // Rows from the last to the first, more than one block of them, each
  // cell given twice; a formula and a number among them.
  CellList cells;
  constexpr int64_t kRows = 70000;
  for (int64_t row = kRows; row >= 1; --row) {
    cells.Add(Make(row, 2, "old " + std::to_string(row)));
    cells.Add(Make(row, 1, std::string(size_t(row % 40), 'x'), 3));
    cells.Add(Make(row, 2, "new " + std::to_string(row), int(row % 7)));
  }
  SheetCell number = Make(kMaxRows, kMaxCols, "");
  number.value.kind = CellValue::Kind::kNumber;
  number.value.number = -2.5;
  cells.Add(number);
  cells.Sort();
  ASSERT_EQ(cells.size(), size_t(2 * kRows + 1));
  for (int64_t row = 1; row <= kRows; ++row) {
    const SheetCell a = cells[size_t(2 * row - 2)];
    const SheetCell b = cells[size_t(2 * row - 1)];
    ASSERT_EQ(
        std::tuple(a.row, a.col, a.value.text, a.style),
        std::tuple(row, int64_t{1}, std::string(size_t(row % 40), 'x'), 3));
    ASSERT_EQ(std::tuple(b.row, b.col, b.value.text, b.style),
              std::tuple(row, int64_t{2}, "new " + std::to_string(row),
                         int(row % 7)));
  }
  const SheetCell last = cells[cells.size() - 1];
  EXPECT_EQ(std::tuple(last.row, last.col, last.value.kind, last.value.number),
            std::tuple(kMaxRows, kMaxCols, CellValue::Kind::kNumber, -2.5));
  EXPECT_EQ(cells.LowerBound(5, 2), 9u);
  EXPECT_EQ(cells.LowerBound(5, 3), 10u);
  EXPECT_EQ(cells.LowerBound(0, 0), 0u);
  EXPECT_EQ(cells.LowerBound(kMaxRows + 1, 1), cells.size());
}

}  // namespace
}  // namespace pellar::sheet
