// Stream intake as the window runs it: frame splitter, broadcast recognition and the eight cell
// texts, over a realistic stream delivered in random chunks.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/rocket_rows.h"

// The bench programs link the core only, so the server's stream generator is compiled in here.
#include "../tools/barrage_server/stream_generator.cpp"

namespace {

using namespace kestrova;

struct Stream {
  ByteBuffer bytes;
  std::vector<std::size_t> chunks;
  std::size_t frames = 0;
};

// Frames back to back, and random read sizes of 1 to 4096 bytes covering all of them.
Stream MakeStream(std::size_t targetBytes, const tools::StreamRates& rates, std::uint64_t seed) {
  tools::StreamGenerator generator(seed);
  Stream stream;
  std::int64_t now = 1500000000;
  while (stream.bytes.size() < targetBytes) {
    const ByteBuffer frame = tools::ServerFrame(generator.Next(now + static_cast<std::int64_t>(stream.frames / 500), rates).body);
    stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
    ++stream.frames;
  }
  std::mt19937_64 random(seed);
  for (std::size_t at = 0; at < stream.bytes.size();) {
    const std::size_t size = std::min<std::size_t>(1 + random() % 4096, stream.bytes.size() - at);
    stream.chunks.push_back(size);
    at += size;
  }
  return stream;
}

// Returns the number of rows the stream makes.
std::size_t Intake(const Stream& stream, const ports::Clock& clock) {
  barrage::FrameSplitter splitter;
  std::size_t rows = 0;
  std::size_t at = 0;
  for (std::size_t size : stream.chunks) {
    splitter.Feed(std::span<const std::uint8_t>(stream.bytes).subspan(at, size),
                  [&](std::span<const std::uint8_t> frame) {
                    if (auto record = intake::RecognizeBroadcast(frame, clock)) {
                      if (auto cells = intake::RocketRowCells(*record, intake::ClockStyle::TwentyFourHour)) {
                        benchmark::DoNotOptimize(cells->data());
                        ++rows;
                      }
                    }
                  });
    at += size;
  }
  return rows;
}

void BM_NoiseIntake(benchmark::State& state) {
  // Chat, gifts, entries and noble broadcasts, no rockets at all.
  const Stream stream = MakeStream(16 << 20, {.noisePerSecond = 200, .rocketsPerSecond = 0,
                                              .giftBoxShare = 0, .broadcastsPerSecond = 1}, 1);
  const ports::SystemClock clock;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Intake(stream, clock));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
}
BENCHMARK(BM_NoiseIntake)->Unit(benchmark::kMillisecond);

void BM_RealisticMixIntake(benchmark::State& state) {
  // The default server mix: 200 noise messages, one rocket (half with a gift box) per second.
  const Stream stream = MakeStream(16 << 20, {}, 2);
  const ports::SystemClock clock;
  std::size_t rows = 0;
  for (auto _ : state) {
    rows = Intake(stream, clock);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_RealisticMixIntake)->Unit(benchmark::kMillisecond);

void BM_GiftBoxRockets(benchmark::State& state) {
  const Stream stream = MakeStream(4 << 20, {.noisePerSecond = 0, .rocketsPerSecond = 1,
                                             .giftBoxShare = 1, .broadcastsPerSecond = 0}, 3);
  const ports::SystemClock clock;
  std::size_t rows = 0;
  for (auto _ : state) {
    rows = Intake(stream, clock);
  }
  state.counters["rockets_per_s"] = benchmark::Counter(
      static_cast<double>(rows) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GiftBoxRockets)->Unit(benchmark::kMillisecond);

// The share of the rocket path that is ours after recognition: the eight cell texts.
void BM_RowCellsOnly(benchmark::State& state) {
  const intake::RocketRecord record{"sn", "dn", "gn", "1", "123456", "1500000000"};
  for (auto _ : state) {
    auto cells = intake::RocketRowCells(record, intake::ClockStyle::TwelveHour);
    benchmark::DoNotOptimize(cells);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RowCellsOnly);

void BM_SplitterOnly(benchmark::State& state) {
  const Stream stream = MakeStream(16 << 20, {}, 4);
  for (auto _ : state) {
    barrage::FrameSplitter splitter;
    std::size_t frames = 0;
    std::size_t at = 0;
    for (std::size_t size : stream.chunks) {
      splitter.Feed(std::span<const std::uint8_t>(stream.bytes).subspan(at, size),
                    [&](std::span<const std::uint8_t>) { ++frames; });
      at += size;
    }
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
}
BENCHMARK(BM_SplitterOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
