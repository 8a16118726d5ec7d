// The cells of an update, packed: position, style, kind and number in 40
// bytes, the texts one after the other in one string.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "workbook.h"

namespace pellar::sheet {

// A CellValue is a kind, a number, a text and a date's format; a member
// added to it must be packed here too.
static_assert(sizeof(CellValue) == sizeof(std::string) + 2 * sizeof(double) +
                                       sizeof(std::string_view));

namespace {

uint8_t DateFormatIndex(std::string_view format) {
  for (size_t i = 1; i < std::size(kDateFormats); ++i) {
    if (format == kDateFormats[i]) return uint8_t(i);
  }
  return 0;
}

}  // namespace

void CellList::Free::operator()(Packed* block) const { std::free(block); }

void CellList::Add(const SheetCell& cell) {
  if (size_ == blocks_.size() * kPerBlock) {
    void* block = std::aligned_alloc(kBlockBytes, kBlockBytes);
    if (block == nullptr) throw std::bad_alloc();
    madvise(block, kBlockBytes, MADV_HUGEPAGE);  // a hint: fine if refused
    blocks_.emplace_back(static_cast<Packed*>(block));
  }
  At(size_++) = {texts_.size(),
                 cell.value.number,
                 uint32_t(cell.row),
                 uint32_t(cell.col),
                 uint32_t(cell.value.text.size()),
                 int32_t(cell.style),
                 cell.value.kind,
                 DateFormatIndex(cell.value.date_format)};
  texts_ += cell.value.text;
}

void CellList::Sort() {
  const auto before = [](const Packed& a, const Packed& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  bool sorted = true;
  for (size_t i = 1; i < size_ && sorted; ++i) {
    sorted = !before(At(i), At(i - 1));
  }
  if (!sorted) {  // rarely: a report writes its rows in order
    std::vector<Packed> all(size_);
    for (size_t i = 0; i < size_; ++i) all[i] = At(i);
    std::stable_sort(all.begin(), all.end(), before);
    for (size_t i = 0; i < size_; ++i) At(i) = all[i];
  }
  size_t kept = 0;
  for (size_t i = 0; i < size_; ++i) {
    if (kept > 0 && At(kept - 1).row == At(i).row &&
        At(kept - 1).col == At(i).col) {
      --kept;
    }
    At(kept++) = At(i);
  }
  size_ = kept;
}

SheetCell CellList::operator[](size_t i) const {
  const Packed& p = At(i);
  SheetCell cell;
  cell.row = p.row;
  cell.col = p.col;
  cell.style = p.style;
  cell.value.kind = p.kind;
  cell.value.number = p.number;
  cell.value.date_format = kDateFormats[p.date_format];
  cell.value.text.assign(texts_, size_t(p.text_at), p.text_size);
  return cell;
}

size_t CellList::LowerBound(int64_t row, int64_t col) const {
  size_t low = 0, high = size_;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const Packed& p = At(middle);
    if (int64_t(p.row) < row ||
        (int64_t(p.row) == row && int64_t(p.col) < col)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace pellar::sheet
