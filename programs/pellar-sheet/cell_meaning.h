// What the values and format texts of a control document mean for a cell:
// the program's own types, from the reader to the workbook writers.
#ifndef PELLAR_SHEET_CELL_MEANING_H_
#define PELLAR_SHEET_CELL_MEANING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellar::sheet {

// What a value puts into its cell.
struct CellValue {
  enum class Kind : uint8_t { kText, kNumber, kFormula, kBoolean, kDate };
  Kind kind = Kind::kText;
  std::string text;   // the text, the formula without its "=", a date as read
  double number = 0;  // also a date's serial number, a Boolean's 1 or 0
  // A date's number format for a cell whose format gives none: the form it
  // was written in, as spreadsheet programs show it.
  std::string_view date_format;
};

// `dates` false keeps dates texts. A date no spreadsheet can hold stays
// text, and `warning` (when given) says so; else it is left alone.
CellValue ClassifyValue(std::string_view stored, bool formulas,
                        bool dates = true, std::string* warning = nullptr);

// The forms in which the script host writes a date (its US English form):
// "2/29/2024", "2/29/2024 1:05:09 PM", "1:05:09 PM" (a time of no day).
// kDate gives the serial number as spreadsheets count days (1900 date
// system: 1/1/1900 is 1, and 2/29/1900, which never was, is 60) and the
// number format that shows the form.
enum class DateRead { kNotADate, kDate, kOutOfRange };
// The formats ReadDate answers (and "", none), so that a cell can keep its
// format as a small index.
inline constexpr std::string_view kDateFormats[] = {
    "", "m/d/yyyy", "m/d/yyyy h:mm:ss AM/PM", "h:mm:ss AM/PM"};
DateRead ReadDate(std::string_view text, double* serial,
                  std::string_view* format);

// Whether a number format shows a date or a time (a built-in one by its
// id, or the code's own letters outside quotes and brackets).
bool IsDateFormat(int id, std::string_view code);

// The kind of a value and what its cell will hold, as a dry run lists it:
// "number 123" (for "00123"), "text 00123" (for "\"00123\""), "formula
// =A1*2", "date 2/29/2024 (serial 45351)", "boolean TRUE"; control
// characters escaped so that it stays on one line.
std::string DescribeValue(const CellValue& value);

// Spreadsheet programs read "_xHHHH_" in a cell's text as the character
// HHHH (that is how the text holds control characters). So that a text
// which holds such a run literally reads back as written, the run's "_" is
// written as "_x005F_". Answers `text` itself when it holds no such run
// (nearly always), else the escaped text, made in `scratch`.
const std::string& EscapeLiteralCodes(const std::string& text,
                                      std::string* scratch);

// `text` with each character below U+0020 but tab and line feed written as
// "_xHHHH_", as spreadsheet programs write them (XML cannot hold them, and
// a NUL would end the text early for libraries that take C strings).
// Answers `text` itself when it holds none, else the text made in
// `scratch`. Apply EscapeLiteralCodes first.
const std::string& EscapeControlCodes(const std::string& text,
                                      std::string* scratch);

enum class Align : uint8_t { kLeft, kCenter, kRight };
enum class VAlign : uint8_t { kTop, kCenter, kBottom };
enum class Border : uint8_t { kNone, kThin, kMedium, kThick };

// The cell style a format text asks for; what it leaves unset keeps the
// workbook's default.
struct Style {
  std::optional<bool> bold{}, italic{}, underline{}, strike{}, wrap{};
  std::optional<std::string> font{}, number_format{};
  std::optional<double> size{};
  std::optional<uint32_t> color{}, fill{};  // 0xRRGGBB
  std::optional<Align> align{};
  std::optional<VAlign> valign{};
  std::optional<Border> border{};

  bool empty() const;
  // One text per distinct style, for merging equal styles.
  std::string Key() const;
  bool operator==(const Style&) const = default;
};

struct Format {
  Style style;
  std::optional<double> width;   // the column's
  std::optional<double> height;  // the row's
};

struct FormatIssue {
  std::string property;  // as written
  std::string why;
  bool operator==(const FormatIssue&) const = default;
};

// Reads `text` as Property=Value pairs run together ("Bold=1Italic=1"). A
// pair with an unknown property or a bad value is reported in `issues` and
// skipped; the others still apply.
Format ParseFormat(std::string_view text, std::vector<FormatIssue>* issues);

// "B3" as a 1-based row and column; false for anything else.
[[nodiscard]] bool ParseCellName(std::string_view name, int64_t* row,
                                 int64_t* col);
std::string ColumnName(int64_t col);  // 1 -> "A", 27 -> "AA"

constexpr int64_t kMaxRows = 1048576;
constexpr int64_t kMaxCols = 16384;

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_CELL_MEANING_H_
