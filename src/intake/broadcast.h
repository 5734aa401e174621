#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ports/ports.h"
#include "ports/types.h"

namespace kestrova::intake {

// The six texts captured from a gift-box rocket broadcast, code page 936, in this order:
// giver (sn), anchor (dn), gift name (gn), count (gc), room (drid), ten-digit gift time.
// A broadcast that passes the filters but not the pattern gives fewer texts.
using RocketRecord = std::vector<AnsiText>;

inline constexpr std::size_t kRocketTexts = 6;

// Judges one whole frame (12-byte header, body, zero byte). `clock` supplies the arrival time
// for a broadcast that carries no time of its own.
std::optional<RocketRecord> RecognizeBroadcast(std::span<const std::uint8_t> frame,
                                               const ports::Clock& clock);

}  // namespace kestrova::intake
