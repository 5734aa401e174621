#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "intake/alert_sound.h"

namespace kestrova::intake {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

TEST(AlertSound, WaveHeaderIsExactlyTheCarriedFormat) {
  const auto wave = AlertSound();
  ASSERT_EQ(wave.size(), 100044u);
  const std::uint8_t* p = wave.data();
  EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
  EXPECT_EQ(Le32(p + 4), 100036u);
  EXPECT_EQ(std::memcmp(p + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(p + 16), 16u);
  EXPECT_EQ(Le16(p + 20), 1);  // PCM
  EXPECT_EQ(Le16(p + 22), 2);
  EXPECT_EQ(Le32(p + 24), 11025u);
  EXPECT_EQ(Le32(p + 28), 44100u);
  EXPECT_EQ(Le16(p + 32), 4);
  EXPECT_EQ(Le16(p + 34), 16);
  EXPECT_EQ(std::memcmp(p + 36, "data", 4), 0);
  EXPECT_EQ(Le32(p + 40), 100000u);
  // The same bytes for the life of the program.
  EXPECT_EQ(AlertSound().data(), wave.data());
}

TEST(AlertSound, IsAnAudibleChimeThatEndsInSilence) {
  const auto wave = AlertSound();
  int peak = 0;
  for (std::size_t i = 44; i + 1 < wave.size(); i += 2) {
    peak = std::max(peak, std::abs(static_cast<std::int16_t>(Le16(wave.data() + i))));
  }
  EXPECT_GT(peak, 8000);
  EXPECT_LT(peak, 32000);
  const auto last = static_cast<std::int16_t>(Le16(wave.data() + wave.size() - 2));
  EXPECT_LE(std::abs(last), 2);
}

}  // namespace
}  // namespace kestrova::intake
