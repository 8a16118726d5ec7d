// Rendering a large table: doubling the rows should about double the time.
#include <pellar/base/text_internal.h>
#include <pellar/io/identity.h>
#include "ratio.h"
#include <pellar/table/table.h>

namespace pellar {
namespace {

// A table of `rows` x 10 cells, every cell filled, some formatted.
void FillTable(Table& table, int32_t rows) {
  int32_t cols = 9;
  table.BuildNew(rows - 1, cols);
  Text format = u"align=right";
  Text none;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c <= cols; ++c) {
      Text value = u"r" + Decimal(r) + u"c" + Decimal(c);
      table.LoadCell(r, c, value, c % 3 == 0 ? format : none);
    }
  }
}

void SaveTable(benchmark::State& state, int32_t rows) {
  Table table;
  FillTable(table, rows);
  Text tag = u"%TABLE%", format = u"border=1";
  // The first Save also pays for fresh memory pages, which costs more than
  // the rendering on some machines and would swamp the few iterations of a
  // large table; measured is the rendering.
  table.Save(tag, format);
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Save(tag, format));
  }
  state.counters["chars"] = static_cast<double>(table.GetText().size());
}

void BM_TableSave20kBy10(benchmark::State& state) { SaveTable(state, 20000); }
BENCHMARK(BM_TableSave20kBy10)->Unit(benchmark::kMillisecond);

void BM_TableSave40kBy10(benchmark::State& state) { SaveTable(state, 40000); }
BENCHMARK(BM_TableSave40kBy10)->Unit(benchmark::kMillisecond);

// Small tables built one after another in one instance, as a report run
// that mails a table per group builds them: each Save must cost the same
// however many tables came before.
void BuildTables(benchmark::State& state, int tables) {
  Text tag = u"%TABLE%", format = u"border=1", none;
  for (auto _ : state) {
    // Every BuildNew adds to the thread's activity log, which would
    // otherwise grow over all the iterations measured.
    ClearActivityLog();
    Table table;
    for (int t = 0; t < tables; ++t) {
      int32_t cols = 3;
      table.BuildNew(4, cols);
      for (int32_t r = 0; r <= 4; ++r) {
        for (int32_t c = 0; c <= cols; ++c) {
          Text value = u"r" + Decimal(r) + u"c" + Decimal(c);
          table.LoadCell(r, c, value, none);
        }
      }
      table.Save(tag, format);
    }
    benchmark::DoNotOptimize(table.GetText().size());
  }
}

void BM_Tables1000(benchmark::State& state) { BuildTables(state, 1000); }
BENCHMARK(BM_Tables1000)->Unit(benchmark::kMillisecond);

void BM_Tables2000(benchmark::State& state) { BuildTables(state, 2000); }
BENCHMARK(BM_Tables2000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellar

int main(int argc, char** argv) {
  return pellar::bench::RunWithRatios(
      argc, argv,
      {{"BM_TableSave40kBy10", "BM_TableSave20kBy10", 2.2},
       {"BM_Tables2000", "BM_Tables1000", 2.2}});
}
