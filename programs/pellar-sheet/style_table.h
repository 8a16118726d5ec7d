// The style table of an existing workbook, as an update changes it.
#ifndef PELLAR_SHEET_STYLE_TABLE_H_
#define PELLAR_SHEET_STYLE_TABLE_H_

#include <memory>
#include <string>
#include <string_view>

#include "workbook.h"

namespace pellar::sheet {

class StyleTable {
 public:
  StyleTable();
  ~StyleTable();
  StyleTable(const StyleTable&) = delete;
  StyleTable& operator=(const StyleTable&) = delete;

  // Reads the table `bytes`, which Finish edits in place, for the styles
  // of `plan`; answers why it cannot be used, or "".
  [[nodiscard]] std::string Load(std::string* bytes, const Plan& plan);
  // The cell style of a cell that had `base` once the plan's style `style`
  // and, for a date whose format gives none, `date_format` go over it.
  int Merged(int base, int style, std::string_view date_format);
  // Writes the added entries into the table; false when none were.
  bool Finish();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_STYLE_TABLE_H_
