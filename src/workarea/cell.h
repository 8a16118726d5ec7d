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
#include <memory>
#include <string>
#include <string_view>

#include "frame/text.h"

namespace pellar {

class Cell {
 public:
  // Bytes a cell costs (value and format); Clear refuses a grid whose cells
  // at this cost exceed kMemoryShare of physical memory.
  static constexpr uint64_t kBytesPerCell = 2 * sizeof(Text);
  static constexpr uint64_t kMemoryShareDivisor = 2;  // at most half

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

  int32_t max_row() const { return max_row_; }
  int32_t max_col() const { return max_col_; }
  // The stored value and format text of (row, col) for C++ callers; "" when
  // outside the bounds or before Clear.
  Text value(int32_t row, int32_t col) const;
  Text format(int32_t row, int32_t col) const;

 private:
  // Index of (row, col) in the grids; the caller has checked the bounds
  // and that the grid exists.
  size_t At(int32_t row, int32_t col) const {
    return static_cast<size_t>(row) * stride_ + static_cast<size_t>(col);
  }
  // Fails with 9 when no grid exists.
  void RequireGrid() const;
  // "" when (row, col) is inside the bounds, else the range message.
  Text RangeMessage(int32_t row, int32_t col) const;
  // Sets `line` to the delimited-file line of `row` with its CR LF, in
  // Windows-1252; `separator_bytes` is `separator` converted.
  void WriteDelimitedLine(int32_t row, TextView separator,
                          std::string_view separator_bytes,
                          std::string& line) const;

  int32_t max_row_ = 0;
  int32_t max_col_ = 0;
  size_t stride_ = 0;  // columns per row of the allocated grid
  std::unique_ptr<Text[]> values_;
  std::unique_ptr<Text[]> formats_;
  std::unique_ptr<Text[]> column_tags_;
};

}  // namespace pellar

#endif  // PELLAR_WORKAREA_CELL_H_
