// The worksheet of an existing workbook, streamed: its bytes are copied
// through unless a cell of the document replaces them.
#ifndef PELLAR_SHEET_SHEET_MERGER_H_
#define PELLAR_SHEET_SHEET_MERGER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "style_table.h"
#include "workbook.h"

namespace pellar::sheet {

// A range of cells such as "B1:B3" (or one cell).
struct Range {
  int64_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  std::string ref;
  bool Holds(int64_t row, int64_t col) const {
    return row >= r1 && row <= r2 && col >= c1 && col <= c2;
  }
};

bool ParseRange(std::string_view ref, Range* range);

class SheetMerger {
 public:
  // Writes through `out` (false: it could not); `styles` is null when no
  // cell brings a style. `warnings` gets what the user should know of
  // cells that were set.
  SheetMerger(std::function<bool(std::string_view)> out, const Plan& plan,
              const CellList& cells, StyleTable* styles,
              std::vector<std::string>* warnings);
  ~SheetMerger();
  SheetMerger(const SheetMerger&) = delete;
  SheetMerger& operator=(const SheetMerger&) = delete;

  // Whether a cell that held a formula was overwritten.
  bool replaced_formula() const;
  // The worksheet's bytes in pieces, `last` with the last; answers why the
  // worksheet cannot be updated, or "".
  [[nodiscard]] std::string Feed(std::string_view bytes, bool last);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_SHEET_MERGER_H_
