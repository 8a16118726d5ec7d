// Writing the cells of a control document into a workbook: a new one
// through libxlsxwriter, an existing one through libzip and expat.
#ifndef PELLAR_SHEET_WORKBOOK_H_
#define PELLAR_SHEET_WORKBOOK_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cell_meaning.h"

namespace pellar::sheet {

// A cell in sheet numbering: rows and columns from 1.
struct SheetCell {
  int64_t row = 0;
  int64_t col = 0;
  CellValue value;
  int style = 0;  // index into Plan::styles; 0 sets no style
};

// What the first reading of a document found, for the writers.
struct Plan {
  std::vector<Style> styles{Style()};  // distinct; styles[0] is empty
  std::map<int64_t, double> widths;    // column -> width in characters
  std::map<int64_t, double> heights;   // row -> height in points
  bool rows_in_order = true;           // no row before an earlier one
};

// A new workbook of one worksheet, written to `path`. The plan may grow
// while cells are added (styles, widths, heights): the document is read once.
class NewWorkbook {
 public:
  NewWorkbook();
  ~NewWorkbook();
  NewWorkbook(const NewWorkbook&) = delete;
  NewWorkbook& operator=(const NewWorkbook&) = delete;

  // `temp_folder` holds libxlsxwriter's own temporary files.
  [[nodiscard]] std::string Open(const std::string& path,
                                 const std::string& sheet, const Plan& plan,
                                 const std::string& temp_folder);
  // Answers kRowsOutOfOrder when a row comes after a later one while the
  // plan says rows come in order: write again with rows_in_order false.
  [[nodiscard]] std::string Add(const SheetCell& cell);
  [[nodiscard]] std::string Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

inline constexpr std::string_view kRowsOutOfOrder = "rows out of order";

struct UpdateLimits {
  uint64_t max_inflate = uint64_t{1} << 30;  // bytes, per entry and in all
};

// Updates the workbook `path` into the new file `temp_path` (which exists,
// empty): sets `cells` (in row and column order) on the worksheet `sheet`,
// adding it at the end when missing. `*added_sheet` tells whether it was;
// `warnings` gets what the user should know of cells that were set.
[[nodiscard]] std::string UpdateWorkbook(
    const std::string& path, const std::string& temp_path,
    const std::string& sheet, const Plan& plan,
    const std::vector<SheetCell>& cells, const UpdateLimits& limits,
    bool* added_sheet, std::vector<std::string>* warnings);

// `text` in Unicode simple case folding: worksheet names that spreadsheet
// programs take for one fold to one text ("\xC3\x9Cbersicht" and
// "\xC3\xBCbersicht"). Bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view text);

// Checks that a zip holds no entry named to escape its folder, no two
// entries of one name and nothing that inflates past the limit.
[[nodiscard]] std::string CheckPackage(const std::string& path,
                                       const UpdateLimits& limits);

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_WORKBOOK_H_
