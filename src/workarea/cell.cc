#include <pellar/base/text_internal.h>
#include <pellar/workarea/cell.h>

#include <utility>

#include <pellar/base/failure.h>
#include <pellar/platform/platform.h>
#include <pellar/workarea/cell_impl.h>

namespace pellar {

Cell::Cell() : impl_(std::make_unique<Impl>()) {}
Cell::~Cell() = default;

int32_t Cell::max_row() const { return impl_->grid_.max_row(); }
int32_t Cell::max_col() const { return impl_->grid_.max_col(); }

Text Cell::value(int32_t row, int32_t col) const {
  if (!impl_->grid_.exists() || !impl_->grid_.Contains(row, col)) return {};
  return impl_->grid_.texts().Get(impl_->grid_.At(row, col));
}

Text Cell::format(int32_t row, int32_t col) const {
  if (!impl_->grid_.exists() || !impl_->grid_.Contains(row, col)) return {};
  return impl_->grid_.formats().Get(impl_->grid_.At(row, col));
}

Text Cell::Clear(int32_t Rows, int32_t& Cols) {
  if (Rows < 0 || Cols < 0) throw Failure(error::kSubscriptOutOfRange);
  Grid grid(Rows, Cols, Platform::Current().PhysicalMemory());
  std::vector<Text> tags(static_cast<size_t>(Cols) + 1);
  impl_->grid_ = std::move(grid);
  impl_->column_tags_ = std::move(tags);
  return u"Pellar Work Area Created (" + Decimal(Rows) + u" x " +
         Decimal(Cols) + u")";
}

Text Cell::SaveValue(int32_t Row, int32_t Col, Text& sValue, Text& Delimiter) {
  Text message = impl_->grid_.RangeMessage(Row, Col);
  if (!message.empty()) return message;
  impl_->grid_.Require();
  impl_->grid_.texts().Set(impl_->grid_.At(Row, Col), sValue, Delimiter, Delimiter);
  return sValue;
}

Text Cell::SaveFormat(int32_t Row, int32_t Col, Text& FormatProperty,
                      Text& FormatValue) {
  Text message = impl_->grid_.RangeMessage(Row, Col);
  if (!message.empty()) return message;
  impl_->grid_.Require();
  Text added = FormatProperty;
  added += u'=';
  added += FormatValue;
  impl_->grid_.formats().Append(impl_->grid_.At(Row, Col), added);
  return FormatValue;
}

Text Cell::CopyFormat(int16_t& FromRow, int16_t& FromCol, int16_t& StartRow,
                      int16_t& StartCol, int16_t& EndRow, int16_t& EndCol) {
  const int32_t max_row = impl_->grid_.max_row(), max_col = impl_->grid_.max_col();
  struct Check {
    const char16_t* what;
    int16_t index;
    int32_t bound;
    bool ok;
  };
  const Check checks[] = {
      {u"From Row", FromRow, max_row, Grid::Inside(FromRow, max_row)},
      {u"From Column", FromCol, max_col, Grid::Inside(FromCol, max_col)},
      {u"Start Row", StartRow, max_row, Grid::Inside(StartRow, max_row)},
      {u"Start Column", StartCol, max_col, Grid::Inside(StartCol, max_col)},
      {u"End Row", EndRow, max_row, Grid::Inside(EndRow, max_row)},
      {u"End Column", EndCol, max_col, Grid::Inside(EndCol, max_col)},
      {u"End Row", EndRow, StartRow, EndRow >= StartRow},
      {u"End Column", EndCol, StartCol, EndCol >= StartCol},
  };
  for (const Check& check : checks) {
    if (!check.ok) return Grid::BoundMessage(check.what, check.index, check.bound);
  }
  impl_->grid_.Require();
  const Text format = impl_->grid_.formats().Get(impl_->grid_.At(FromRow, FromCol));
  // One call copies the text into up to 2^30 cells: refuse, before copying,
  // copies that would take more than the share of memory a grid may have.
  const uint64_t cells = static_cast<uint64_t>(EndRow - StartRow + 1) *
                         static_cast<uint64_t>(EndCol - StartCol + 1);
  if (cells * format.size() * sizeof(char16_t) >
      Grid::MemoryShare(Platform::Current().PhysicalMemory())) {
    throw Failure(error::kOutOfMemory);
  }
  // 32-bit counters: a rectangle reaching index 32767 copies cleanly.
  for (int32_t r = StartRow; r <= EndRow; ++r) {
    for (int32_t c = StartCol; c <= EndCol; ++c) {
      impl_->grid_.formats().Set(impl_->grid_.At(r, c), format);
    }
  }
  return u"Format Copied";
}

Text Cell::GetValue(int32_t Row, int32_t Col, Text& Delimiter) {
  if (!impl_->grid_.Contains(Row, Col)) return Text();
  impl_->grid_.Require();
  const Text value = impl_->grid_.texts().Get(impl_->grid_.At(Row, Col));
  // One delimiter character at most comes off each end.
  size_t begin = 0, end = value.size();
  if (Delimiter.size() == 1) {
    if (end > 0 && value[0] == Delimiter[0]) begin = 1;
    if (end > begin && value[end - 1] == Delimiter[0]) --end;
  }
  return value.substr(begin, end - begin);
}

Text Cell::Pad(Text& s, int16_t& l) {
  if (l < 0) throw Failure(error::kInvalidCall);
  const size_t length = static_cast<size_t>(l);
  if (s.size() > length) return s.substr(0, length);
  if (s.size() < length) s.append(length - s.size(), u' ');
  return s;
}

Text Cell::FormatCSVData(Text& s) {
  Text out;
  out.reserve(s.size() + 2);
  bool comma = false;
  for (char16_t c : s) {
    if (c == u'"') out += u'"';
    if (c == u',') comma = true;
    out += c;
  }
  if (comma) return u"\"" + out + u"\"";
  return out;
}

}  // namespace pellar
