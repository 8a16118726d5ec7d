#include "document_cells.h"

#include <string>
#include <utility>

namespace pellar::sheet {

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // a character starts
    if ((byte & 0xF8) == 0xF0) ++units;  // beyond the BMP: two units
  }
  return units;
}

const FormatEntry& Converter::FormatOf(const std::string& text) {
  // Neighbouring cells mostly share their format text.
  if (last_ != nullptr && last_->first == text) return last_->second;
  auto it = formats_.find(text);
  if (it != formats_.end()) {
    last_ = &*it;
    return it->second;
  }
  FormatEntry entry;
  const Format format = ParseFormat(text, &entry.issues);
  entry.width = format.width;
  entry.height = format.height;
  if (!format.style.empty()) {
    auto [slot, added] =
        styles_.emplace(format.style.Key(), int(plan_->styles.size()));
    if (added) plan_->styles.push_back(format.style);
    entry.style = slot->second;
  }
  last_ = &*formats_.emplace(text, std::move(entry)).first;
  return last_->second;
}

std::string Converter::Place(const ControlCell& in, SheetCell* out,
                             const FormatEntry** format, std::string* note) {
  out->row = options_.origin_row + in.row;
  out->col = options_.origin_col + in.col - 1;
  if (out->col < 1 || out->row > kMaxRows || out->col > kMaxCols) {
    return "cell (" + std::to_string(in.row) + ", " + std::to_string(in.col) +
           ") lies outside the worksheet";
  }
  out->value = ClassifyValue(in.value, options_.formulas, options_.dates, note);
  if (Utf16Length(out->value.text) > kMaxText) {
    return "cell (" + std::to_string(in.row) + ", " + std::to_string(in.col) +
           ") holds more than 32,767 characters, more than a cell can";
  }
  *format = &FormatOf(in.format);
  out->style = (*format)->style;
  return "";
}

std::string ReadSink::Header(const std::string& excel_file,
                             const std::string& worksheet) {
  excel_file_ = excel_file;
  worksheet_ = worksheet;
  return start_ ? start_() : "";
}

std::string ReadSink::Cell(const ControlCell& cell) {
  SheetCell placed;
  const FormatEntry* entry = nullptr;
  std::string note;
  if (std::string why = converter_->Place(cell, &placed, &entry, &note);
      !why.empty()) {
    return why;
  }
  const FormatEntry& format = *entry;
  if (!note.empty()) {
    if (warnings_.size() < kWarningsShown) {
      warnings_.push_back("row " + std::to_string(cell.row) + ", col " +
                          std::to_string(cell.col) + ": " + note);
    }
    ++warning_count_;
  }
  for (const FormatIssue& issue : format.issues) {
    if (warnings_.size() < kWarningsShown) {
      warnings_.push_back("row " + std::to_string(cell.row) + ", col " +
                          std::to_string(cell.col) + ": " + issue.property +
                          ": " + issue.why);
    }
    ++warning_count_;
  }
  if (format.width) plan_->widths[placed.col] = *format.width;
  if (format.height) plan_->heights[placed.row] = *format.height;
  ++cells_;
  return write_(cell, placed);
}

}  // namespace pellar::sheet
