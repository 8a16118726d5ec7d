// New workbooks through libxlsxwriter, in constant-memory mode when the
// cells come row by row (the order the library writes them in).
#include <xlsxwriter.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "workbook.h"

namespace pellar::sheet {

struct NewWorkbook::State {
  lxw_workbook* workbook = nullptr;
  lxw_worksheet* worksheet = nullptr;
  std::vector<lxw_format*> formats;
  // A style with a date's own number format, for dates whose format gives
  // none: (style, number format) -> format.
  std::map<std::pair<int, std::string_view>, lxw_format*> date_formats;
  const Plan* plan = nullptr;
  int64_t last_row = 0;
  std::string temp_folder;
  std::string scratch[2];  // a text with its codes escaped
};

namespace {

lxw_format* MakeFormat(lxw_workbook* workbook, const Style& s) {
  lxw_format* f = workbook_add_format(workbook);
  if (s.bold.value_or(false)) format_set_bold(f);
  if (s.italic.value_or(false)) format_set_italic(f);
  if (s.underline.value_or(false)) {
    format_set_underline(f, LXW_UNDERLINE_SINGLE);
  }
  if (s.strike.value_or(false)) format_set_font_strikeout(f);
  if (s.wrap.value_or(false)) format_set_text_wrap(f);
  std::string scratch;
  if (s.font) {
    format_set_font_name(f, EscapeControlCodes(*s.font, &scratch).c_str());
  }
  if (s.size) format_set_font_size(f, *s.size);
  if (s.color) format_set_font_color(f, *s.color);
  if (s.fill) {
    format_set_pattern(f, LXW_PATTERN_SOLID);
    format_set_bg_color(f, *s.fill);
  }
  if (s.number_format) {
    format_set_num_format(
        f, EscapeControlCodes(*s.number_format, &scratch).c_str());
  }
  if (s.align) {
    format_set_align(f, *s.align == Align::kLeft     ? LXW_ALIGN_LEFT
                        : *s.align == Align::kCenter ? LXW_ALIGN_CENTER
                                                     : LXW_ALIGN_RIGHT);
  }
  if (s.valign) {
    format_set_align(f, *s.valign == VAlign::kTop ? LXW_ALIGN_VERTICAL_TOP
                        : *s.valign == VAlign::kCenter
                            ? LXW_ALIGN_VERTICAL_CENTER
                            : LXW_ALIGN_VERTICAL_BOTTOM);
  }
  if (s.border) {
    format_set_border(f, *s.border == Border::kNone     ? LXW_BORDER_NONE
                         : *s.border == Border::kThin   ? LXW_BORDER_THIN
                         : *s.border == Border::kMedium ? LXW_BORDER_MEDIUM
                                                        : LXW_BORDER_THICK);
  }
  return f;
}

std::string Why(lxw_error error) { return lxw_strerror(error); }

}  // namespace

NewWorkbook::NewWorkbook() : state_(std::make_unique<State>()) {}

NewWorkbook::~NewWorkbook() {
  // A workbook that was not closed is not written; libxlsxwriter has no
  // way to drop one, so it is closed into the temporary file the caller
  // removes.
  if (state_->workbook != nullptr) workbook_close(state_->workbook);
}

std::string NewWorkbook::Open(const std::string& path, const std::string& sheet,
                              const Plan& plan,
                              const std::string& temp_folder) {
  State& s = *state_;
  s.plan = &plan;
  s.temp_folder = temp_folder;
  lxw_workbook_options options{};
  options.constant_memory = plan.rows_in_order ? LXW_TRUE : LXW_FALSE;
  options.tmpdir = s.temp_folder.empty() ? nullptr : s.temp_folder.data();
  options.use_zip64 = LXW_TRUE;
  s.workbook = workbook_new_opt(path.c_str(), &options);
  if (s.workbook == nullptr) return "cannot start a workbook";
  if (!sheet.empty()) {
    if (lxw_error e = workbook_validate_sheet_name(s.workbook, sheet.c_str())) {
      return "worksheet name \"" + sheet + "\": " + Why(e);
    }
  }
  s.worksheet = workbook_add_worksheet(s.workbook,
                                       sheet.empty() ? nullptr : sheet.c_str());
  if (s.worksheet == nullptr) return "cannot add the worksheet";
  s.formats.push_back(nullptr);
  return "";
}

std::string NewWorkbook::Add(const SheetCell& cell) {
  State& s = *state_;
  const Plan& plan = *s.plan;
  const auto row = lxw_row_t(cell.row - 1);
  const auto col = lxw_col_t(cell.col - 1);
  if (cell.row < s.last_row && plan.rows_in_order)
    return std::string(kRowsOutOfOrder);
  s.last_row = cell.row;
  // Styles are made as the cells bring them.
  while (s.formats.size() < plan.styles.size()) {
    s.formats.push_back(MakeFormat(s.workbook, plan.styles[s.formats.size()]));
  }
  if (!plan.heights.empty()) {
    if (auto h = plan.heights.find(cell.row); h != plan.heights.end()) {
      worksheet_set_row(s.worksheet, row, h->second, nullptr);
    }
  }
  lxw_format* format = s.formats[size_t(cell.style)];
  const Style& style = plan.styles[size_t(cell.style)];
  if (cell.value.kind == CellValue::Kind::kDate && !style.number_format) {
    lxw_format*& dated = s.date_formats[{cell.style, cell.value.date_format}];
    if (dated == nullptr) {
      Style with_date = style;
      with_date.number_format = std::string(cell.value.date_format);
      dated = MakeFormat(s.workbook, with_date);
    }
    format = dated;
  }
  lxw_error e = LXW_NO_ERROR;
  switch (cell.value.kind) {
    case CellValue::Kind::kDate:
    case CellValue::Kind::kNumber:
      e = worksheet_write_number(s.worksheet, row, col, cell.value.number,
                                 format);
      break;
    case CellValue::Kind::kBoolean:
      e = worksheet_write_boolean(s.worksheet, row, col, cell.value.number != 0,
                                  format);
      break;
    case CellValue::Kind::kFormula:
      e = worksheet_write_formula(s.worksheet, row, col,
                                  cell.value.text.c_str(), format);
      break;
    case CellValue::Kind::kText: {
      const std::string& text = EscapeControlCodes(
          EscapeLiteralCodes(cell.value.text, &s.scratch[0]), &s.scratch[1]);
      e = worksheet_write_string(s.worksheet, row, col, text.c_str(), format);
      break;
    }
  }
  return e == LXW_NO_ERROR ? "" : Why(e);
}

std::string NewWorkbook::Close() {
  State& s = *state_;
  for (const auto& [col, width] : s.plan->widths) {
    const auto c = lxw_col_t(col - 1);
    if (lxw_error e = worksheet_set_column(s.worksheet, c, c, width, nullptr)) {
      return "column width: " + Why(e);
    }
  }
  lxw_workbook* workbook = s.workbook;
  s.workbook = nullptr;
  const lxw_error e = workbook_close(workbook);
  return e == LXW_NO_ERROR ? "" : Why(e);
}

}  // namespace pellar::sheet
