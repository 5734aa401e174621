// The rocket list's storage: a top insert must cost the same with ten rows or a million, and a
// row must stay small, since the list only grows while the program runs.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "app/row_store.h"

namespace {

using kestrova::app::RowStore;

// A typical rocket row in code page 936: mark, two nicknames, gift, count, two times, room.
void FillRow(RowStore& rows, int index) {
  rows.SetCell(index, 0, "[\xD3\xD0\xC0\xF1\xB0\xFC]");
  rows.SetCell(index, 1, "\xB7\xC9\xCC\xEC\xD0\xA1\xCF\xC9\xC5\xAE" "123");
  rows.SetCell(index, 2, "\xD6\xF7\xB2\xA5\xB4\xF3\xC8\xCB\xCE\xEF");
  rows.SetCell(index, 3, "\xBB\xF0\xBC\xFD");
  rows.SetCell(index, 4, "1");
  rows.SetCell(index, 5, "2017-7-14 10:40:00");
  rows.SetCell(index, 6, "2017-7-14 10:42:00");
  rows.SetCell(index, 7, "1234567");
}

// Inserts (and fills) a row at the top of a list already holding state.range(0) rows.
void BM_TopInsert(benchmark::State& state) {
  RowStore rows;
  for (int i = 0; i < state.range(0); ++i) FillRow(rows, rows.Insert(0));
  for (auto _ : state) {
    FillRow(rows, rows.Insert(0));
  }
  state.counters["rows_at_end"] = static_cast<double>(rows.Count());
}
BENCHMARK(BM_TopInsert)->Arg(10)->Arg(1'000'000)->Unit(benchmark::kNanosecond);

// Heap bytes per row, measured from the allocator's own books over a million rows.
void BM_BytesPerRow(benchmark::State& state) {
  constexpr int kRows = 1'000'000;
  double perRow = 0;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    {
      RowStore rows;
      for (int i = 0; i < kRows; ++i) FillRow(rows, rows.Insert(0));
      perRow = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd - before) / kRows;
      benchmark::DoNotOptimize(rows.Count());
    }
  }
  state.counters["bytes_per_row"] = perRow;
}
BENCHMARK(BM_BytesPerRow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
