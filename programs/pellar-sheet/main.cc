// pellar-sheet: applies worksheet control documents (Cell.SaveWorkSheet) to
// workbooks: creates a missing .xlsx, updates an existing .xlsx or .xlsm.
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "control.h"
#include "workbook.h"

namespace pellar::sheet {
namespace {

constexpr std::string_view kUsage =
    "Usage: pellar-sheet [OPTION]... CONTROL.xml...\n"
    "Applies worksheet control documents, as Cell.SaveWorkSheet writes them,\n"
    "to their workbooks: each listed value and format goes into its cell of\n"
    "the worksheet the document names.\n"
    "\n"
    "Options:\n"
    "  --origin CELL      put work area cell (0, 1) at CELL (default A1): cell\n"
    "                     (r, c) goes to row r + 1 and column c of the sheet\n"
    "                     (column 1 is A) shifted by the origin, for a\n"
    "                     template whose table starts elsewhere (e.g. B3)\n"
    "  --formulas         make values beginning with \"=\" formulas (otherwise\n"
    "                     they stay text)\n"
    "  --dry-run          list what would be set; write nothing\n"
    "  --max-inflate BYTES  refuse a workbook with a part larger than this\n"
    "                     when inflated (default 1073741824)\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Workbooks:\n"
    "  ExcelFile names the workbook, relative to the control document's\n"
    "  folder. A missing .xlsx is created; an existing .xlsx or .xlsm is\n"
    "  updated, everything but the listed cells and their styles kept as it\n"
    "  was; a missing worksheet is added at the end. A name ending in .xls\n"
    "  is written as NAME.xlsx beside it. The workbook is written under a\n"
    "  fresh name and renamed into place, keeping its mode.\n"
    "\n"
    "Values:\n"
    "  One pair of surrounding \" or ' is removed and the value stays text;\n"
    "  an unquoted value that reads as a number (\"12.5\", \"-3\", \"1E3\")\n"
    "  becomes a number; anything else is text.\n"
    "\n"
    "Formats:\n"
    "  Property=Value pairs run together (Bold=1Italic=1), names in any case:\n"
    "  Bold, Italic, Underline, Strike, Wrap (1/0, true/false, yes/no),\n"
    "  Font (name), Size (points), Color and Fill (#RRGGBB or a name such as\n"
    "  red, navy, yellow), NumberFormat (e.g. 0.00), Align (left, center,\n"
    "  right), VAlign (top, center, bottom), Border (none, thin, medium,\n"
    "  thick), Width (the column's, in characters), Height (the row's, in\n"
    "  points). Unknown properties and bad values are reported and skipped.\n"
    "\n"
    "Exit status:\n"
    "  0 when every document was applied, 1 when any was refused, 2 for\n"
    "  wrong usage.\n";

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr size_t kWarningsShown = 100;

struct Options {
  bool dry_run = false;
  bool formulas = false;
  int64_t origin_row = 1;
  int64_t origin_col = 1;
  UpdateLimits limits;
};

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = int(digits.size()) - 3; i > 0; i -= 3) digits.insert(size_t(i), ",");
  return digits;
}

struct FormatEntry {
  int style = 0;
  std::optional<double> width, height;
  std::vector<FormatIssue> issues;
};

// Turns the document's cells into sheet cells; the same for both readings.
class Converter {
 public:
  Converter(const Options& options, Plan* plan)
      : options_(options), plan_(plan) {}

  const FormatEntry& FormatOf(const std::string& text) {
    auto it = formats_.find(text);
    if (it != formats_.end()) return it->second;
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
    return formats_.emplace(text, std::move(entry)).first->second;
  }

  std::string Place(const ControlCell& in, SheetCell* out) {
    out->row = options_.origin_row + in.row;
    out->col = options_.origin_col + in.col - 1;
    if (out->col < 1 || out->row > kMaxRows || out->col > kMaxCols) {
      return "cell (" + std::to_string(in.row) + ", " + std::to_string(in.col) +
             ") lies outside the worksheet";
    }
    out->value = ClassifyValue(in.value, options_.formulas);
    out->style = FormatOf(in.format).style;
    return "";
  }

 private:
  const Options& options_;
  Plan* plan_;
  std::unordered_map<std::string, FormatEntry> formats_;
  std::unordered_map<std::string, int> styles_;
};

// The first reading: checks the whole document and plans the writing.
class PlanSink : public ControlSink {
 public:
  PlanSink(const Options& options, Converter* converter, Plan* plan)
      : options_(options), converter_(converter), plan_(plan) {}

  std::string Header(const std::string& excel_file,
                     const std::string& worksheet) override {
    excel_file_ = excel_file;
    worksheet_ = worksheet;
    return "";
  }

  std::string Cell(const ControlCell& cell) override {
    SheetCell placed;
    if (std::string why = converter_->Place(cell, &placed); !why.empty()) {
      return why;
    }
    const FormatEntry& format = converter_->FormatOf(cell.format);
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
    if (placed.row < last_row_) plan_->rows_in_order = false;
    last_row_ = placed.row;
    ++cells_;
    return "";
  }

  const Options& options_;
  Converter* converter_;
  Plan* plan_;
  std::string excel_file_, worksheet_;
  std::vector<std::string> warnings_;
  uint64_t warning_count_ = 0;
  uint64_t cells_ = 0;
  int64_t last_row_ = 0;
};

// The second reading: hands each cell to `write`.
template <typename Write>
class WriteSink : public ControlSink {
 public:
  WriteSink(Converter* converter, Write write)
      : converter_(converter), write_(std::move(write)) {}
  std::string Header(const std::string&, const std::string&) override {
    return "";
  }
  std::string Cell(const ControlCell& cell) override {
    SheetCell placed;
    if (std::string why = converter_->Place(cell, &placed); !why.empty()) {
      return why;
    }
    return write_(cell, placed);
  }

 private:
  Converter* converter_;
  Write write_;
};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  }
  return text;
}

// A fresh file beside `path`, removed again unless kept.
class TempFile {
 public:
  explicit TempFile(const std::filesystem::path& path) {
    std::string name = (path.parent_path() /
                        ("." + path.filename().string() + ".pellar-sheet-XXXXXX"))
                           .string();
    fd_ = mkstemp(name.data());
    if (fd_ >= 0) path_ = name;
  }
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Renames the file into place with `mode`.
  std::string Keep(const std::string& target, mode_t mode) {
    if (chmod(path_.c_str(), mode) != 0 ||
        rename(path_.c_str(), target.c_str()) != 0) {
      return std::strerror(errno);
    }
    path_.clear();
    return "";
  }

 private:
  int fd_ = -1;
  std::string path_;
};

struct Outcome {
  std::string refused;  // why, or "" when applied
  std::string line;     // what was done
};

Outcome Apply(const std::string& control, const Options& options,
              uint64_t* warnings) {
  Plan plan;
  Converter converter(options, &plan);
  PlanSink planned(options, &converter, &plan);
  if (std::string why = ReadControlFile(control, &planned); !why.empty()) {
    return {why, ""};
  }
  for (const std::string& w : planned.warnings_) {
    std::cout << "warning " << control << ": " << w << "\n";
  }
  if (planned.warning_count_ > planned.warnings_.size()) {
    std::cout << "warning " << control << ": "
              << Grouped(planned.warning_count_ - planned.warnings_.size())
              << " more warnings not shown\n";
  }
  *warnings += planned.warning_count_;

  std::string excel = planned.excel_file_;
  const std::string sheet =
      planned.worksheet_.empty() ? "Sheet1" : planned.worksheet_;
  if (excel.empty()) return {"the document names no workbook", ""};
  std::filesystem::path path(excel);
  if (path.is_relative()) {
    path = std::filesystem::path(control).parent_path() / path;
  }
  const std::string ext = Lower(path.extension().string());
  if (ext == ".xls") {
    std::cout << "note " << control << ": " << excel
              << " is the old binary format, which this program cannot "
                 "write; using "
              << excel << "x beside it\n";
    path += "x";
    excel += "x";
  } else if (ext != ".xlsx" && ext != ".xlsm") {
    return {excel + " is not an .xlsx or .xlsm workbook", ""};
  }

  struct stat st;
  bool exists = true;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return {excel + ": " + std::strerror(errno), ""};
    exists = false;
  } else if (S_ISLNK(st.st_mode)) {
    return {excel + " is a link", ""};
  } else if (S_ISDIR(st.st_mode)) {
    return {excel + " is a folder", ""};
  } else if (!S_ISREG(st.st_mode)) {
    return {excel + " is a device or other special file", ""};
  }
  if (!exists && Lower(path.extension().string()) == ".xlsm") {
    return {excel + " does not exist, and a new workbook cannot hold macros",
            ""};
  }
  const std::string where = excel + "!" + sheet;
  const std::string count = Grouped(planned.cells_) +
                            (planned.cells_ == 1 ? " cell" : " cells");

  if (options.dry_run) {
    WriteSink list(&converter, [&](const ControlCell& in, const SheetCell& c) {
      std::cout << "  " << where << "!" << ColumnName(c.col) << c.row << " "
                << (c.value.kind == CellValue::Kind::kNumber    ? "number "
                    : c.value.kind == CellValue::Kind::kFormula ? "formula ="
                                                                 : "text ")
                << c.value.text;
      if (!in.format.empty()) std::cout << "  [" << in.format << "]";
      std::cout << "\n";
      return std::string();
    });
    if (std::string why = ReadControlFile(control, &list); !why.empty()) {
      return {why, ""};
    }
    return {"", "would apply " + control + ": " + count + " to " + where +
                    (exists ? "" : " (new workbook)")};
  }

  TempFile temp(path);
  if (!temp.ok()) {
    return {"cannot write beside " + excel + ": " + std::strerror(errno), ""};
  }
  std::string note;
  if (!exists) {
    NewWorkbook workbook;
    const char* tmpdir = std::getenv("TMPDIR");
    if (std::string why =
            workbook.Open(temp.path(), sheet, plan, tmpdir ? tmpdir : "");
        !why.empty()) {
      return {why, ""};
    }
    WriteSink write(&converter, [&](const ControlCell&, const SheetCell& c) {
      return workbook.Add(c);
    });
    if (std::string why = ReadControlFile(control, &write); !why.empty()) {
      return {why, ""};
    }
    if (std::string why = workbook.Close(); !why.empty()) {
      return {excel + ": " + why, ""};
    }
    const mode_t mask = umask(0);
    umask(mask);
    st.st_mode = 0666 & ~mask;
    note = " (new workbook)";
  } else {
    if (std::string why = CheckPackage(path.string(), options.limits);
        !why.empty()) {
      return {excel + ": " + why, ""};
    }
    std::vector<SheetCell> cells;
    cells.reserve(planned.cells_);
    WriteSink collect(&converter, [&](const ControlCell&, const SheetCell& c) {
      cells.push_back(c);
      return std::string();
    });
    if (std::string why = ReadControlFile(control, &collect); !why.empty()) {
      return {why, ""};
    }
    // Row and column order; of two values for one cell the later one wins.
    std::stable_sort(cells.begin(), cells.end(),
                     [](const SheetCell& a, const SheetCell& b) {
                       return a.row != b.row ? a.row < b.row : a.col < b.col;
                     });
    std::vector<SheetCell> unique;
    for (SheetCell& c : cells) {
      if (!unique.empty() && unique.back().row == c.row &&
          unique.back().col == c.col) {
        unique.back() = std::move(c);
      } else {
        unique.push_back(std::move(c));
      }
    }
    cells.clear();
    bool added = false;
    if (std::string why = UpdateWorkbook(path.string(), temp.path(), sheet,
                                         plan, unique, options.limits, &added);
        !why.empty()) {
      return {excel + ": " + why, ""};
    }
    if (added) note = " (worksheet added)";
  }
  if (std::string why = temp.Keep(path.string(), st.st_mode & 07777);
      !why.empty()) {
    return {excel + ": " + why, ""};
  }
  return {"", "applied " + control + ": " + count + " to " + where + note};
}

int Usage(std::string_view problem) {
  std::cerr << "pellar-sheet: " << problem << "\n"
            << "Try 'pellar-sheet --help' for more information.\n";
  return kExitUsage;
}

int Main(int argc, char** argv) {
  Options options;
  std::vector<std::string> controls;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_done || !arg.starts_with("--")) {
      controls.emplace_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << "pellar-sheet " << PELLAR_VERSION_TEXT << "\n"
                << "libxlsxwriter " << LXW_VERSION << ", libzip "
                << zip_libzip_version() << ", " << XML_ExpatVersion() << "\n";
      return 0;
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--formulas") {
      options.formulas = true;
    } else if (arg == "--origin" || arg == "--max-inflate") {
      if (i + 1 == argc) return Usage(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "--origin") {
        if (!ParseCellName(value, &options.origin_row, &options.origin_col)) {
          return Usage("--origin takes a cell such as B3, not \"" +
                       std::string(value) + "\"");
        }
      } else {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(argv[i], &end, 10);
        if (value.empty() || *end != '\0' || n == 0) {
          return Usage("--max-inflate takes a number of bytes");
        }
        options.limits.max_inflate = n;
      }
    } else {
      return Usage("unknown option " + std::string(arg));
    }
  }
  if (controls.empty()) return Usage("no control document given");

  uint64_t applied = 0, refused = 0, warnings = 0;
  for (const std::string& control : controls) {
    Outcome outcome = Apply(control, options, &warnings);
    if (outcome.refused.empty()) {
      std::cout << outcome.line << "\n";
      ++applied;
    } else {
      std::cout << "refused " << control << ": " << outcome.refused << "\n";
      ++refused;
    }
    std::cout.flush();
  }
  std::cout << Grouped(applied) << (options.dry_run ? " checked, " : " applied, ")
            << Grouped(refused) << " refused, " << Grouped(warnings)
            << (warnings == 1 ? " warning" : " warnings") << "\n";
  return refused == 0 ? 0 : kExitRefused;
}

}  // namespace
}  // namespace pellar::sheet

int main(int argc, char** argv) { return pellar::sheet::Main(argc, argv); }
