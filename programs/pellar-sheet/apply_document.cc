#include "apply_document.h"

#include <pellar/base/chars.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "control_reader.h"
#include "printable.h"
#include "workbook_file.h"

namespace pellar::sheet {

void Say(std::string_view line) {
  std::cout << programs::Printable(line) << "\n";
}

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = int(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(size_t(i), ",");
  return digits;
}

namespace {

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

}  // namespace

Outcome Apply(const std::string& control, const std::string* input,
              const Options& options, bool again, uint64_t* warnings) {
  Plan plan;
  Converter converter(options, &plan);
  Target target;
  std::string sheet;
  std::unique_ptr<TempFile> temp;
  std::unique_ptr<NewWorkbook> workbook;
  CellList cells;       // for an existing workbook
  WorkbookLock lock;    // held until it is renamed into place
  bool retry = false;   // rows out of order: a second reading
  std::string refusal;  // of the workbook, which has no line

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

}  // namespace pellar::sheet
