#include <pellar/base/text_internal.h>
#include <pellar/table/table.h>

#include <string_view>
#include <utility>

#include <pellar/base/failure.h>
#include <pellar/io/identity.h>
#include <pellar/base/grid.h>
#include <pellar/platform/platform.h>

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

Text BuildNewLogLine(TextView stage, int32_t rows, int32_t cols) {
  return Text(u"Table BuildNew (") + Text(stage) + u") Rows=" + Decimal(rows) +
         u" Cols=" + Decimal(cols);
}

}  // namespace

struct PELLAR_INTERNAL Table::Impl {
  // The row's highest column with a text or a format, 0 when none.
  int32_t LastColumn(int32_t row) const;
  // Appends this table's block to the document. Throws 9 without a grid
  // and 6 for a row whose last column exceeds 16 bits, leaving what was
  // built.
  void Render(TextView replace_tag, TextView table_format);

  Grid grid_;
  // The table document: the committed tables (the first committed_
  // characters) and the block of the last Save after them. BuildNew
  // commits by moving the mark; Save cuts back to it and appends.
  Text document_;
  size_t committed_ = 0;
  // Whether the document text is the document: only after a Save. BuildNew
  // and Clear empty the text, while the committed tables stay for the next
  // Save (after BuildNew, only those that a Save had shown).
  bool saved_ = false;
};

Table::Table() : impl_(std::make_unique<Impl>()) {}
Table::~Table() = default;

int32_t Table::Impl::LastColumn(int32_t row) const {
  const size_t first = grid_.At(row, 0);
  for (int32_t c = grid_.max_col(); c >= 0; --c) {
    const size_t at = first + static_cast<size_t>(c);
    if (!grid_.texts().empty(at) || !grid_.formats().empty(at)) return c;
  }
  return 0;
}

Text Table::Clear() {
  impl_->saved_ = false;
  return u"Table Work Area Now Empty";
}

Text Table::BuildNew(int32_t Rows, int32_t& Cols) {
  LogLine(BuildNewLogLine(u"Start", Rows, Cols));
  if (Rows < 1) Rows = 1;
  if (Cols < 1) Cols = 1;
  Grid grid(Rows, Cols, Platform::Current().PhysicalMemory());
  LogLine(BuildNewLogLine(u"Table Cleared", Rows, Cols));
  impl_->grid_ = std::move(grid);
  // The document text as it stands becomes the committed part.
  if (!impl_->saved_) impl_->document_.clear();
  impl_->saved_ = false;
  impl_->committed_ = impl_->document_.size();
  return u"Table Created (" + Decimal(Rows) + u" x " + Decimal(Cols) + u")";
}

Text Table::LoadCell(int32_t Row, int32_t Col, Text& StringValue,
                     Text& CellFormat) {
  Text message = impl_->grid_.RangeMessage(Row, Col);
  if (!message.empty()) return message;
  impl_->grid_.Require();
  const size_t at = impl_->grid_.At(Row, Col);
  impl_->grid_.texts().Set(at, StringValue);
  impl_->grid_.formats().Set(at, CellFormat);
  return StringValue;
}

Text Table::AppendCell(int32_t Row, int32_t Col, Text& StringValue) {
  Text message = impl_->grid_.RangeMessage(Row, Col);
  if (!message.empty()) return message;
  impl_->grid_.Require();
  impl_->grid_.texts().Append(impl_->grid_.At(Row, Col), StringValue);
  return StringValue;
}

void Table::Impl::Render(TextView replace_tag, TextView table_format) {
  const size_t rows =
      grid_.exists() ? static_cast<size_t>(grid_.max_row()) + 1 : 0;
  const size_t stride = static_cast<size_t>(grid_.max_col()) + 1;
  // Room for every cell rendered with a format: one allocation and one
  // pass over the grid. Untouched room costs no memory pages.
  const size_t markup_per_cell = kCellStart.size() + 1 + kCellEnd.size();
  document_.reserve(
      document_.size() + kTagStart.size() + replace_tag.size() +
      kTagEndFormatStart.size() + table_format.size() +
      kFormatEndTableStart.size() +
      rows * (kRowStart.size() + kRowEnd.size() + stride * markup_per_cell) +
      grid_.texts().total_chars() + grid_.formats().total_chars() +
      kTableEnd.size());
  document_ += kTagStart;
  document_ += replace_tag;
  document_ += kTagEndFormatStart;
  document_ += table_format;
  document_ += kFormatEndTableStart;
  grid_.Require();
  const TextCells& texts = grid_.texts();
  for (size_t r = 0; r < rows; ++r) {
    const int32_t last = LastColumn(static_cast<int32_t>(r));
    if (last > kMaxRenderedColumn) throw Failure(error::kOverflow);
    const size_t first = r * stride;
    document_ += kRowStart;
    for (int32_t c = 0; c <= last; ++c) {
      const size_t at = first + static_cast<size_t>(c);
      const Text& format = grid_.formats().Get(at);
      if (format.empty()) {
        document_ += kPlainCellStart;
      } else {
        document_ += kCellStart;
        document_ += format;
        document_ += u'>';
      }
      std::string_view bytes;
      if (texts.Bytes(at, &bytes)) {
        AppendFromAnsi(document_, bytes);
      } else {
        document_ += texts.Side(at);
      }
      document_ += kCellEnd;
    }
    document_ += kRowEnd;
  }
  document_ += kTableEnd;
}

Text Table::Save(Text& ReplaceTag, Text& TableFormat) {
  // Cut back to the committed tables and append this one: earlier tables
  // are never copied again. A failed Save leaves the text as far as it was
  // built.
  impl_->document_.resize(impl_->committed_);
  impl_->saved_ = true;
  if (impl_->committed_ > 0) impl_->document_ += kCrLf;
  impl_->Render(ReplaceTag, TableFormat);
  return u"Table saved for tag=" + ReplaceTag;
}

Text Table::GetText() { return impl_->saved_ ? impl_->document_ : Text(); }

}  // namespace pellar
