// pellar-sheet: applies worksheet control documents (Cell.SaveWorkSheet) to
// workbooks: creates a missing .xlsx, updates an existing .xlsx or .xlsm.
#include <expat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apply_document.h"
#include "cell_meaning.h"
#include "printable.h"

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
