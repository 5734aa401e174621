#include "intake/alert_sound.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace kestrova::intake {

namespace {

constexpr std::uint32_t kSampleRate = 11025;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr std::size_t kFrames = kAlertSoundDataBytes / kBlockAlign;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  out.insert(out.end(), tag, tag + 4);
}

struct Note {
  double start;      // seconds
  double frequency;  // Hz
  double left;       // gains, so the notes sit slightly apart in the stereo image
  double right;
};

// A bell-like tone: a struck fundamental with a few quickly fading partials.
double Bell(double t, double frequency) {
  if (t < 0.0) {
    return 0.0;
  }
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const double attack = std::min(1.0, t / 0.004);
  const double body = std::exp(-3.2 * t);
  const double shimmer = std::exp(-9.0 * t);
  return attack * (body * std::sin(kTwoPi * frequency * t) +
                   0.35 * shimmer * std::sin(kTwoPi * 2.0 * frequency * t) +
                   0.12 * shimmer * std::sin(kTwoPi * 2.76 * frequency * t));
}

std::vector<std::uint8_t> MakeChime() {
  // C6, E6, G6: a rising major triad reads as "something good happened".
  constexpr std::array<Note, 3> kNotes{{
      {0.00, 1046.50, 1.00, 0.70},
      {0.16, 1318.51, 0.85, 0.85},
      {0.32, 1567.98, 0.70, 1.00},
  }};
  std::vector<double> left(kFrames);
  std::vector<double> right(kFrames);
  double peak = 0.0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    for (const Note& note : kNotes) {
      const double v = Bell(t - note.start, note.frequency);
      left[i] += note.left * v;
      right[i] += note.right * v;
    }
    peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
  }
  // A gentle level, and a short fade so the image ends on silence without a click.
  const double scale = 0.45 * 32767.0 / peak;
  const std::size_t fadeFrames = kSampleRate / 10;

  std::vector<std::uint8_t> wave;
  wave.reserve(kAlertSoundBytes);
  PutTag(wave, "RIFF");
  Put32(wave, static_cast<std::uint32_t>(kAlertSoundBytes - 8));
  PutTag(wave, "WAVE");
  PutTag(wave, "fmt ");
  Put32(wave, 16);
  Put16(wave, 1);  // PCM
  Put16(wave, kChannels);
  Put32(wave, kSampleRate);
  Put32(wave, kSampleRate * kBlockAlign);
  Put16(wave, kBlockAlign);
  Put16(wave, kBitsPerSample);
  PutTag(wave, "data");
  Put32(wave, static_cast<std::uint32_t>(kAlertSoundDataBytes));
  for (std::size_t i = 0; i < kFrames; ++i) {
    const std::size_t fromEnd = kFrames - 1 - i;
    const double fade =
        fromEnd < fadeFrames ? static_cast<double>(fromEnd) / static_cast<double>(fadeFrames) : 1.0;
    for (double sample : {left[i], right[i]}) {
      const auto value = static_cast<std::int16_t>(std::lround(sample * scale * fade));
      Put16(wave, static_cast<std::uint16_t>(value));
    }
  }
  return wave;
}

}  // namespace

std::span<const std::uint8_t> AlertSound() {
  static const std::vector<std::uint8_t> wave = MakeChime();
  return wave;
}

}  // namespace kestrova::intake
