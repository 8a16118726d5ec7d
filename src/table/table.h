// PellarLib.Table: HTML tables built cell by cell.
//
// BuildNew(Rows, Cols) makes a grid with inclusive bounds (at least 1 x 1);
// LoadCell and AppendCell fill it; Save renders it after the tables
// committed by earlier BuildNew calls into the instance's table document
// text, which GetText hands out. Nothing in the grid is escaped.
#ifndef PELLAR_TABLE_TABLE_H_
#define PELLAR_TABLE_TABLE_H_

#include <cstdint>
#include <memory>

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT Table {
 public:
  Text Clear();
  Text BuildNew(int32_t Rows, int32_t& Cols);
  Text LoadCell(int32_t Row, int32_t Col, Text& StringValue, Text& CellFormat);
  Text AppendCell(int32_t Row, int32_t Col, Text& StringValue);
  Text Save(Text& ReplaceTag, Text& TableFormat);
  // The table document text: the committed tables and the last Save.
  Text GetText();

  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

 private:
  // The grid and the document (table.cc): kept out of the installed header.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pellar

#endif  // PELLAR_TABLE_TABLE_H_
