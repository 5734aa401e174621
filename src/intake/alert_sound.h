#pragma once

#include <cstdint>
#include <span>

// The alert wave carried by the program: RIFF/WAVE, PCM, 2 channels, 11025 Hz, 16 bits,
// 100000 data bytes, 100044 bytes in all. A soft three-note chime.
namespace kestrova::intake {

inline constexpr std::size_t kAlertSoundBytes = 100044;
inline constexpr std::size_t kAlertSoundDataBytes = 100000;

// Synthesised on the first call (thread-safe) and kept for the life of the program, so a
// player may hold on to the bytes.
std::span<const std::uint8_t> AlertSound();

}  // namespace kestrova::intake
