// PellarLib.Table: HTML tables built cell by cell.
//
// BuildNew(Rows, Cols) makes a grid with inclusive bounds (at least 1 x 1);
// LoadCell and AppendCell fill it; Save renders it after the tables
// committed by earlier BuildNew calls into the instance's table document
// text, which GetText hands out. Nothing in the grid is escaped.
#ifndef PELLAR_TABLE_TABLE_H_
#define PELLAR_TABLE_TABLE_H_

#include <cstdint>
#include "base/grid.h"
#include "base/text.h"

namespace pellar {

class Table {
 public:
  Text Clear();
  Text BuildNew(int32_t Rows, int32_t& Cols);
  Text LoadCell(int32_t Row, int32_t Col, Text& StringValue, Text& CellFormat);
  Text AppendCell(int32_t Row, int32_t Col, Text& StringValue);
  Text Save(Text& ReplaceTag, Text& TableFormat);
  // The table document text: the committed tables and the last Save.
  Text GetText();

 private:
  // The row's highest column with a text or a format, 0 when none.
  int32_t LastColumn(int32_t row) const;
  // Appends this table's block to the document. Throws 9 without a grid
  // and 6 for a row whose last column exceeds 16 bits, leaving what was
  // built.
  void Render(TextView replace_tag, TextView table_format);

  Grid grid_;
  // The table document: the committed tables (the first committed_
  // characters) and the block of the last Save after them. BuildNew
  // commits by moving the mark; Save cuts back to it and appends.
  Text document_;
  size_t committed_ = 0;
  // Whether the document text is the document: only after a Save. BuildNew
  // and Clear empty the text, while the committed tables stay for the next
  // Save (after BuildNew, only those that a Save had shown).
  bool saved_ = false;
};

}  // namespace pellar

#endif  // PELLAR_TABLE_TABLE_H_
