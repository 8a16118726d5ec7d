// What the two libraries pellar-sheet is built on cost by themselves, for
// sheet_bench.py: expat reading a control document with handlers that only
// keep each cell's value, then libxlsxwriter writing those cells to a new
// workbook (constant memory, zip level 1, as pellar-sheet does). No run of
// pellar-sheet on that document can take less processor time than the sum.
//
//   sheet_floor CONTROL.xml OUT.xlsx   prints "expat S" and "libxlsxwriter S"
#include <expat.h>
#include <xlsxwriter.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Cells {
  std::string text;  // the current element's
  std::vector<std::string> values;
  std::vector<long> rows, cols;
};

void XMLCALL OnStart(void* data, const XML_Char*, const XML_Char**) {
  static_cast<Cells*>(data)->text.clear();
}
void XMLCALL OnText(void* data, const XML_Char* s, int n) {
  static_cast<Cells*>(data)->text.append(s, size_t(n));
}
void XMLCALL OnEnd(void* data, const XML_Char* name) {
  auto* c = static_cast<Cells*>(data);
  const std::string_view n = name;
  if (n == "Row") c->rows.push_back(std::stol(c->text));
  if (n == "Col") c->cols.push_back(std::stol(c->text));
  if (n == "Value") c->values.push_back(c->text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sheet_floor CONTROL.xml OUT.xlsx\n");
    return 2;
  }
  Cells cells;
  const double read_start = ProcessorSeconds();
  {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &cells);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> buffer(size_t{1} << 16);
    bool more = true;
    while (more) {
      in.read(buffer.data(), std::streamsize(buffer.size()));
      const auto n = int(in.gcount());
      more = n > 0;
      if (XML_Parse(parser, buffer.data(), n, !more) != XML_STATUS_OK) {
        std::fprintf(stderr, "sheet_floor: %s\n",
                     XML_ErrorString(XML_GetErrorCode(parser)));
        return 1;
      }
    }
    XML_ParserFree(parser);
  }
  const double read_seconds = ProcessorSeconds() - read_start;

  // Not timed: which values are numbers, and the quotes taken off.
  std::vector<double> numbers(cells.values.size());
  std::vector<bool> is_number(cells.values.size());
  for (size_t i = 0; i < cells.values.size(); ++i) {
    std::string& v = cells.values[i];
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
      v = v.substr(1, v.size() - 2);
      continue;
    }
    const auto [end, error] =
        std::from_chars(v.data(), v.data() + v.size(), numbers[i]);
    is_number[i] = error == std::errc() && end == v.data() + v.size();
  }

  const double write_start = ProcessorSeconds();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.use_zip64 = LXW_TRUE;
  lxw_workbook* workbook = workbook_new_opt(argv[2], &options);
  lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Data");
  for (size_t i = 0; i < cells.values.size(); ++i) {
    const auto row = lxw_row_t(cells.rows[i]);
    const auto col = lxw_col_t(cells.cols[i] - 1);
    if (is_number[i]) {
      worksheet_write_number(sheet, row, col, numbers[i], nullptr);
    } else {
      worksheet_write_string(sheet, row, col, cells.values[i].c_str(), nullptr);
    }
  }
  if (workbook_close(workbook) != LXW_NO_ERROR) return 1;
  const double write_seconds = ProcessorSeconds() - write_start;
  std::printf("expat %.3f\nlibxlsxwriter %.3f\n", read_seconds, write_seconds);
  return 0;
}
