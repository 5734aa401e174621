// Splitter and recognition over arbitrary byte streams, cut into arbitrary reads: every frame
// yielded must be whole and within bounds, memory must stay bounded, nothing may crash.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/rocket_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  if (size < 1) return 0;
  // The first byte seeds the read sizes, so the fuzzer explores the chunking too.
  std::uint32_t state = data[0] | 1u;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);
  static const ports::SystemClock clock;
  barrage::FrameSplitter splitter(4096);
  std::size_t at = 0;
  while (at < stream.size()) {
    state = state * 1103515245u + 12345u;
    const std::size_t take = std::min<std::size_t>(1 + (state >> 16) % 64, stream.size() - at);
    splitter.Feed(stream.subspan(at, take), [&](std::span<const std::uint8_t> frame) {
      if (frame.size() < 13 || frame.size() > 4096 + 4) std::abort();
      if (auto record = intake::RecognizeBroadcast(frame, clock)) {
        if (auto cells = intake::RocketRowCells(*record, intake::ClockStyle::TwelveHour)) {
          (void)intake::RoomPageUrl((*cells)[7]);
        }
      }
    });
    if (splitter.PendingBytes() > 4096 + 4) std::abort();
    at += take;
  }
  return 0;
}
