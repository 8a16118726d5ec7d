// PellarLib.Cell: one work area, a grid of cell values and format texts that
// a report fills one call per cell, and the files written from it or read
// into it.
//
// Bounds are inclusive: Clear(Rows, Cols) makes (Rows + 1) x (Cols + 1)
// cells. A new instance has both bounds 0 and no grid; a range-tested method
// then fails with 9 "Subscript out of range" for row 0, column 0.
#ifndef PELLAR_WORKAREA_CELL_H_
#define PELLAR_WORKAREA_CELL_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/grid.h"
#include "base/text.h"
#include "io/textfile.h"

namespace pellar {

class Cell {
 public:
  // --- Grid (always available) ---
  Text Clear(int32_t Rows, int32_t& Cols);
  Text SaveValue(int32_t Row, int32_t Col, Text& sValue, Text& Delimiter);
  Text SaveFormat(int32_t Row, int32_t Col, Text& FormatProperty,
                  Text& FormatValue);
  Text CopyFormat(int16_t& FromRow, int16_t& FromCol, int16_t& StartRow,
                  int16_t& StartCol, int16_t& EndRow, int16_t& EndCol);
  Text GetValue(int32_t Row, int32_t Col, Text& Delimiter);
  Text Pad(Text& s, int16_t& l);
  Text FormatCSVData(Text& s);

  // --- Files (cell_files.cc) ---
  Text SaveFile(Text& Filename, Text& Separator, int16_t& MaxLines);
  Text SaveWorkSheet(Text& ControlFile, Text& ExcelFilename, Text& WorkSheet);
  Text LoadFile(Text& Filename, Text& Seperator);
  Text SetXMLTag(int16_t& Col, Text& Tag);
  Text SaveXMLFile(Text& Filename, Text& XMLDoc, Text& XMLRecord,
                   int16_t& MaxLines);
  Text Lookup(Text& Filename, int16_t& KeyCol, Text& Key, int16_t& ColNo,
              Text& Seperator);

  int32_t max_row() const { return grid_.max_row(); }
  int32_t max_col() const { return grid_.max_col(); }
  // The stored value and format text of (row, col) for C++ callers; "" when
  // outside the bounds or before Clear.
  Text value(int32_t row, int32_t col) const;
  Text format(int32_t row, int32_t col) const;

 private:
  // Lowers MaxRow to `max_lines` when that is not 0 and lower.
  void LimitRows(int16_t max_lines);
  // Adds the delimited-file lines from `row` on while every cell of a line
  // is a short text held as bytes, `separator` being the one byte that
  // stands for the separator; answers the first row not written.
  int32_t WriteShortLines(int32_t row, char separator, BlockWriter& out) const;
  // Adds the delimited-file line of `row` with its CR LF to `out`;
  // `separator_bytes` is `separator` converted.
  void WriteDelimitedLine(int32_t row, TextView separator,
                          std::string_view separator_bytes,
                          BlockWriter& out) const;
  // Stores the non-empty fields of the lines of `run` (whole lines from
  // AnsiLineReader::NextLines) from row `*row` on.
  void LoadLines(std::string_view run, std::string_view separator,
                 int64_t* row);

  Grid grid_;
  std::vector<Text> column_tags_;
};

}  // namespace pellar

#endif  // PELLAR_WORKAREA_CELL_H_
