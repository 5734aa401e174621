#include <gtest/gtest.h>

#include <functional>

#include "skin/skin_library_build.h"
#include "skin/skin_theme.h"

namespace kestrova::skin {
namespace {

TEST(SkinFormat, CarriedThemeRoundTrips) {
  const SkinTheme theme = CarriedSkinTheme();
  const ByteBuffer bytes = EncodeSkin(theme);
  ASSERT_GE(bytes.size(), 4U);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), ".SHE");
  const auto parsed = ParseSkin(bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, theme);
}

void SetHash(ByteBuffer& bytes) {
  std::uint32_t hash = 2166136261U;
  for (std::size_t i = 0; i + 4 < bytes.size(); ++i) {
    hash = (hash ^ bytes[i]) * 16777619U;
  }
  for (int i = 0; i < 4; ++i) {
    bytes[bytes.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hash >> (8 * i));
  }
}

TEST(SkinFormat, RefusesWhatDoesNotParse) {
  const ByteBuffer good = EncodeSkin(CarriedSkinTheme());
  struct Case {
    const char* what;
    std::function<void(ByteBuffer&)> breakIt;
  };
  const Case cases[] = {
      {"empty", [](ByteBuffer& b) { b.clear(); }},
      {"wrong magic", [](ByteBuffer& b) { b[1] = 'X'; SetHash(b); }},
      {"version 2", [](ByteBuffer& b) { b[4] = 2; SetHash(b); }},
      {"length field off by one", [](ByteBuffer& b) { b[6] = static_cast<std::uint8_t>(b[6] + 1); SetHash(b); }},
      {"eleven colours", [](ByteBuffer& b) { b[10] = 11; SetHash(b); }},
      {"truncated", [](ByteBuffer& b) { b.resize(b.size() - 1); }},
      {"trailing byte", [](ByteBuffer& b) { b.push_back(0); }},
      {"colour changed, hash not", [](ByteBuffer& b) { b[11] ^= 0x01; }},
      {"font size 0", [](ByteBuffer& b) { b[47] = 0; b[48] = 0; SetHash(b); }},
      {"font size 200", [](ByteBuffer& b) { b[47] = 200; b[48] = 0; SetHash(b); }},
      {"semicolon in family", [](ByteBuffer& b) { b[50] = ';'; SetHash(b); }},
      {"control byte in family", [](ByteBuffer& b) { b[50] = '\n'; SetHash(b); }},
      {"family length beyond the end", [](ByteBuffer& b) { b[49] = 200; SetHash(b); }},
  };
  for (const Case& c : cases) {
    ByteBuffer bytes = good;
    c.breakIt(bytes);
    EXPECT_FALSE(ParseSkin(bytes)) << c.what;
  }
}

TEST(SkinFormat, EncodeRefusesAFamilyThatWouldNotParse) {
  SkinTheme theme = CarriedSkinTheme();
  for (const char* family : {"", "Evil\"}", "a;b", "x{y"}) {
    theme.fontFamily = family;
    EXPECT_TRUE(EncodeSkin(theme).empty()) << family;
  }
  theme.fontFamily = std::string(64, 'a');
  EXPECT_TRUE(ParseSkin(EncodeSkin(theme)));
  theme.fontFamily = std::string(65, 'a');
  EXPECT_TRUE(EncodeSkin(theme).empty());
}

}  // namespace
}  // namespace kestrova::skin
