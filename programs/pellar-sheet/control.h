// Reading a worksheet control document, and what its values and format texts
// mean for a cell.
//
// The document is read as the encoding it declares (the library writes
// Windows-1252 in element names although it declares utf-8, and characters
// above 126 in values as references to their Windows-1252 codes, "&#0128;"
// being the euro sign), element names in any case; every text is handed on
// as UTF-8.
#ifndef PELLAR_SHEET_CONTROL_H_
#define PELLAR_SHEET_CONTROL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellar::sheet {

struct ControlCell {
  int64_t row = 0;  // work area numbering: rows from 0, columns from 1
  int64_t col = 0;
  std::string value;   // as stored, delimiters included
  std::string format;  // the format text
  int64_t line = 0;    // the line of its <Cell>
};

// Receives the document as it is read. Header() comes once, before the first
// cell; a non-empty answer from either stops the reading with that reason.
class ControlSink {
 public:
  virtual ~ControlSink() = default;
  [[nodiscard]] virtual std::string Header(const std::string& excel_file,
                                           const std::string& worksheet) = 0;
  [[nodiscard]] virtual std::string Cell(const ControlCell& cell) = 0;
};

// Reads a document in pieces, so a large one never sits in memory whole.
class ControlReader {
 public:
  explicit ControlReader(ControlSink* sink);
  ~ControlReader();
  ControlReader(const ControlReader&) = delete;
  ControlReader& operator=(const ControlReader&) = delete;

  // False once the document is refused; error() then says why, with the line.
  [[nodiscard]] bool Feed(std::string_view bytes, bool last);
  const std::string& error() const { return error_; }

 private:
  class Parser;

  std::unique_ptr<Parser> parser_;
  std::string error_;
};

// The whole document `bytes`, or the file `path` read in pieces. Answer the
// reason it was refused, or "".
[[nodiscard]] std::string ReadControl(std::string_view bytes,
                                      ControlSink* sink);
[[nodiscard]] std::string ReadControlFile(const std::string& path,
                                          ControlSink* sink);

// What a value puts into its cell.
struct CellValue {
  enum class Kind { kText, kNumber, kFormula };
  Kind kind = Kind::kText;
  std::string text;  // the text, or the formula without its "="
  double number = 0;
};
CellValue ClassifyValue(std::string_view stored, bool formulas);

// The kind of a value and what its cell will hold, as a dry run lists it:
// "number 123" (for "00123"), "text 00123" (for "\"00123\""), "formula
// =A1*2"; control characters escaped so that it stays on one line.
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

#endif  // PELLAR_SHEET_CONTROL_H_
