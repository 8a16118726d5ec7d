// The worksheet of an existing workbook, streamed through expat: the
// document's cells are written in where they belong, in row and column
// order, and every other byte is copied as it was.
#include "sheet_merger.h"

#include <expat.h>
#include <pellar/base/chars.h>
#include <pellar/base/text_internal.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "package.h"

namespace pellar::sheet {

bool ParseRange(std::string_view ref, Range* range) {
  const size_t colon = ref.find(':');
  if (!ParseCellName(ref.substr(0, colon), &range->r1, &range->c1)) {
    return false;
  }
  range->r2 = range->r1, range->c2 = range->c1;
  if (colon != std::string_view::npos &&
      !ParseCellName(ref.substr(colon + 1), &range->r2, &range->c2)) {
    return false;
  }
  range->ref = ref;
  return range->r1 <= range->r2 && range->c1 <= range->c2;
}

namespace {

constexpr const char* kOnlyUtf8 =
    ", and cells can be written into a worksheet in UTF-8 only";

}  // namespace

class SheetMerger::Impl {
 public:
  // `styles` is null when no cell brings a style.
  Impl(std::function<bool(std::string_view)> out, const Plan& plan,
       const CellList& cells, StyleTable* styles,
       std::vector<std::string>* warnings)
      : out_(std::move(out)),
        plan_(plan),
        cells_(cells),
        styles_(styles),
        warnings_(warnings) {
    parser_ = NewParser();
    XML_SetXmlDeclHandler(parser_, [](void* self, const XML_Char*,
                                      const XML_Char* encoding, int) {
      if (encoding != nullptr && AsciiLower(encoding) != "utf-8") {
        static_cast<Impl*>(self)->Fail(
            std::string("it declares the encoding ") + encoding + kOnlyUtf8);
      }
    });
    XML_SetStartDoctypeDeclHandler(
        parser_,
        [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
          static_cast<Impl*>(self)->Fail("a document type declaration");
        });
  }
  ~Impl() { XML_ParserFree(parser_); }

  // Whether a cell that held a formula was overwritten.
  bool replaced_formula() const { return replaced_formula_; }

  [[nodiscard]] std::string Feed(std::string_view bytes, bool last) {
    // The cells are written in UTF-8: into a worksheet in UTF-16 (which
    // starts with a byte-order mark or has a NUL beside its first "<") they
    // would be garbage.
    if (base_ == 0 && buffer_.empty() && !bytes.empty() &&
        ((std::string_view("< \t\r\n").find(bytes[0]) ==
              std::string_view::npos &&
          !bytes.starts_with("\xEF\xBB\xBF")) ||
         (bytes.size() > 1 && bytes[1] == '\0'))) {
      return std::string("the worksheet: it is not in UTF-8") + kOnlyUtf8;
    }
    buffer_.append(bytes);
    if (!skipping_rows_) Parse(bytes, last);
    if (skipping_rows_ && error_.empty()) SkipRows(last);
    if (!error_.empty()) return "the worksheet: " + error_;
    if (last) {
      EmitTo(base_ + int64_t(buffer_.size()));
      if (!saw_sheet_data_) return "the worksheet has no <sheetData>";
    }
    buffer_.erase(0, size_t(done_ - base_));
    base_ = done_;
    const bool written = out_(written_);
    written_.clear();
    return written ? "" : "cannot write the worksheet";
  }

 private:
  // Without namespace processing, which costs time on every element: the
  // worksheet's elements are told apart by their local names.
  XML_Parser NewParser() {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, this);
    XML_SetElementHandler(
        parser,
        [](void* self, const XML_Char* name, const XML_Char** atts) {
          static_cast<Impl*>(self)->Start(Local(name), atts);
        },
        [](void* self, const XML_Char* name) {
          static_cast<Impl*>(self)->End(Local(name));
        });
    return parser;
  }

  void Parse(std::string_view bytes, bool last) {
    if (XML_Parse(parser_, bytes.data(), int(bytes.size()), last) !=
            XML_STATUS_OK &&
        error_.empty() && !skipping_rows_) {
      error_ =
          std::string(XML_ErrorString(XML_GetErrorCode(parser_))) + " (line " +
          std::to_string(XML_GetCurrentLineNumber(parser_) + line_shift_) + ")";
    }
  }

  // Once every cell of the document is written, the worksheet's remaining
  // rows are copied as they are without parsing them (most of a one-cell
  // update's time went into that): from the end of a row to the end tag of
  // <sheetData>, where a new parser, told it stands in <sheetData>, reads
  // the rest (merged ranges, protection). Rows hold that end tag only
  // inside a comment or CDATA section, which then ends the skipping early:
  // what follows is parsed as it stands, so such a worksheet is refused
  // (or, balanced by hand, copied as it was).
  bool MaySkipRows() const {
    return in_sheet_data_ && next_ == cells_.size() && !skipping_cell_ &&
           error_.empty() && !root_.empty();
  }
  void SkipRows(bool last) {
    const std::string end_tag = "</" + prefix_ + "sheetData";
    const char* from = buffer_.data() + (scan_ - base_);
    const char* stop = buffer_.data() + buffer_.size();
    const char* found = nullptr;
    for (const char* at = from;
         (at = static_cast<const char*>(
              memmem(at, size_t(stop - at), end_tag.data(), end_tag.size()))) !=
         nullptr;
         ++at) {
      if (at + end_tag.size() >= stop) break;  // its next byte is to come
      const char next = at[end_tag.size()];
      if (next == '>' || next == ' ' || next == '\t' || next == '\r' ||
          next == '\n') {
        found = at;
        break;
      }
    }
    if (found == nullptr) {
      if (last) return Fail("it ends inside <sheetData>");
      // Kept: what could be the start of the end tag.
      const char* keep =
          std::max(from, stop - std::min(size_t(stop - from), end_tag.size()));
      line_shift_ += std::count(from, keep, '\n');
      scan_ = base_ + (keep - buffer_.data());
      EmitTo(scan_);
      return;
    }
    line_shift_ += std::count(from, found, '\n');
    const int64_t at = base_ + (found - buffer_.data());
    EmitTo(at);
    XML_ParserFree(parser_);
    parser_ = NewParser();
    const std::string head = "<" + root_ + "><" + prefix_ + "sheetData>";
    shift_ = at - int64_t(head.size());
    muted_ = true;
    Parse(head, false);
    muted_ = false;
    skipping_rows_ = false;
    Parse(std::string_view(buffer_).substr(size_t(at - base_)), last);
  }

  int64_t Index() const { return XML_GetCurrentByteIndex(parser_) + shift_; }

  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }

  void Write(std::string_view text) { written_.append(text); }
  void EmitTo(int64_t at) {
    if (at > done_)
      Write(std::string_view(buffer_).substr(size_t(done_ - base_),
                                             size_t(at - done_)));
    done_ = std::max(done_, at);
  }
  void SkipTo(int64_t at) { done_ = std::max(done_, at); }
  std::string RawTag() const {
    return buffer_.substr(size_t(Index() - base_),
                          size_t(XML_GetCurrentByteCount(parser_)));
  }

  int64_t DocRow() const {
    return next_ < cells_.size() ? cells_.row(next_) : kMaxRows + 1;
  }

  // The style a cell the document adds starts from: its row's, else its
  // column's, as spreadsheet programs give a cell typed there.
  int NewCellStyle(const SheetCell& c) const {
    if (c.row == row_ && row_style_ >= 0) return row_style_;
    for (const auto& [lo, hi, style] : col_styles_) {
      if (c.col >= lo && c.col <= hi) return style;
    }
    return 0;
  }

  // Appended piece by piece: a million cells make this the hot path.
  // `keep_style` is the s of the cell it replaces, or null for a new one.
  void WriteCell(const SheetCell& c, const char* keep_style) {
    for (const Range& array : arrays_) {
      if (array.Holds(c.row, c.col)) return FailInArray(c.row, c.col, array);
    }
    std::string& out = written_;
    const auto tag = [&](std::string_view open, std::string_view name) {
      out += open;
      out += prefix_;
      out += name;
    };
    tag("<", "c r=\"");
    out += ColumnName(c.col);
    char digits[24];
    out.append(digits,
               std::to_chars(digits, digits + sizeof digits, c.row).ptr);
    out += '"';
    const int base =
        keep_style != nullptr ? std::atoi(keep_style) : NewCellStyle(c);
    const bool dated = c.value.kind == CellValue::Kind::kDate;
    int xf = -1;
    if (styles_ != nullptr && (c.style != 0 || dated)) {
      xf = styles_->Merged(base, c.style,
                           dated ? c.value.date_format : std::string_view());
    } else if (keep_style == nullptr && base != 0) {
      xf = base;
    }
    if (xf >= 0) {
      out += " s=\"";
      out.append(digits, std::to_chars(digits, digits + sizeof digits, xf).ptr);
      out += '"';
    } else if (keep_style != nullptr) {
      out += " s=\"";
      out += Escape(keep_style);
      out += '"';
    }
    switch (c.value.kind) {
      case CellValue::Kind::kBoolean:
        out += " t=\"b\"";
        tag("><", "v>");
        out += c.value.number != 0 ? '1' : '0';
        tag("</", "v>");
        break;
      case CellValue::Kind::kDate:
      case CellValue::Kind::kNumber:
        tag("><", "v>");
        out.append(
            digits,
            std::to_chars(digits, digits + sizeof digits, c.value.number).ptr);
        tag("</", "v>");
        break;
      case CellValue::Kind::kFormula:
        tag("><", "f>");
        EscapeTo(out, c.value.text);
        tag("</", "f>");
        break;
      case CellValue::Kind::kText:
        out += " t=\"inlineStr\"";
        tag("><", "is>");
        tag("<", "t xml:space=\"preserve\">");
        // Escaped as a new workbook's texts are (a CR too), so that both
        // read back alike.
        EscapeTo(out, EscapeControlCodes(
                          EscapeLiteralCodes(c.value.text, &scratch_[0]),
                          &scratch_[1]));
        tag("</", "t>");
        tag("</", "is>");
        break;
    }
    tag("</", "c>");
  }

  // The document's cells of the current row left of column `col`.
  void WriteCellsBefore(int64_t row, int64_t col) {
    while (next_ < cells_.size() && cells_.row(next_) == row &&
           cells_.col(next_) < col) {
      WriteCell(cells_[next_++], nullptr);
    }
  }

  std::string RowTag(std::string tag, int64_t row) {
    RemoveAttr(tag, "spans");
    if (auto h = plan_.heights.find(row); h != plan_.heights.end()) {
      if (h->second == 0) {
        // Hidden, keeping its height for when it is shown again, as a new
        // workbook's row of height 0 is.
        SetAttr(tag, "hidden", "1");
      } else {
        SetAttr(tag, "ht", Number(h->second));
        SetAttr(tag, "customHeight", "1");
      }
    }
    return tag;
  }

  // Whole rows of the document before row `row`.
  void WriteRowsBefore(int64_t row) {
    while (DocRow() < row) {
      const int64_t r = DocRow();
      Write(RowTag("<" + prefix_ + "row r=\"" + std::to_string(r) + "\">", r));
      WriteCellsBefore(r, kMaxCols + 1);
      Write("</" + prefix_ + "row>");
    }
  }

  std::string ColsText() {
    // Split existing ranges around each column given a width.
    for (const auto& [col, width] : plan_.widths) {
      bool placed = false;
      for (size_t i = 0; i < cols_.size() && !placed; ++i) {
        const int64_t lo = std::atoll(ColAttr(cols_[i], "min").c_str());
        const int64_t hi = std::atoll(ColAttr(cols_[i], "max").c_str());
        if (col < lo || col > hi) continue;
        auto one = cols_[i];
        SetColAttr(one, "min", std::to_string(col));
        SetColAttr(one, "max", std::to_string(col));
        SetColAttr(one, "width", Number(StoredWidth(width)));
        SetColAttr(one, "customWidth", "1");
        std::vector<std::vector<std::pair<std::string, std::string>>> parts;
        if (lo < col) {
          parts.push_back(cols_[i]);
          SetColAttr(parts.back(), "max", std::to_string(col - 1));
        }
        parts.push_back(one);
        if (col < hi) {
          parts.push_back(cols_[i]);
          SetColAttr(parts.back(), "min", std::to_string(col + 1));
        }
        cols_.erase(cols_.begin() + int64_t(i));
        cols_.insert(cols_.begin() + int64_t(i), parts.begin(), parts.end());
        placed = true;
      }
      if (!placed) {
        cols_.push_back({{"min", std::to_string(col)},
                         {"max", std::to_string(col)},
                         {"width", Number(StoredWidth(width))},
                         {"customWidth", "1"}});
      }
    }
    std::stable_sort(cols_.begin(), cols_.end(), [&](auto& a, auto& b) {
      return std::atoll(ColAttr(a, "min").c_str()) <
             std::atoll(ColAttr(b, "min").c_str());
    });
    std::string text = "<" + prefix_ + "cols>";
    for (const auto& attrs : cols_) {
      text += "<" + prefix_ + "col";
      for (const auto& [name, value] : attrs) {
        text += " " + name + "=\"" + Escape(value) + "\"";
      }
      text += "/>";
    }
    return text + "</" + prefix_ + "cols>";
  }
  static std::string ColAttr(
      const std::vector<std::pair<std::string, std::string>>& attrs,
      std::string_view name) {
    for (const auto& [n, v] : attrs) {
      if (n == name) return v;
    }
    return "0";
  }
  static void SetColAttr(
      std::vector<std::pair<std::string, std::string>>& attrs,
      std::string_view name, std::string value) {
    for (auto& [n, v] : attrs) {
      if (n == name) return void(v = std::move(value));
    }
    attrs.emplace_back(std::string(name), std::move(value));
  }

  std::string Dimension(std::string tag) {
    size_t from, begin, end;
    int64_t r1 = kMaxRows, c1 = kMaxCols, r2 = 0, c2 = 0;
    if (FindAttr(tag, "ref", &from, &begin, &end)) {
      const std::string ref = tag.substr(begin, end - begin);
      const size_t colon = ref.find(':');
      int64_t r, c;
      for (const std::string& part :
           {ref.substr(0, colon),
            colon == std::string::npos ? ref : ref.substr(colon + 1)}) {
        if (ParseCellName(part, &r, &c)) {
          r1 = std::min(r1, r), c1 = std::min(c1, c);
          r2 = std::max(r2, r), c2 = std::max(c2, c);
        }
      }
    }
    for (size_t i = 0; i < cells_.size(); ++i) {
      r1 = std::min(r1, cells_.row(i)), c1 = std::min(c1, cells_.col(i));
      r2 = std::max(r2, cells_.row(i)), c2 = std::max(c2, cells_.col(i));
    }
    if (r2 == 0) return tag;
    std::string ref = ColumnName(c1) + std::to_string(r1);
    if (r1 != r2 || c1 != c2) ref += ":" + ColumnName(c2) + std::to_string(r2);
    SetAttr(tag, "ref", ref);
    return tag;
  }

  // An array formula's cells are computed together from the text in its
  // first cell: spreadsheet programs keep none of them set alone.
  void FailInArray(int64_t row, int64_t col, const Range& array) {
    Fail("cell " + ColumnName(col) + std::to_string(row) +
         " lies in the array formula of " + array.ref +
         ", whose cells are only set together");
  }

  // The document's cells other than the first one of a merged range are
  // hidden behind it.
  void WarnMerged(const Range& merged) {
    for (size_t i = cells_.LowerBound(merged.r1, merged.c1);
         i < cells_.size() && cells_.row(i) <= merged.r2; ++i) {
      const int64_t row = cells_.row(i), col = cells_.col(i);
      if (!merged.Holds(row, col) || (row == merged.r1 && col == merged.c1)) {
        continue;
      }
      warnings_->push_back("cell " + ColumnName(col) + std::to_string(row) +
                           " is set but hidden: it lies in the merged range " +
                           merged.ref);
    }
  }

  void Start(std::string_view name, const XML_Char** atts) {
    if (muted_) return;
    const int depth = ++depth_;
    if (depth == 1) {
      const std::string tag = RawTag();
      root_ = tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1);
    }
    if (name == "f" && error_.empty()) {
      const char* type = Attr(atts, "t");
      const char* ref = Attr(atts, "ref");
      Range array;
      if (type != nullptr && std::string_view(type) == "array" &&
          ref != nullptr && ParseRange(ref, &array)) {
        if (skipping_cell_) return FailInArray(row_, col_, array);
        arrays_.push_back(std::move(array));
      }
    }
    if (depth == 3 && name == "mergeCell" && !in_sheet_data_) {
      const char* ref = Attr(atts, "ref");
      Range merged;
      if (ref != nullptr && ParseRange(ref, &merged)) WarnMerged(merged);
    }
    // The cells of a protected worksheet are set all the same, as a macro
    // that knows its password would; its user should know.
    if (depth == 2 && name == "sheetProtection" && !cells_.empty()) {
      const char* on = Attr(atts, "sheet");
      if (on != nullptr &&
          (std::string_view(on) == "1" || std::string_view(on) == "true")) {
        warnings_->push_back(
            "the worksheet is protected; its cells were set all the same, as "
            "a macro that knows its password would set them");
      }
    }
    if (skipping_cell_ && name == "f") {
      replaced_formula_ = true;
      // The cells that share a formula hold only its number; the text is
      // in this one cell, and setting it would leave them without one.
      const char* type = Attr(atts, "t");
      const char* shared = Attr(atts, "ref");
      if (type != nullptr && std::string_view(type) == "shared" &&
          shared != nullptr) {
        return Fail("cell " + ColumnName(col_) + std::to_string(row_) +
                    " holds the formula that the cells " + shared +
                    " share; setting it would leave them without it");
      }
    }
    if (skipping_cell_ || !error_.empty()) return;
    if (depth == 3 && name == "col" && !in_sheet_data_) {
      const char* style = Attr(atts, "style");
      const char* min = Attr(atts, "min");
      const char* max = Attr(atts, "max");
      if (style != nullptr && min != nullptr && max != nullptr) {
        col_styles_.emplace_back(std::atoll(min), std::atoll(max),
                                 std::atoi(style));
      }
    }
    const int64_t at = Index();
    const int64_t length = XML_GetCurrentByteCount(parser_);
    if (depth == 2 && name == "dimension") {
      EmitTo(at);
      Write(Dimension(RawTag()));
      SkipTo(at + length);
    } else if (depth == 2 && name == "cols" && !plan_.widths.empty()) {
      EmitTo(at);
      capturing_cols_ = true;
      saw_cols_ = true;
      prefix_ = PrefixOf(RawTag());
    } else if (depth == 3 && capturing_cols_ && name == "col") {
      cols_.emplace_back();
      for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
        cols_.back().emplace_back(a[0], a[1]);
      }
    } else if (depth == 2 && name == "sheetData") {
      saw_sheet_data_ = true;
      const std::string tag = RawTag();
      prefix_ = PrefixOf(tag);
      EmitTo(at);
      if (!saw_cols_ && !plan_.widths.empty()) Write(ColsText());
      in_sheet_data_ = true;
      if (tag.ends_with("/>")) {
        Write(tag.substr(0, tag.size() - 2) + ">");
        WriteRowsBefore(kMaxRows + 1);
        Write("</" + prefix_ + "sheetData>");
        SkipTo(at + length);
        in_sheet_data_ = false;
      }
    } else if (depth == 3 && in_sheet_data_ && name == "row") {
      const char* r = Attr(atts, "r");
      row_ = r != nullptr ? std::atoll(r) : row_ + 1;
      col_ = 0;
      const char* custom = Attr(atts, "customFormat");
      const char* style = Attr(atts, "s");
      row_style_ = custom != nullptr && style != nullptr &&
                           (std::string_view(custom) == "1" ||
                            std::string_view(custom) == "true")
                       ? std::atoi(style)
                       : -1;
      if (row_ < 1 || row_ > kMaxRows || row_ <= last_row_) {
        return Fail("rows out of order at row " + std::to_string(row_));
      }
      last_row_ = row_;
      EmitTo(at);
      WriteRowsBefore(row_);
      std::erase_if(arrays_, [&](const Range& a) { return a.r2 < row_; });
      merging_row_ = DocRow() == row_;
      if (merging_row_) {
        const std::string tag = RawTag();
        if (tag.ends_with("/>")) {
          Write(RowTag(tag.substr(0, tag.size() - 2) + ">", row_));
          WriteCellsBefore(row_, kMaxCols + 1);
          Write("</" + prefix_ + "row>");
          merging_row_ = false;
        } else {
          Write(RowTag(tag, row_));
        }
        SkipTo(at + length);
      }
    } else if (depth == 4 && merging_row_ && name == "c") {
      const char* r = Attr(atts, "r");
      int64_t row = row_, col = col_ + 1;
      if (r != nullptr && (!ParseCellName(r, &row, &col) || row != row_)) {
        return Fail(std::string("cell ") + r + " in row " +
                    std::to_string(row_));
      }
      col_ = col;
      EmitTo(at);
      WriteCellsBefore(row_, col_);
      if (next_ < cells_.size() && cells_.row(next_) == row_ &&
          cells_.col(next_) == col_) {
        WriteCell(cells_[next_++], Attr(atts, "s"));
        if (RawTag().ends_with("/>")) {
          SkipTo(at + length);
        } else {
          skipping_cell_ = true;
          cell_depth_ = depth;
        }
      }
    }
  }

  void End(std::string_view name) {
    if (muted_) return;
    const int depth = depth_--;
    if (!error_.empty()) return;
    const int64_t at = Index();
    const int64_t end = at + XML_GetCurrentByteCount(parser_);
    if (skipping_cell_) {
      if (depth == cell_depth_) {
        SkipTo(end);
        skipping_cell_ = false;
      }
      return;
    }
    if (capturing_cols_) {
      if (depth == 2 && name == "cols") {
        Write(ColsText());
        SkipTo(end);
        capturing_cols_ = false;
      }
      return;
    }
    if (depth == 3 && merging_row_ && name == "row") {
      EmitTo(at);
      WriteCellsBefore(row_, kMaxCols + 1);
      merging_row_ = false;
    } else if (depth == 2 && in_sheet_data_ && name == "sheetData") {
      EmitTo(at);
      WriteRowsBefore(kMaxRows + 1);
      in_sheet_data_ = false;
    }
    EmitTo(end);
    if (depth == 3 && name == "row" && MaySkipRows()) {
      skipping_rows_ = true;
      scan_ = end;
      line_shift_ = int64_t(XML_GetCurrentLineNumber(parser_)) - 1;
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  std::function<bool(std::string_view)> out_;
  std::string written_;     // output of the current piece
  std::string scratch_[2];  // a text with its codes escaped
  const Plan& plan_;
  const CellList& cells_;
  StyleTable* styles_;
  std::vector<std::string>* warnings_;
  std::vector<Range> arrays_;  // the array formulas reaching this row
  XML_Parser parser_;
  std::string buffer_;  // the bytes from base_ on
  int64_t base_ = 0;
  int64_t done_ = 0;        // bytes before this are written or dropped
  int64_t shift_ = 0;       // the parser's offsets from here
  int64_t line_shift_ = 0;  // and its lines
  bool skipping_rows_ = false, muted_ = false;
  int64_t scan_ = 0;  // skipping, searched up to here
  std::string root_;  // the root element's name
  size_t next_ = 0;   // the next document cell to write
  int depth_ = 0;
  std::string prefix_;
  bool in_sheet_data_ = false, saw_sheet_data_ = false;
  bool merging_row_ = false;
  bool skipping_cell_ = false;
  bool replaced_formula_ = false;
  int cell_depth_ = 0;
  bool capturing_cols_ = false, saw_cols_ = false;
  std::vector<std::vector<std::pair<std::string, std::string>>> cols_;
  int64_t row_ = 0, col_ = 0, last_row_ = 0;
  int row_style_ = -1;  // the current row's style, when it has one
  std::vector<std::tuple<int64_t, int64_t, int>> col_styles_;  // min, max
  std::string error_;
};

SheetMerger::SheetMerger(std::function<bool(std::string_view)> out,
                         const Plan& plan, const CellList& cells,
                         StyleTable* styles, std::vector<std::string>* warnings)
    : impl_(std::make_unique<Impl>(std::move(out), plan, cells, styles,
                                   warnings)) {}
SheetMerger::~SheetMerger() = default;

bool SheetMerger::replaced_formula() const { return impl_->replaced_formula(); }

std::string SheetMerger::Feed(std::string_view bytes, bool last) {
  return impl_->Feed(bytes, last);
}

}  // namespace pellar::sheet
