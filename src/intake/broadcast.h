#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
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
// The time of the gift is the ten digits inside the `bid` item when there is one, else the first
// ten-digit run after the `drid` item, else the arrival time from `clock` in Unix seconds: a
// gift-box rocket is never dropped for lack of a time. Texts 1 to 5 are unescaped (@S is "/",
// @A is "@"). Keeps nothing between calls; safe on any thread.
std::optional<RocketRecord> RecognizeBroadcast(std::span<const std::uint8_t> frame,
                                               const ports::Clock& clock);

// The body of a frame: from byte 13 up to the first zero byte, without the frame's last byte.
std::string_view FrameBody(std::span<const std::uint8_t> frame);

// The raw-byte test RecognizeBroadcast runs first. False only for a body that the full path
// would certainly reject: one with no "%" escape and no "spbc" in any letter case.
bool MightBeRocketBody(std::string_view body);

// The full path over one body, without the raw-byte test.
std::optional<RocketRecord> RecognizeBody(std::string_view body, const ports::Clock& clock);

}  // namespace kestrova::intake
