// Applying one control document to its workbook.
//
// Apply reads the document once (twice when libxlsxwriter needs its rows in
// order), finds and checks the workbook it names, and writes its cells: into
// a new workbook as they are read, or, gathered and sorted, into an update
// of the existing one under its lock. The result is written beside the
// workbook and renamed into place. Warnings are printed as they are known;
// the outcome says what was done or why the document was refused.
#ifndef PELLAR_SHEET_APPLY_DOCUMENT_H_
#define PELLAR_SHEET_APPLY_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "document_cells.h"
#include "workbook.h"

namespace pellar::sheet {

struct Options : CellOptions {
  bool dry_run = false;
  UpdateLimits limits;
  int lock_timeout = 60;  // seconds
};

struct [[nodiscard]] Outcome {
  std::string refused;  // why, or "" when applied
  std::string line;     // what was done
  bool again = false;   // the missing workbook appeared: apply once more
};

// `again` when the document is applied a second time, to a workbook that
// appeared while the first time made a new one.
// `input` holds the document read from standard input, or is null.
// `*warnings` grows by the warnings given.
Outcome Apply(const std::string& control, const std::string* input,
              const Options& options, bool again, uint64_t* warnings);

// One line of output: a document's texts (names, values, reasons) cannot
// split it or start a line of their own.
void Say(std::string_view line);

std::string Grouped(uint64_t n);  // 1234567 -> "1,234,567"

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_APPLY_DOCUMENT_H_
