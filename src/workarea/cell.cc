#include "workarea/cell.h"

#include <new>

#include "frame/failure.h"
#include "platform/platform.h"

namespace pellar {
namespace {

Text BoundMessage(TextView what, int64_t n, int64_t bound) {
  Text message(what);
  message += u" number (";
  message += Decimal(n);
  message += u") must be less than";
  message += Decimal(bound);
  return message;
}

bool Inside(int64_t index, int64_t bound) { return index >= 0 && index <= bound; }

// The bytes a work area may take on a machine with `memory` bytes (0 when
// unknown).
uint64_t MemoryShare(uint64_t memory) {
  if (memory == 0) memory = uint64_t{1} << 32;
  return memory / Cell::kMemoryShareDivisor;
}

}  // namespace

void Cell::RequireGrid() const {
  if (!values_) throw Failure(error::kSubscriptOutOfRange);
}

Text Cell::RangeMessage(int32_t row, int32_t col) const {
  if (!Inside(row, max_row_)) return BoundMessage(u"Row", row, max_row_);
  if (!Inside(col, max_col_)) return BoundMessage(u"Column", col, max_col_);
  return Text();
}

Text Cell::value(int32_t row, int32_t col) const {
  if (!values_ || !Inside(row, max_row_) || !Inside(col, max_col_)) return {};
  return values_[At(row, col)];
}

Text Cell::format(int32_t row, int32_t col) const {
  if (!formats_ || !Inside(row, max_row_) || !Inside(col, max_col_)) return {};
  return formats_[At(row, col)];
}

Text Cell::Clear(int32_t Rows, int32_t& Cols) {
  if (Rows < 0 || Cols < 0) throw Failure(error::kSubscriptOutOfRange);
  const uint64_t rows = static_cast<uint64_t>(Rows) + 1;
  const uint64_t cols = static_cast<uint64_t>(Cols) + 1;
  // Both factors are below 2^31, so the product cannot overflow 64 bits.
  const uint64_t cells = rows * cols;
  // Refuse, before allocating, what the machine could not hold: the host
  // process must never be killed by a report's sizes.
  const uint64_t share = MemoryShare(Platform::Current().PhysicalMemory());
  if (cells > share / kBytesPerCell || cells > SIZE_MAX / sizeof(Text)) {
    throw Failure(error::kOutOfMemory);
  }
  std::unique_ptr<Text[]> values, formats, tags;
  try {
    values.reset(new Text[cells]);
    formats.reset(new Text[cells]);
    tags.reset(new Text[cols]);
  } catch (const std::bad_alloc&) {
    throw Failure(error::kOutOfMemory);
  }
  values_ = std::move(values);
  formats_ = std::move(formats);
  column_tags_ = std::move(tags);
  stride_ = static_cast<size_t>(cols);
  max_row_ = Rows;
  max_col_ = Cols;
  return u"Pellar Work Area Created (" + Decimal(Rows) + u" x " +
         Decimal(Cols) + u")";
}

Text Cell::SaveValue(int32_t Row, int32_t Col, Text& sValue, Text& Delimiter) {
  Text message = RangeMessage(Row, Col);
  if (!message.empty()) return message;
  RequireGrid();
  Text& cell = values_[At(Row, Col)];
  cell.clear();
  cell.reserve(Delimiter.size() * 2 + sValue.size());
  cell += Delimiter;
  cell += sValue;
  cell += Delimiter;
  return sValue;
}

Text Cell::SaveFormat(int32_t Row, int32_t Col, Text& FormatProperty,
                      Text& FormatValue) {
  Text message = RangeMessage(Row, Col);
  if (!message.empty()) return message;
  RequireGrid();
  Text& format = formats_[At(Row, Col)];
  format += FormatProperty;
  format += u'=';
  format += FormatValue;
  return FormatValue;
}

Text Cell::CopyFormat(int16_t& FromRow, int16_t& FromCol, int16_t& StartRow,
                      int16_t& StartCol, int16_t& EndRow, int16_t& EndCol) {
  if (!Inside(FromRow, max_row_)) return BoundMessage(u"From Row", FromRow, max_row_);
  if (!Inside(FromCol, max_col_)) {
    return BoundMessage(u"From Column", FromCol, max_col_);
  }
  if (!Inside(StartRow, max_row_)) {
    return BoundMessage(u"Start Row", StartRow, max_row_);
  }
  if (!Inside(StartCol, max_col_)) {
    return BoundMessage(u"Start Column", StartCol, max_col_);
  }
  if (!Inside(EndRow, max_row_)) return BoundMessage(u"End Row", EndRow, max_row_);
  if (!Inside(EndCol, max_col_)) return BoundMessage(u"End Column", EndCol, max_col_);
  if (EndRow < StartRow) return BoundMessage(u"End Row", EndRow, StartRow);
  if (EndCol < StartCol) return BoundMessage(u"End Column", EndCol, StartCol);
  RequireGrid();
  const Text format = formats_[At(FromRow, FromCol)];
  // One call copies the text into up to 2^30 cells: refuse, before copying,
  // copies that would take more than the share of memory a grid may have.
  const uint64_t cells = static_cast<uint64_t>(EndRow - StartRow + 1) *
                         static_cast<uint64_t>(EndCol - StartCol + 1);
  if (cells * format.size() * sizeof(char16_t) >
      MemoryShare(Platform::Current().PhysicalMemory())) {
    throw Failure(error::kOutOfMemory);
  }
  try {
    // 32-bit counters: a rectangle reaching index 32767 copies cleanly.
    for (int32_t r = StartRow; r <= EndRow; ++r) {
      for (int32_t c = StartCol; c <= EndCol; ++c) formats_[At(r, c)] = format;
    }
  } catch (const std::bad_alloc&) {
    throw Failure(error::kOutOfMemory);
  }
  return u"Format Copied";
}

Text Cell::GetValue(int32_t Row, int32_t Col, Text& Delimiter) {
  if (!Inside(Row, max_row_) || !Inside(Col, max_col_)) return Text();
  RequireGrid();
  TextView value = values_[At(Row, Col)];
  if (Delimiter.size() == 1) {
    if (!value.empty() && value.front() == Delimiter[0]) value.remove_prefix(1);
    if (!value.empty() && value.back() == Delimiter[0]) value.remove_suffix(1);
  }
  return Text(value);
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
