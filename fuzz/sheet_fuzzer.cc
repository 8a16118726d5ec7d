// pellar-sheet's control-document reader and format-text parser on
// arbitrary bytes. A refused document says why and where; an accepted one
// hands on valid UTF-8 only, and every format text of it parses into pairs
// that each either apply or are reported. A text with its literal
// character codes escaped reads back, as spreadsheet programs read it, as
// the text itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/text.h>
#include "cell_meaning.h"
#include "control_reader.h"

namespace pellar::sheet {
namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool ValidUtf8(const std::string& text) {
  return ToUtf8(FromUtf8(text)) == text;
}

// How spreadsheet programs read a cell's text: "_xHHHH_" is character HHHH.
std::string ReadAsSpreadsheets(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "_x") == 0 && i + 7 <= text.size() &&
        text[i + 6] == '_' &&
        text.find_first_not_of("0123456789abcdefABCDEF", i + 2) == i + 6) {
      out += ToUtf8(
          Text(1, char16_t(std::stoi(text.substr(i + 2, 4), nullptr, 16))));
      i += 7;
    } else {
      out += text[i++];
    }
  }
  return out;
}

struct Sink : ControlSink {
  std::string Header(const std::string& excel,
                     const std::string& sheet) override {
    Check(ValidUtf8(excel) && ValidUtf8(sheet));
    return "";
  }
  std::string Cell(const ControlCell& cell) override {
    Check(ValidUtf8(cell.value) && ValidUtf8(cell.format) && cell.line > 0);
    std::vector<FormatIssue> issues;
    const Format format = ParseFormat(cell.format, &issues);
    for (const FormatIssue& issue : issues) Check(!issue.why.empty());
    Check(!format.width || (*format.width >= 0 && *format.width <= 255));
    Check(format.style.empty() == (format.style.Key() == Style().Key()));
    const CellValue value = ClassifyValue(cell.value, cells % 2 == 0);
    Check(value.text.size() <= cell.value.size());
    std::string scratch;
    Check(ReadAsSpreadsheets(EscapeLiteralCodes(value.text, &scratch)) ==
          value.text);
    ++cells;
    return "";
  }
  int cells = 0;
};

}  // namespace
}  // namespace pellar::sheet

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellar::sheet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Sink whole;
  const std::string error = ReadControl(bytes, &whole);
  Check(error.empty() || error.find("(line ") != std::string::npos);
  // Read in pieces, the same answer (expat may name a syntax error after
  // the document's end differently when it sees the bytes in pieces).
  Sink pieces;
  ControlReader reader(&pieces);
  for (size_t i = 0; i < bytes.size(); i += 61) {
    if (!reader.Feed(bytes.substr(i, 61), false)) break;
  }
  const bool read = reader.Feed("", true);
  Check(read == error.empty() && reader.error().empty() == error.empty() &&
        pieces.cells == whole.cells);
  // The bytes as a format text of their own.
  std::vector<FormatIssue> issues;
  ParseFormat(bytes, &issues);
  return 0;
}
