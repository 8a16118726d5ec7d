// A control document's cells as sheet cells, with the plan and warnings.
//
// The reader hands each control cell to a ReadSink; its Converter places the
// cell (origin applied, checked against the sheet's size and a cell's 32,767
// characters), gives it its value and its style, interned once per distinct
// style in the Plan, and notes widths and heights there. The sink gathers the
// warnings and passes each placed cell on to the writer; nothing flows back.
#ifndef PELLAR_SHEET_DOCUMENT_CELLS_H_
#define PELLAR_SHEET_DOCUMENT_CELLS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cell_meaning.h"
#include "control_reader.h"
#include "workbook.h"

namespace pellar::sheet {

// What turns a control cell into a sheet cell.
struct CellOptions {
  bool formulas = false;
  bool dates = true;  // dates become date cells, not texts
  int64_t origin_row = 1;
  int64_t origin_col = 1;
};

// A document's warnings listed one by one; the rest are only counted.
constexpr size_t kWarningsShown = 100;

// Spreadsheet cells hold at most this many UTF-16 units of text.
constexpr size_t kMaxText = 32767;

size_t Utf16Length(std::string_view utf8);

struct FormatEntry {
  int style = 0;
  std::optional<double> width, height;
  std::vector<FormatIssue> issues;
};

// Turns the document's cells into sheet cells, each format text read once.
class Converter {
 public:
  Converter(const CellOptions& options, Plan* plan)
      : options_(options), plan_(plan) {}

  const FormatEntry& FormatOf(const std::string& text);

  // Answers why the cell cannot be placed, or "". `note` gets what the user
  // should know of the value.
  std::string Place(const ControlCell& in, SheetCell* out,
                    const FormatEntry** format, std::string* note);

 private:
  const CellOptions& options_;
  Plan* plan_;
  std::unordered_map<std::string, FormatEntry> formats_;
  const std::pair<const std::string, FormatEntry>* last_ = nullptr;
  std::unordered_map<std::string, int> styles_;
};

// Reads a document once: checks it, gathers the plan and warnings, and
// hands each cell to `write_`.
class ReadSink : public ControlSink {
 public:
  using Write = std::function<std::string(const ControlCell&, SheetCell&)>;
  ReadSink(Converter* converter, Plan* plan, Write write)
      : converter_(converter), plan_(plan), write_(std::move(write)) {}

  std::string Header(const std::string& excel_file,
                     const std::string& worksheet) override;
  std::string Cell(const ControlCell& cell) override;

  Converter* converter_;
  Plan* plan_;
  Write write_;
  std::function<std::string()> start_;  // called once the header is read
  std::string excel_file_, worksheet_;
  std::vector<std::string> warnings_;
  uint64_t warning_count_ = 0;
  uint64_t cells_ = 0;
};

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_DOCUMENT_CELLS_H_
