// Cost of a call through Invoke against a direct call, and the memory a work
// area takes per cell.
#include <malloc.h>

#include <array>

#include <pellar/automation/automation.h>
#include "ratio.h"
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

void BM_SaveValueDirect(benchmark::State& state) {
  Cell cell;
  int32_t cols = 9;
  cell.Clear(999, cols);
  Text value = u"value", delimiter = u"\"";
  int32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cell.SaveValue(i % 1000, i % 10, value, delimiter));
    ++i;
  }
}
BENCHMARK(BM_SaveValueDirect);

// As a script host calls: by name, the value and delimiter in the caller's
// variables (by reference), row and column as 16-bit literals.
void BM_SaveValueInvoke(benchmark::State& state) {
  std::unique_ptr<Object> cell = Object::Create(u"PellarLib.Cell");
  std::vector<Arg> clear = {Arg::Val(int16_t{999}), Arg::Val(int16_t{9})};
  Invoke(*cell, u"Clear", clear);
  Value value = Text(u"value"), delimiter = Text(u"\"");
  int32_t i = 0;
  for (auto _ : state) {
    std::array<Arg, 4> args = {Arg::Val(static_cast<int16_t>(i % 1000)),
                               Arg::Val(static_cast<int16_t>(i % 10)),
                               Arg::Ref(value), Arg::Ref(delimiter)};
    benchmark::DoNotOptimize(Invoke(*cell, u"SaveValue", args));
    ++i;
  }
}
BENCHMARK(BM_SaveValueInvoke);

void BM_Clear100kBy20(benchmark::State& state) {
  double bytes_per_cell = 0;
  for (auto _ : state) {
    // Large blocks come from mmap and count in hblkhd, not uordblks.
    struct mallinfo2 m = mallinfo2();
    double before = static_cast<double>(m.uordblks + m.hblkhd);
    auto cell = std::make_unique<Cell>();
    int32_t cols = 19;
    cell->Clear(99999, cols);
    m = mallinfo2();
    double after = static_cast<double>(m.uordblks + m.hblkhd);
    bytes_per_cell = (after - before) / (100000.0 * 20.0);
    state.PauseTiming();
    cell.reset();
    state.ResumeTiming();
  }
  // Target: at most 80 bytes per cell.
  state.counters["bytes_per_cell"] = bytes_per_cell;
}
BENCHMARK(BM_Clear100kBy20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellar

int main(int argc, char** argv) {
  return pellar::bench::RunWithRatios(
      argc, argv, {{"BM_SaveValueInvoke", "BM_SaveValueDirect", 3.0}});
}
