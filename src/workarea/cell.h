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

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT Cell {
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

  int32_t max_row() const;
  int32_t max_col() const;
  Text value(int32_t row, int32_t col) const;
  Text format(int32_t row, int32_t col) const;

  Cell();
  ~Cell();
  Cell(const Cell&) = delete;
  Cell& operator=(const Cell&) = delete;

 private:
  // The grid, the column tags and the file routines (cell_impl.h): kept out
  // of the installed header.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pellar

#endif  // PELLAR_WORKAREA_CELL_H_
