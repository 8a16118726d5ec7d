// What a Cell holds, and its file routines: private to the library.
#ifndef PELLAR_WORKAREA_CELL_IMPL_H_
#define PELLAR_WORKAREA_CELL_IMPL_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include <pellar/base/grid.h>
#include <pellar/base/text.h>
#include <pellar/io/textfile.h>
#include <pellar/workarea/cell.h>

namespace pellar {

struct PELLAR_INTERNAL Cell::Impl {
  void LimitRows(int16_t max_lines);
  int32_t WriteShortLines(int32_t row, char separator, BlockWriter& out) const;
  void WriteDelimitedLine(int32_t row, TextView separator,
                          std::string_view separator_bytes,
                          BlockWriter& out) const;
  void LoadLines(std::string_view run, std::string_view separator,
                 int64_t* row);

  Grid grid_;
  std::vector<Text> column_tags_;
};

}  // namespace pellar

#endif  // PELLAR_WORKAREA_CELL_IMPL_H_
