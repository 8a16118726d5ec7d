// pellar-sheet: applies worksheet control documents (Cell.SaveWorkSheet) to
// workbooks: creates a missing .xlsx, updates an existing .xlsx or .xlsm.
#include <expat.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <pellar/base/chars.h>
#include <pellar/platform/platform.h>

#include "control_reader.h"
#include "printable.h"
#include "workbook.h"
#include "workbook_file.h"

namespace pellar::sheet {
namespace {

constexpr std::string_view kUsage =
    "Usage: pellar-sheet [OPTION]... CONTROL.xml...\n"
    "       pellar-sheet [OPTION]... - < CONTROL.xml\n"
    "Applies worksheet control documents, as Cell.SaveWorkSheet writes them,\n"
    "to their workbooks: each listed value and format goes into its cell of\n"
    "the worksheet the document names.\n"
    "\n"
    "Options (those taking a value also as --OPTION=VALUE):\n"
    "  --origin CELL      put work area cell (0, 1) at CELL (default A1): "
    "cell\n"
    "                     (r, c) goes to row r + 1 and column c of the sheet\n"
    "                     (column 1 is A) shifted by the origin, for a\n"
    "                     template whose table starts elsewhere (e.g. B3)\n"
    "  --formulas         make values beginning with \"=\" formulas "
    "(otherwise\n"
    "                     they stay text)\n"
    "  --dates serial|text  dates become date cells (serial, the default) or\n"
    "                     stay texts as written (text)\n"
    "  --dry-run          list what each cell would get: its kind and the\n"
    "                     value the workbook would hold (\"number 123\" for\n"
    "                     00123, \"text ...\", \"formula =...\", \"date "
    "...\",\n"
    "                     \"boolean TRUE\"); write nothing\n"
    "  --max-inflate BYTES  refuse a workbook whose parts inflate past BYTES\n"
    "                     (default 1073741824)\n"
    "  --lock-timeout SECONDS  wait this long for another run updating the\n"
    "                     same workbook, then refuse (default 60)\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "  --                 the arguments after it are documents\n"
    "\n"
    "Workbooks:\n"
    "  ExcelFile names the workbook, relative to the control document's\n"
    "  folder (for \"-\", the document on standard input: relative to the\n"
    "  working folder). A missing .xlsx is created; an existing .xlsx or\n"
    "  .xlsm is updated, everything but the listed cells and their styles\n"
    "  kept as it was; a missing worksheet is added at the end. A protected\n"
    "  worksheet is updated with a warning, as a macro that knows its\n"
    "  password would update it. A name ending in .xls is written as\n"
    "  NAME.xlsx beside it. The workbook is written under a fresh name and\n"
    "  renamed into place, keeping its owner and mode. Runs updating one\n"
    "  workbook take turns.\n"
    "\n"
    "Values:\n"
    "  One pair of surrounding \" or ' is removed and the value stays text;\n"
    "  an unquoted value that reads as a number (\"12.5\", \"-3\", \"1E3\")\n"
    "  becomes a number; True and False (any case) become TRUE and FALSE;\n"
    "  a date as the script host writes it (2/29/2024, 2/29/2024 1:05:09 PM,\n"
    "  1:05:09 PM) becomes a date, shown as written (m/d/yyyy,\n"
    "  m/d/yyyy h:mm:ss AM/PM, h:mm:ss AM/PM) unless the cell's format or a\n"
    "  template's date format says otherwise; a date before 1/1/1900 stays\n"
    "  text, with a warning. Anything else is text.\n"
    "\n"
    "Templates:\n"
    "  In an existing workbook a format adds to the cell's style: Bold=1 on a\n"
    "  cell with a font, fill, border and number format keeps them all. A\n"
    "  new cell starts from its row's style, else its column's.\n"
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
    "  0   every document was applied\n"
    "  1   any document was refused\n"
    "  2   wrong usage\n"
    "\n"
    "Files:\n"
    "  CONTROL.xml                 a worksheet control document, as\n"
    "                              Cell.SaveWorkSheet writes it; \"-\" reads\n"
    "                              one from standard input\n"
    "  ExcelFile                   the workbook it names, locked (flock)\n"
    "                              while a run updates it\n"
    "  .NAME.pellar-sheet-XXXXXX   the new workbook, written beside it and\n"
    "                              renamed into place\n"
    "\n"
    "Examples:\n"
    "  pellar-sheet out/report-sheet.xml\n"
    "      sets the document's cells in its workbook\n"
    "  pellar-sheet --dry-run --origin=B3 out/report-sheet.xml\n"
    "      lists the cells it would set, the table starting at B3\n"
    "  make-sheet | pellar-sheet -\n"
    "      applies a document another program writes, its workbook\n"
    "      relative to the working folder\n";

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr size_t kWarningsShown = 100;

struct Options {
  bool dry_run = false;
  bool formulas = false;
  bool dates = true;  // dates become date cells, not texts
  int64_t origin_row = 1;
  int64_t origin_col = 1;
  UpdateLimits limits;
  int lock_timeout = 60;  // seconds
};

// One line of output: a document's texts (names, values, reasons) cannot
// split it or start a line of their own.
void Say(std::string_view line) {
  std::cout << programs::Printable(line) << "\n";
}

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = int(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(size_t(i), ",");
  return digits;
}

// Spreadsheet cells hold at most this many UTF-16 units of text.
constexpr size_t kMaxText = 32767;

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // a character starts
    if ((byte & 0xF8) == 0xF0) ++units;  // beyond the BMP: two units
  }
  return units;
}

struct FormatEntry {
  int style = 0;
  std::optional<double> width, height;
  std::vector<FormatIssue> issues;
};

// Turns the document's cells into sheet cells, each format text read once.
class Converter {
 public:
  Converter(const Options& options, Plan* plan)
      : options_(options), plan_(plan) {}

  const FormatEntry& FormatOf(const std::string& text) {
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

  // `note` gets what the user should know of the value.
  std::string Place(const ControlCell& in, SheetCell* out,
                    const FormatEntry** format, std::string* note) {
    out->row = options_.origin_row + in.row;
    out->col = options_.origin_col + in.col - 1;
    if (out->col < 1 || out->row > kMaxRows || out->col > kMaxCols) {
      return "cell (" + std::to_string(in.row) + ", " + std::to_string(in.col) +
             ") lies outside the worksheet";
    }
    out->value =
        ClassifyValue(in.value, options_.formulas, options_.dates, note);
    if (Utf16Length(out->value.text) > kMaxText) {
      return "cell (" + std::to_string(in.row) + ", " + std::to_string(in.col) +
             ") holds more than 32,767 characters, more than a cell can";
    }
    *format = &FormatOf(in.format);
    out->style = (*format)->style;
    return "";
  }

 private:
  const Options& options_;
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
                     const std::string& worksheet) override {
    excel_file_ = excel_file;
    worksheet_ = worksheet;
    return start_ ? start_() : "";
  }

  std::string Cell(const ControlCell& cell) override {
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

  Converter* converter_;
  Plan* plan_;
  Write write_;
  std::function<std::string()> start_;  // called once the header is read
  std::string excel_file_, worksheet_;
  std::vector<std::string> warnings_;
  uint64_t warning_count_ = 0;
  uint64_t cells_ = 0;
};

struct [[nodiscard]] Outcome {
  std::string refused;  // why, or "" when applied
  std::string line;     // what was done
  bool again = false;   // the missing workbook appeared: apply once more
};

// Where the workbook of a document is; refuses links, folders and devices.
struct Target {
  std::string excel;  // as the document names it (.xls made .xlsx)
  std::filesystem::path path;
  bool exists = false;
  mode_t mode = 0;
  struct stat was {};  // an existing workbook, once locked
};

std::string FindTarget(const std::string& control, std::string excel,
                       bool quiet, Target* target) {
  if (excel.empty()) return "the document names no workbook";
  // A report written on Windows: "\\" is a letter of a name here, and
  // guessing would write elsewhere than the report's author meant.
  if (excel.find('\\') != std::string::npos ||
      (excel.size() >= 2 && excel[1] == ':' &&
       std::isalpha(static_cast<unsigned char>(excel[0])))) {
    return excel +
           " is a Windows path: write folders with \"/\" (Reports/Out.xlsx), "
           "relative to the control document's folder";
  }
  std::filesystem::path path(excel);
  if (path.is_relative()) {
    path = std::filesystem::path(control).parent_path() / path;
  }
  const std::string ext = AsciiLower(path.extension().string());
  if (ext == ".xls") {
    if (!quiet) {
      Say("note " + control + ": " + excel +
          " is the old binary format, which this program cannot write; "
          "using " +
          excel + "x beside it");
    }
    path += "x";
    excel += "x";
  } else if (ext != ".xlsx" && ext != ".xlsm") {
    return excel + " is not an .xlsx or .xlsm workbook";
  }
  struct stat st;
  target->exists = lstat(path.c_str(), &st) == 0;
  if (!target->exists) {
    if (errno != ENOENT) return excel + ": " + std::strerror(errno);
    if (ext == ".xlsm") {
      return excel + " does not exist, and a new workbook cannot hold macros";
    }
    const mode_t mask = umask(0);
    umask(mask);
    st.st_mode = 0666 & ~mask;
  } else if (S_ISLNK(st.st_mode)) {
    return excel + " is a link";
  } else if (S_ISDIR(st.st_mode)) {
    return excel + " is a folder";
  } else if (!S_ISREG(st.st_mode)) {
    return excel + " is a device or other special file";
  }
  target->excel = excel;
  target->path = path;
  target->mode = st.st_mode & 07777;
  return "";
}

// `again` when the document is applied a second time, to a workbook that
// appeared while the first time made a new one.
// `input` holds the document read from standard input, or is null.
Outcome Apply(const std::string& control, const std::string* input,
              const Options& options, bool again, uint64_t* warnings) {
  Plan plan;
  Converter converter(options, &plan);
  Target target;
  std::string sheet;
  std::unique_ptr<TempFile> temp;
  std::unique_ptr<NewWorkbook> workbook;
  CellList cells;                // for an existing workbook
  WorkbookLock lock;             // held until it is renamed into place
  bool retry = false;            // rows out of order: a second reading
  std::string refusal;           // of the workbook, which has no line

  // Once the header names the workbook, the cells go where they belong.
  ReadSink read(&converter, &plan, nullptr);
  read.start_ = [&]() -> std::string {
    sheet = read.worksheet_.empty() ? "Sheet1" : read.worksheet_;
    if (std::any_of(sheet.begin(), sheet.end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x20;
        })) {
      return refusal = "the worksheet name \"" + sheet +
                       "\" holds a control character, which no worksheet "
                       "name can";
    }
    if (target.path.empty()) {  // not again on a second reading
      refusal = FindTarget(control, read.excel_file_, again, &target);
      if (!refusal.empty()) return refusal;
    }
    if (options.dry_run) return "";
    temp = std::make_unique<TempFile>(target.path);
    if (!temp->ok()) {
      return refusal = "cannot write beside " + target.excel + ": " +
                       std::strerror(errno);
    }
    if (target.exists) return "";
    workbook = std::make_unique<NewWorkbook>();
    const char* tmpdir = std::getenv("TMPDIR");
    return workbook->Open(temp->path(), sheet, plan, tmpdir ? tmpdir : "");
  };
  read.write_ = [&](const ControlCell& in, SheetCell& c) -> std::string {
    if (options.dry_run) {
      Say("  " + target.excel + "!" + sheet + "!" + ColumnName(c.col) +
          std::to_string(c.row) + " " + DescribeValue(c.value) +
          (in.format.empty() ? "" : "  [" + in.format + "]"));
      return "";
    }
    if (!target.exists) {
      std::string why = workbook->Add(c);
      if (why == kRowsOutOfOrder) retry = true;
      return why;
    }
    cells.Add(c);
    return "";
  };
  const auto read_document = [&] {
    return input != nullptr ? ReadControl(*input, &read)
                            : ReadControlFile(control, &read);
  };
  std::string why = read_document();
  if (retry) {
    // libxlsxwriter's constant-memory mode takes rows in order only.
    workbook.reset();
    temp.reset();
    plan.rows_in_order = false;  // styles, widths and heights stay as read
    read.warnings_.clear();
    read.warning_count_ = read.cells_ = 0;
    why = read_document();
  }
  if (!refusal.empty()) return {refusal, ""};
  if (!why.empty()) return {why, ""};
  // Applied again, the document's warnings were given the first time.
  if (!again) {
    for (const std::string& w : read.warnings_) {
      Say("warning " + control + ": " + w);
    }
    if (read.warning_count_ > read.warnings_.size()) {
      Say("warning " + control + ": " +
          Grouped(read.warning_count_ - read.warnings_.size()) +
          " more warnings not shown");
    }
    *warnings += read.warning_count_;
  }

  const std::string where = target.excel + "!" + sheet;
  const std::string count =
      Grouped(read.cells_) + (read.cells_ == 1 ? " cell" : " cells");
  if (options.dry_run) {
    return {"", "would apply " + control + ": " + count + " to " + where +
                    (target.exists ? "" : " (new workbook)")};
  }
  std::string note;
  if (!target.exists) {
    if (std::string e = workbook->Close(); !e.empty()) {
      return {target.excel + ": " + e, ""};
    }
    note = " (new workbook)";
  } else {
    if (std::string e =
            lock.Lock(target.path, options.lock_timeout, &target.was);
        !e.empty()) {
      return {target.excel + " " + e, ""};
    }
    if (std::string e = CheckPackage(target.path.string(), options.limits);
        !e.empty()) {
      return {target.excel + ": " + e, ""};
    }
    cells.Sort();
    bool added = false;
    std::vector<std::string> told;
    if (std::string e =
            UpdateWorkbook(target.path.string(), temp->path(), sheet, plan,
                           cells, options.limits, &added, &told);
        !e.empty()) {
      return {target.excel + ": " + e, ""};
    }
    if (added) note = " (worksheet added)";
    for (size_t i = 0; i < told.size() && i < kWarningsShown; ++i) {
      Say("warning " + control + ": " + where + ": " + told[i]);
    }
    if (told.size() > kWarningsShown) {
      Say("warning " + control + ": " + Grouped(told.size() - kWarningsShown) +
          " more warnings not shown");
    }
    *warnings += told.size();
  }
  // A workbook made new is not put over one another run made meanwhile:
  // the cells go into that one instead.
  const std::string kept =
      target.exists ? temp->Keep(target.path.string(), target.was)
                    : temp->KeepNew(target.path.string(), target.mode);
  if (kept == TempFile::kAppeared) {
    if (!again) return {"", "", true};
    return {target.excel + " " + kept, ""};
  }
  if (!kept.empty()) return {target.excel + ": " + kept, ""};
  return {"", "applied " + control + ": " + count + " to " + where + note};
}

int Usage(std::string_view problem) {
  std::cerr << "pellar-sheet: " << problem << "\n"
            << "Try 'pellar-sheet --help' for more information.\n";
  return kExitUsage;
}

// Standard input whole: a document read from it cannot be read again for
// a second pass.
std::string ReadInput(std::string* bytes) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return "";
    bytes->append(buffer, size_t(n));
  }
}

int Main(int argc, char** argv) {
  Options options;
  std::vector<std::string> controls;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options_done || arg == "-" || !arg.starts_with("-")) {
      controls.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    // "--origin=B3" as well as "--origin B3".
    std::optional<std::string_view> value;
    if (const size_t eq = arg.find('=');
        arg.starts_with("--") && eq != arg.npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    const bool takes_value = arg == "--origin" || arg == "--max-inflate" ||
                             arg == "--lock-timeout" || arg == "--dates";
    if (value && !takes_value) {
      return Usage(std::string(arg) + " takes no value");
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--version" || arg == "-V") {
      std::cout << "pellar-sheet " << PELLAR_VERSION_TEXT << "\n"
                << "libxlsxwriter " << LXW_VERSION << ", libzip "
                << zip_libzip_version() << ", " << XML_ExpatVersion() << "\n";
      return 0;
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--formulas") {
      options.formulas = true;
    } else if (takes_value) {
      if (!value) {
        if (i + 1 == argc) return Usage(std::string(arg) + " needs a value");
        value = argv[++i];
      }
      if (arg == "--dates") {
        if (*value != "text" && *value != "serial") {
          return Usage("--dates takes text or serial, not \"" +
                       programs::Printable(*value) + "\"");
        }
        options.dates = *value == "serial";
      } else if (arg == "--origin") {
        if (!ParseCellName(*value, &options.origin_row, &options.origin_col)) {
          return Usage("--origin takes a cell such as B3, not \"" +
                       programs::Printable(*value) + "\"");
        }
      } else {
        const bool seconds = arg == "--lock-timeout";
        uint64_t n = 0;
        const auto [end, ec] =
            std::from_chars(value->data(), value->data() + value->size(), n);
        if (value->empty() || ec != std::errc() ||
            end != value->data() + value->size() ||
            (seconds ? n > 86400 : n == 0)) {
          return Usage(seconds ? "--lock-timeout takes a number of seconds"
                               : "--max-inflate takes a number of bytes");
        }
        if (seconds) {
          options.lock_timeout = int(n);
        } else {
          options.limits.max_inflate = n;
        }
      }
    } else {
      return Usage("unknown option " + programs::Printable(arg));
    }
  }
  if (controls.empty()) return Usage("no control document given");

  uint64_t applied = 0, refused = 0, warnings = 0;
  std::optional<std::string> input;  // read once, however often named
  std::string input_error;           // why it could not be, or ""
  for (const std::string& name : controls) {
    // Named so in every line; its workbook lies relative to this folder.
    const std::string control = name == "-" ? "(standard input)" : name;
    Outcome outcome;
    try {
      if (name == "-" && !input) {
        input.emplace();
        input_error = ReadInput(&*input);
      }
      const std::string* bytes = name == "-" ? &*input : nullptr;
      if (bytes != nullptr) outcome.refused = input_error;
      if (outcome.refused.empty()) {
        outcome = Apply(control, bytes, options, false, &warnings);
      }
      if (outcome.again) {
        outcome = Apply(control, bytes, options, true, &warnings);
      }
    } catch (const std::bad_alloc&) {
      // One document too big for the machine (a zip bomb, say) is refused
      // alone; its temporary files went as the stack unwound.
      outcome = {"out of memory: it needs more than this machine gives", ""};
    }
    if (outcome.refused.empty()) {
      Say(outcome.line);
      ++applied;
    } else {
      Say("refused " + control + ": " + outcome.refused);
      ++refused;
    }
    std::cout.flush();
  }
  std::cout << Grouped(applied)
            << (options.dry_run ? " checked, " : " applied, ")
            << Grouped(refused) << " refused, " << Grouped(warnings)
            << (warnings == 1 ? " warning" : " warnings") << "\n";
  return refused == 0 ? 0 : kExitRefused;
}

}  // namespace
}  // namespace pellar::sheet

int main(int argc, char** argv) { return pellar::sheet::Main(argc, argv); }
