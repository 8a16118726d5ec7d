// The readers on arbitrary file bytes: ReadTextLines and ReadTextFile, the
// line reader behind them, Cell.LoadFile and Cell.Lookup. The readers must
// agree with each other: the lines joined by CR LF are the file's text, and
// the line reader gives the same lines line by line and run by run.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <pellar/base/failure.h>
#include "fuzz_support.h"
#include <pellar/io/read_text.h>
#include <pellar/io/textfile.h>
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

constexpr const char16_t* kSeparators[] = {
    u",", u";", u"\t", u"", u"||", u"\u20AC", u"\u4E2D", u"\r", u"\n"};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace
}  // namespace pellar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellar;
  fuzz::InputScope scope;
  FuzzedDataProvider in(data, size);
  Text separator(in.PickValueInArray(kSeparators));
  const int32_t rows = in.ConsumeIntegralInRange<int32_t>(-1, 40);
  int32_t cols = in.ConsumeIntegralInRange<int32_t>(0, 8);
  int16_t key_col = in.ConsumeIntegralInRange<int16_t>(-2, 9);
  int16_t col_no = in.ConsumeIntegralInRange<int16_t>(-2, 9);
  const std::string key_bytes = in.ConsumeRandomLengthString(16);
  const std::string bytes = in.ConsumeRemainingBytesAsString();
  fuzz::WriteFile("in.txt", bytes);
  Text name = u"in.txt";

  const std::vector<Text> lines = ReadTextLines(name);
  const Text text = ReadTextFile(name);
  Text joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += u"\r\n";
    joined += lines[i];
  }
  Check(joined == text);

  // The line reader line by line and run by run: the same lines, every
  // byte accounted for.
  std::vector<Text> ansi_lines;
  AnsiLineReader ansi = AnsiLineReader::Open(name);
  std::string_view raw;
  size_t line_bytes = 0;
  while (ansi.Next(&raw)) {
    ansi_lines.push_back(FromAnsi(raw));
    line_bytes += raw.size();
  }
  std::vector<Text> run_lines;
  AnsiLineReader runs = AnsiLineReader::Open(name);
  std::string_view run;
  while (runs.NextLines(&run)) {
    while (!run.empty()) run_lines.push_back(FromAnsi(AnsiLineReader::NextLine(run)));
  }
  Check(ansi_lines == run_lines);
  size_t crs = 0;
  for (char b : bytes) crs += b == '\r';
  Check(line_bytes + crs <= bytes.size());

  Cell cell;
  if (rows >= 0) cell.Clear(rows, cols);
  const Text loaded = cell.LoadFile(name, separator);
  Check(loaded == u"File Loaded" || loaded.rfind(u"ERROR:", 0) == 0);
  Text key = FromAnsi(key_bytes);
  try {
    cell.Lookup(name, key_col, key, col_no, separator);
  } catch (const Failure& failure) {
    Check(failure.number() == error::kSubscriptOutOfRange);
  }
  return 0;
}
