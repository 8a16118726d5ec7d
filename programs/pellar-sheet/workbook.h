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

// The cells a document sets in an existing workbook, held compactly: they
// are most of what an update holds in memory, and a million of them as
// SheetCells (72 bytes and a text each) took 78 MiB.
class CellList {
 public:
  void Add(const SheetCell& cell);
  // Row and column order; of two values for one cell the later one stays.
  void Sort();
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  int64_t row(size_t i) const { return At(i).row; }
  int64_t col(size_t i) const { return At(i).col; }
  CellValue::Kind kind(size_t i) const { return At(i).kind; }
  // Cell `i` whole, its text copied out.
  SheetCell operator[](size_t i) const;
  // The first cell at or after (row, col) in row and column order.
  size_t LowerBound(int64_t row, int64_t col) const;

 private:
  struct Packed {
    uint64_t text_at;
    double number;
    uint32_t row, col, text_size;
    int32_t style;
    CellValue::Kind kind;
    uint8_t date_format;  // an index into kDateFormats
  };
  // In blocks of 2 MiB, each asked to be one huge page: grown by doubling,
  // a million cells were copied twice over, and faulted in 4 KiB at a
  // time they cost a tenth of an update's time.
  static constexpr size_t kBlockBytes = size_t{1} << 21;
  static constexpr size_t kPerBlock = kBlockBytes / sizeof(Packed);
  struct Free {
    void operator()(Packed* block) const;
  };
  const Packed& At(size_t i) const {
    return blocks_[i / kPerBlock].get()[i % kPerBlock];
  }
  Packed& At(size_t i) { return blocks_[i / kPerBlock].get()[i % kPerBlock]; }
  std::vector<std::unique_ptr<Packed, Free>> blocks_;
  size_t size_ = 0;
  std::string texts_;  // every cell's text, one after the other
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
// empty): sets `cells` (sorted) on the worksheet `sheet`,
// adding it at the end when missing. `*added_sheet` tells whether it was;
// `warnings` gets what the user should know of cells that were set.
[[nodiscard]] std::string UpdateWorkbook(
    const std::string& path, const std::string& temp_path,
    const std::string& sheet, const Plan& plan, const CellList& cells,
    const UpdateLimits& limits, bool* added_sheet,
    std::vector<std::string>* warnings);

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
