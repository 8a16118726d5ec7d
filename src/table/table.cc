#include "table/table.h"

#include <new>
#include <stdexcept>

#include "frame/failure.h"
#include "frame/identity.h"
#include "platform/platform.h"

namespace pellar {
namespace {

// A row's last rendered column is held in 16 bits.
constexpr int32_t kMaxRenderedColumn = 32767;

constexpr TextView kCrLf = u"\r\n";
constexpr TextView kTagStart = u"<TableReplaceTag>";
constexpr TextView kTagEndFormatStart = u"</TableReplaceTag>\r\n<TableFormat>";
constexpr TextView kFormatEndTableStart = u"</TableFormat>\r\n<table>";
constexpr TextView kRowStart = u"\r\n<tr>";
constexpr TextView kRowEnd = u"\r\n</tr>";
constexpr TextView kPlainCellStart = u"\r\n<td>";
constexpr TextView kCellStart = u"\r\n<td ";
constexpr TextView kCellEnd = u"</td>";
constexpr TextView kTableEnd = u"\r\n</table>";

Text BoundMessage(TextView what, int32_t n, int32_t bound) {
  Text message(what);
  message += u" number (";
  message += Decimal(n);
  message += u") must be less than";
  message += Decimal(bound);
  return message;
}

bool Inside(int32_t index, int32_t bound) {
  return index >= 0 && index <= bound;
}

Text BuildNewLogLine(TextView stage, int32_t rows, int32_t cols) {
  return Text(u"Table BuildNew (") + Text(stage) + u") Rows=" + Decimal(rows) +
         u" Cols=" + Decimal(cols);
}

}  // namespace

Text Table::RangeMessage(int32_t row, int32_t col) const {
  if (!Inside(row, max_row_)) return BoundMessage(u"Row", row, max_row_);
  if (!Inside(col, max_col_)) return BoundMessage(u"Column", col, max_col_);
  return Text();
}

Table::Entry& Table::At(int32_t row, int32_t col) {
  if (!has_grid_) throw Failure(error::kSubscriptOutOfRange);
  return grid_[static_cast<size_t>(row) * (static_cast<size_t>(max_col_) + 1) +
               static_cast<size_t>(col)];
}

int32_t Table::LastColumn(int32_t row) const {
  const size_t stride = static_cast<size_t>(max_col_) + 1;
  const Entry* cells = grid_.data() + static_cast<size_t>(row) * stride;
  for (int32_t c = max_col_; c >= 0; --c) {
    if (!cells[c].text.empty() || !cells[c].format.empty()) return c;
  }
  return 0;
}

Text Table::Clear() {
  table_text_.clear();
  return u"Table Work Area Now Empty";
}

Text Table::BuildNew(int32_t Rows, int32_t& Cols) {
  LogLine(BuildNewLogLine(u"Start", Rows, Cols));
  if (Rows < 1) Rows = 1;
  if (Cols < 1) Cols = 1;
  const uint64_t cells =
      (static_cast<uint64_t>(Rows) + 1) * (static_cast<uint64_t>(Cols) + 1);
  uint64_t memory = Platform::Current().PhysicalMemory();
  if (memory == 0) memory = uint64_t{1} << 32;
  // Refuse, before allocating, what the machine could not hold: a report's
  // sizes must never bring the host process down.
  if (cells > memory / 2 / kBytesPerCell || cells > SIZE_MAX / sizeof(Entry)) {
    throw Failure(error::kOutOfMemory);
  }
  std::vector<Entry> grid;
  try {
    grid.resize(static_cast<size_t>(cells));
  } catch (const std::bad_alloc&) {
    throw Failure(error::kOutOfMemory);
  }
  LogLine(BuildNewLogLine(u"Table Cleared", Rows, Cols));
  grid_ = std::move(grid);
  has_grid_ = true;
  max_row_ = Rows;
  max_col_ = Cols;
  text_chars_ = 0;
  format_chars_ = 0;
  committed_text_ = std::move(table_text_);
  table_text_.clear();
  return u"Table Created (" + Decimal(Rows) + u" x " + Decimal(Cols) + u")";
}

Text Table::LoadCell(int32_t Row, int32_t Col, Text& StringValue,
                     Text& CellFormat) {
  Text message = RangeMessage(Row, Col);
  if (!message.empty()) return message;
  Entry& entry = At(Row, Col);
  const size_t old_text = entry.text.size(), old_format = entry.format.size();
  entry.text = StringValue;
  entry.format = CellFormat;
  text_chars_ = text_chars_ - old_text + entry.text.size();
  format_chars_ = format_chars_ - old_format + entry.format.size();
  return StringValue;
}

Text Table::AppendCell(int32_t Row, int32_t Col, Text& StringValue) {
  Text message = RangeMessage(Row, Col);
  if (!message.empty()) return message;
  Entry& entry = At(Row, Col);
  try {
    entry.text += StringValue;
    text_chars_ += StringValue.size();
  } catch (const std::bad_alloc&) {
    throw Failure(error::kOutOfMemory);
  } catch (const std::length_error&) {
    throw Failure(error::kOutOfMemory);
  }
  return StringValue;
}

void Table::Render(TextView replace_tag, TextView table_format,
                   Text& out) const {
  const size_t rows = has_grid_ ? static_cast<size_t>(max_row_) + 1 : 0;
  const size_t stride = static_cast<size_t>(max_col_) + 1;
  // Room for every cell rendered with a format, from the running totals:
  // one allocation and one pass over the grid. Trailing empty cells make it
  // an overestimate by at most their markup, less than the grid itself
  // takes, and untouched room costs no memory pages.
  const size_t markup_per_cell = kCellStart.size() + 1 + kCellEnd.size();
  out.reserve(
      (committed_text_.empty() ? 0 : committed_text_.size() + kCrLf.size()) +
      kTagStart.size() + replace_tag.size() + kTagEndFormatStart.size() +
      table_format.size() + kFormatEndTableStart.size() +
      rows * (kRowStart.size() + kRowEnd.size() + stride * markup_per_cell) +
      text_chars_ + format_chars_ + kTableEnd.size());

  if (!committed_text_.empty()) {
    out += committed_text_;
    out += kCrLf;
  }
  out += kTagStart;
  out += replace_tag;
  out += kTagEndFormatStart;
  out += table_format;
  out += kFormatEndTableStart;
  if (!has_grid_) throw Failure(error::kSubscriptOutOfRange);
  for (size_t r = 0; r < rows; ++r) {
    const int32_t last = LastColumn(static_cast<int32_t>(r));
    if (last > kMaxRenderedColumn) throw Failure(error::kOverflow);
    const Entry* cells = grid_.data() + r * stride;
    out += kRowStart;
    for (int32_t c = 0; c <= last; ++c) {
      if (cells[c].format.empty()) {
        out += kPlainCellStart;
      } else {
        out += kCellStart;
        out += cells[c].format;
        out += u'>';
      }
      out += cells[c].text;
      out += kCellEnd;
    }
    out += kRowEnd;
  }
  out += kTableEnd;
}

Text Table::Save(Text& ReplaceTag, Text& TableFormat) {
  // Rendered in place: a failed Save leaves the text as far as it was
  // built, and saving again reuses the room of the last rendering.
  table_text_.clear();
  try {
    Render(ReplaceTag, TableFormat, table_text_);
  } catch (const std::bad_alloc&) {
    throw Failure(error::kOutOfMemory);
  } catch (const std::length_error&) {
    throw Failure(error::kOutOfMemory);
  }
  return u"Table saved for tag=" + ReplaceTag;
}

Text Table::GetText() { return table_text_; }

}  // namespace pellar
