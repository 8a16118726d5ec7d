// The cells of an update, packed: position, style, kind and number in 40
// bytes, the texts one after the other in one string.
#include <algorithm>

#include "workbook.h"

namespace pellar::sheet {

// A CellValue is a kind, a number and a text; a member added to it must be
// packed here too.
static_assert(sizeof(CellValue) == sizeof(std::string) + 2 * sizeof(double));

void CellList::Add(const SheetCell& cell) {
  cells_.push_back({texts_.size(), cell.value.number, uint32_t(cell.row),
                    uint32_t(cell.col), uint32_t(cell.value.text.size()),
                    int32_t(cell.style), cell.value.kind});
  texts_ += cell.value.text;
}

void CellList::Sort() {
  const auto before = [](const Packed& a, const Packed& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  if (!std::is_sorted(cells_.begin(), cells_.end(), before)) {
    std::stable_sort(cells_.begin(), cells_.end(), before);
  }
  size_t kept = 0;
  for (size_t i = 0; i < cells_.size(); ++i) {
    if (kept > 0 && cells_[kept - 1].row == cells_[i].row &&
        cells_[kept - 1].col == cells_[i].col) {
      --kept;
    }
    cells_[kept++] = cells_[i];
  }
  cells_.resize(kept);
}

SheetCell CellList::operator[](size_t i) const {
  const Packed& p = cells_[i];
  SheetCell cell;
  cell.row = p.row;
  cell.col = p.col;
  cell.style = p.style;
  cell.value.kind = p.kind;
  cell.value.number = p.number;
  cell.value.text.assign(texts_, size_t(p.text_at), p.text_size);
  return cell;
}

size_t CellList::LowerBound(int64_t row, int64_t col) const {
  return size_t(
      std::lower_bound(cells_.begin(), cells_.end(), std::pair{row, col},
                       [](const Packed& p, std::pair<int64_t, int64_t> at) {
                         return int64_t(p.row) != at.first
                                    ? int64_t(p.row) < at.first
                                    : int64_t(p.col) < at.second;
                       }) -
      cells_.begin());
}

}  // namespace pellar::sheet
