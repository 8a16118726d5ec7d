// PellarLib.Table: HTML tables built cell by cell.
#ifndef PELLAR_TABLE_TABLE_H_
#define PELLAR_TABLE_TABLE_H_

#include <cstdint>

#include "frame/text.h"

namespace pellar {

class Table {
 public:
  Text Clear();
  Text BuildNew(int32_t Rows, int32_t& Cols);
  Text LoadCell(int32_t Row, int32_t Col, Text& StringValue, Text& CellFormat);
  Text AppendCell(int32_t Row, int32_t Col, Text& StringValue);
  Text Save(Text& ReplaceTag, Text& TableFormat);
};

}  // namespace pellar

#endif  // PELLAR_TABLE_TABLE_H_
