// PellarLib.Table: HTML tables built cell by cell.
//
// BuildNew(Rows, Cols) makes a grid with inclusive bounds (at least 1 x 1);
// LoadCell and AppendCell fill it; Save renders it after the tables
// committed by earlier BuildNew calls into the instance's table document
// text, which GetText hands out. Nothing in the grid is escaped.
#ifndef PELLAR_TABLE_TABLE_H_
#define PELLAR_TABLE_TABLE_H_

#include <cstdint>
#include <vector>

#include "frame/text.h"

namespace pellar {

class Table {
 public:
  // Bytes a grid cell costs (text and format); BuildNew refuses a grid whose
  // cells at this cost exceed half of physical memory.
  static constexpr uint64_t kBytesPerCell = 2 * sizeof(Text);

  Text Clear();
  Text BuildNew(int32_t Rows, int32_t& Cols);
  Text LoadCell(int32_t Row, int32_t Col, Text& StringValue, Text& CellFormat);
  Text AppendCell(int32_t Row, int32_t Col, Text& StringValue);
  Text Save(Text& ReplaceTag, Text& TableFormat);
  // The table document text: the committed tables and the last Save.
  Text GetText();

 private:
  struct Entry {
    Text text;
    Text format;
  };

  // The bounds message for (row, col), or "" when both are inside.
  Text RangeMessage(int32_t row, int32_t col) const;
  // The grid entry of (row, col); fails with 9 when no grid exists. The
  // caller has checked the bounds.
  Entry& At(int32_t row, int32_t col);
  // The row's highest column with a text or a format, 0 when none.
  int32_t LastColumn(int32_t row) const;
  // Appends the table document text to `out`: the committed text and this
  // table's block. Throws 9 without a grid and 6 for a row whose last column
  // exceeds 16 bits, leaving in `out` what was built.
  void Render(TextView replace_tag, TextView table_format, Text& out) const;

  std::vector<Entry> grid_;  // row-major, (max_row_ + 1) x (max_col_ + 1)
  bool has_grid_ = false;
  int32_t max_row_ = 0;
  int32_t max_col_ = 0;
  // Characters of all cell texts and formats, for sizing the rendering.
  size_t text_chars_ = 0;
  size_t format_chars_ = 0;
  Text committed_text_;
  Text table_text_;
};

}  // namespace pellar

#endif  // PELLAR_TABLE_TABLE_H_
