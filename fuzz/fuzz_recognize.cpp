// Feeds arbitrary bytes to broadcast recognition as one whole frame, and holds the raw-byte
// pre-check to its promise: it may only reject a body the full path rejects too.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "intake/broadcast.h"
#include "ports/ports.h"

namespace {

class FixedClock final : public kestrova::ports::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FixedClock clock;
  const std::span<const std::uint8_t> frame(data, size);
  const auto record = kestrova::intake::RecognizeBroadcast(frame, clock);
  if (record && !record->empty() && record->size() != kestrova::intake::kRocketTexts) std::abort();
  const std::string_view body = kestrova::intake::FrameBody(frame);
  if (!kestrova::intake::MightBeRocketBody(body) &&
      kestrova::intake::RecognizeBody(body, clock).has_value()) {
    std::abort();
  }
  return 0;
}
