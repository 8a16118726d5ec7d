// The cost of the work area's files against the bare cost of their bytes:
// each save against writing the same bytes with one buffered write, each
// reader against reading the file's bytes, all on the same disk in the same
// run. XmlEscape against the plain code-page conversion of the same text.
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include <pellar/base/text_internal.h>
#include <pellar/io/xml_writer.h>
#include <pellar/platform/platform.h>
#include "ratio.h"
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

constexpr int32_t kRows = 100000;
constexpr int32_t kCols = 10;

// A folder of its own under the system's temporary folder, removed at exit.
class BenchFolder {
 public:
  BenchFolder() {
    std::string templ =
        (std::filesystem::temp_directory_path() / "pellar-bench-XXXXXX")
            .string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path_ = templ;
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Text File(const char* name) const { return FromUtf8(path_ + "/" + name); }

 private:
  std::string path_;
};

const BenchFolder& Folder() {
  static const BenchFolder folder;
  return folder;
}

// Joins two texts (kept out of line: GCC 12 misreads literal + text).
Text Cat(TextView a, TextView b) {
  Text joined(a);
  joined += b;
  return joined;
}

// A report's work area: keys, quoted names, amounts, dates, a few values
// that need escaping, empty cells and empty trailing columns.
Text ValueAt(int32_t r, int32_t c) {
  static const char16_t* const kCities[] = {
      u"London", u"Paris", u"M\u00FCnchen", u"New York", u"Z\u00FCrich"};
  const Text n = Decimal(r);
  switch (c) {
    case 0:
      return Cat(u"R", n);
    case 1:
      return Cat(Cat(u"\"Customer ", n), u"\"");
    case 2:
      return Cat(Decimal((r * 37) % 100000), u".50");
    case 3:
      return u"08-Dec-2026";
    case 4:
      return r % 10 == 0 ? Text(u"Caf\u00E9 & Co") : Cat(u"Street ", n);
    case 5:
      return r % 3 == 0 ? Text() : Decimal(r % 1000);
    case 6:
      return kCities[r % 5];
    case 7:
      return Decimal(r % 7);
    case 8:
      return r % 50 == 0 ? Text(u"a<b> \u20AC5") : Text(u"note");
    default:
      return Text();
  }
}

Cell& WorkArea() {
  static Cell* cell = [] {
    auto* made = new Cell;
    int32_t cols = kCols - 1;
    made->Clear(kRows - 1, cols);
    for (int32_t r = 0; r < kRows; ++r) {
      for (int32_t c = 0; c < kCols; ++c) {
        Text value = ValueAt(r, c), delimiter;
        made->SaveValue(r, c, value, delimiter);
      }
    }
    int16_t tag_col = 0;
    for (Text tag : {u"Key", u"Name", u"Amount", u"Date", u"Street", u"Number",
                     u"City", u"Day", u"Note", u"Spare"}) {
      made->SetXMLTag(tag_col, tag);
      ++tag_col;
    }
    return made;
  }();
  return *cell;
}

std::string ReadAll(const Text& path) {
  std::string bytes;
  auto file = Platform::Current().NewSequentialFile(path);
  size_t size = 0;
  bytes.resize(256 * 1024);
  while (size_t got = file->Read(bytes.data() + size, bytes.size() - size)) {
    size += got;
    if (size == bytes.size()) bytes.resize(bytes.size() * 2);
  }
  bytes.resize(size);
  return bytes;
}

// Heap bytes per cell of a 100,000 x 10 work area, empty and filled with
// texts of about six characters.
struct CellBytes {
  double empty;
  double filled;
};

CellBytes MeasureCellBytes() {
  // Large blocks are mapped rather than taken from the heap's arenas.
  const auto heap = [] {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
  };
  const double cells = static_cast<double>(kRows) * kCols;
  const double before = heap();
  auto cell = std::make_unique<Cell>();
  int32_t cols = kCols - 1;
  cell->Clear(kRows - 1, cols);
  const double empty = heap();
  Text delimiter;
  for (int32_t r = 0; r < kRows; ++r) {
    for (int32_t c = 0; c < kCols; ++c) {
      Text value = Cat(u"v", Decimal((r * 7 + c) % 100000));
      cell->SaveValue(r, c, value, delimiter);
    }
  }
  const double filled = heap();
  return {(empty - before) / cells, (filled - before) / cells};
}

// The files the benchmarks write or read, made once.
const Text& CsvFile() {
  static const Text path = [] {
    Text name = Folder().File("area.csv"), separator = u",";
    int16_t max_lines = 0;
    WorkArea().SaveFile(name, separator, max_lines);
    return name;
  }();
  return path;
}

const Text& XmlFile() {
  static const Text path = [] {
    Text name = Folder().File("area.xml"), doc = u"Report", record = u"Row";
    int16_t max_lines = 0;
    WorkArea().SaveXMLFile(name, doc, record, max_lines);
    return name;
  }();
  return path;
}

void WriteOnce(const Text& path, const std::string& bytes) {
  auto file = Platform::Current().NewWritableFile(path);
  file->Append(bytes);
  file->Close();
}

void BM_SaveFile(benchmark::State& state) {
  Text name = CsvFile(), separator = u",";
  int16_t max_lines = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(WorkArea().SaveFile(name, separator, max_lines));
  }
}
BENCHMARK(BM_SaveFile)->Unit(benchmark::kMillisecond);

void BM_SaveFileBytes(benchmark::State& state) {
  const std::string bytes = ReadAll(CsvFile());
  for (auto _ : state) WriteOnce(CsvFile(), bytes);
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_SaveFileBytes)->Unit(benchmark::kMillisecond);

void BM_SaveXMLFile(benchmark::State& state) {
  Text name = XmlFile(), doc = u"Report", record = u"Row";
  int16_t max_lines = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        WorkArea().SaveXMLFile(name, doc, record, max_lines));
  }
}
BENCHMARK(BM_SaveXMLFile)->Unit(benchmark::kMillisecond);

void BM_SaveXMLFileBytes(benchmark::State& state) {
  const std::string bytes = ReadAll(XmlFile());
  for (auto _ : state) WriteOnce(XmlFile(), bytes);
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_SaveXMLFileBytes)->Unit(benchmark::kMillisecond);

// Into a freshly cleared work area each time, as a report loads once.
void BM_LoadFile(benchmark::State& state) {
  Text name = CsvFile(), separator = u",";
  for (auto _ : state) {
    state.PauseTiming();
    auto cell = std::make_unique<Cell>();
    int32_t cols = kCols - 1;
    cell->Clear(kRows - 1, cols);
    state.ResumeTiming();
    benchmark::DoNotOptimize(cell->LoadFile(name, separator));
    state.PauseTiming();
    cell.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMillisecond);

// The same load into an area that already holds every value: each text is
// replaced, and the texts replaced make room for the next load.
void BM_LoadFileAgain(benchmark::State& state) {
  Text name = CsvFile(), separator = u",";
  Cell cell;
  int32_t cols = kCols - 1;
  cell.Clear(kRows - 1, cols);
  cell.LoadFile(name, separator);
  for (auto _ : state) benchmark::DoNotOptimize(cell.LoadFile(name, separator));
}
BENCHMARK(BM_LoadFileAgain)->Unit(benchmark::kMillisecond);

void BM_Lookup(benchmark::State& state) {
  Text name = CsvFile(), key = Cat(u"R", Decimal(kRows - 1)), separator = u",";
  int16_t key_col = 0, col = 6;
  Cell cell;
  for (auto _ : state) {
    Text found = cell.Lookup(name, key_col, key, col, separator);
    if (found != ValueAt(kRows - 1, 6)) state.SkipWithError("wrong field");
  }
}
BENCHMARK(BM_Lookup)->Unit(benchmark::kMillisecond);

// The whole file into one buffer, as a reader that splits it afterwards
// would have it.
void BM_ReadFileWhole(benchmark::State& state) {
  size_t total = 0;
  for (auto _ : state) {
    const std::string bytes = ReadAll(CsvFile());
    total = bytes.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}
BENCHMARK(BM_ReadFileWhole)->Unit(benchmark::kMillisecond);

void BM_ReadFileBytes(benchmark::State& state) {
  char buffer[64 * 1024];
  size_t total = 0;
  for (auto _ : state) {
    auto file = Platform::Current().NewSequentialFile(CsvFile());
    total = 0;
    while (size_t got = file->Read(buffer, sizeof(buffer))) total += got;
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);

// Mostly plain text with names, specials, line breaks and characters above
// 126, one of them outside the code page.
Text MixedText() {
  Text text;
  const Text pieces[] = {u"Invoice 12345 for ",
                         u"Smith & Sons",
                         u" <ltd> ",
                         u"\"quoted\" it's",
                         u"\r\n",
                         u"caf\u00E9 \u20AC12,50 ",
                         u"plain words and numbers 0123456789 ",
                         u"\u4E2D"};
  for (int i = 0; text.size() < (1 << 20); ++i) text += pieces[i % 8];
  return text;
}

void BM_XmlEscape(benchmark::State& state) {
  const Text text = MixedText();
  for (auto _ : state) benchmark::DoNotOptimize(XmlEscape(text));
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * text.size() * 2));
}
BENCHMARK(BM_XmlEscape)->Unit(benchmark::kMicrosecond);

void BM_ToAnsi(benchmark::State& state) {
  const Text text = MixedText();
  for (auto _ : state) benchmark::DoNotOptimize(ToAnsi(text));
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * text.size() * 2));
}
BENCHMARK(BM_ToAnsi)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace pellar

int main(int argc, char** argv) {
  const pellar::CellBytes bytes = pellar::MeasureCellBytes();
  return pellar::bench::RunWithRatios(
      argc, argv,
      {{"BM_SaveFile", "BM_SaveFileBytes", 2.0},
       {"BM_SaveXMLFile", "BM_SaveXMLFileBytes", 2.5},
       {"BM_LoadFile", "BM_ReadFileWhole", 8.0},
       {"BM_LoadFileAgain", "BM_ReadFileWhole", 8.0},
       {"BM_Lookup", "BM_ReadFileWhole", 2.0},
       {"BM_XmlEscape", "BM_ToAnsi", 3.0}},
      {{"heap bytes per empty cell", "1 byte", bytes.empty, 24.0},
       {"heap bytes per filled cell", "1 byte", bytes.filled, 24.0}});
}
