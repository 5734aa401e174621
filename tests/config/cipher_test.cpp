#include "config/cipher.h"

#include <gtest/gtest.h>

namespace kestrova::config {
namespace {

const AnsiText kKey = kDefaultConfigKey;
// Characters 3 to 11 of MD5("3164920") = 38f32f6bb0b2249cf4444057c7aceeeb, upper-cased.
const AnsiText kTag = "F32F6BB0B";

ByteBuffer Bytes(const AnsiText& text) { return ByteBuffer(text.begin(), text.end()); }

TEST(Md5, KnownDigests) {
  EXPECT_EQ(Md5Hex({}), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(Bytes("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex(Bytes(kKey)), "38f32f6bb0b2249cf4444057c7aceeeb");
  EXPECT_EQ(ConfigTag(kKey), kTag);
}

TEST(HashHex, UpperCaseAndBufferSize) {
  EXPECT_EQ(HashHex(Bytes("abc"), kCalgMd5, 16), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(HashHex(Bytes("abc"), kCalgMd5, 64), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(HashHex(Bytes("abc"), kCalgMd5, 15), "");  // the digest does not fit
  EXPECT_EQ(HashHex(Bytes("abc"), kCalgMd5, 0), "");
  EXPECT_EQ(HashHex(Bytes("abc"), 0x1234, 16), "");  // unknown algorithm
  EXPECT_EQ(HashHex(Bytes("abc"), kCalgSha1, 20), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(HexPairValue, DigitsCaseAndNonDigits) {
  EXPECT_EQ(HexPairValue("4a"), 0x4A);
  EXPECT_EQ(HexPairValue("6B"), 0x6B);
  EXPECT_EQ(HexPairValue("C"), 0x0C);
  EXPECT_EQ(HexPairValue("G0"), -32);  // -2 * 16 + 0
  EXPECT_EQ(HexPairValue("0G"), -2);
  EXPECT_EQ(HexPairValue(""), 0);
  // Far longer than 64 bits: wraps instead of overflowing.
  EXPECT_EQ(HexPairValue(AnsiText(40, 'F')), -1);
}

TEST(HexToBytes, PairsOddTailAndNonDigits) {
  EXPECT_EQ(HexToBytes("4a6B"), (ByteBuffer{0x4A, 0x6B}));
  EXPECT_EQ(HexToBytes("ABC"), (ByteBuffer{0xAB, 0x0C}));
  EXPECT_EQ(HexToBytes("G0"), (ByteBuffer{0xE0}));
  EXPECT_EQ(HexToBytes(""), ByteBuffer{});
}

TEST(DecipherConfig, Cases) {
  struct Case {
    AnsiText text;
    AnsiText plain;
  };
  const Case cases[] = {
      {"9898989882908F90" + kTag, "9999#1.1"},
      {"9898989882908f90" + kTag, "9999#1.1"},  // body digits in either case
      {"82908F90" + kTag, "#1.1"},
      {"", ""},
      {"F32F6BB0", ""},                          // shorter than a tag
      {kTag, ""},                                // tag only: empty body
      {"9898989882908F90f32f6bb0b", ""},         // lower-case tag never matches
      {"9898989882908F90F32F6BB0C", ""},         // wrong tag
      {"98A198" + kTag, "9"},                    // a byte that masks to zero ends the text
      {"E" + kTag, "\xAF"},                      // a lone last digit: 0x0E ^ 0xA1
      {"G0" + kTag, "A"},                        // a non-digit counts -2: 0xE0 ^ 0xA1
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecipherConfig(c.text, kKey), c.plain) << c.text;
  }
  // The key takes part in the tag only.
  EXPECT_EQ(DecipherConfig("9898989882908F90" + kTag, "3164921"), "");
  EXPECT_EQ(DecipherConfig("9898989882908F90" + kTag, ""), "");
}

TEST(EncipherConfig, InverseOfDecipher) {
  EXPECT_EQ(EncipherConfig("9999#1.1", kKey), "9898989882908F90" + kTag);
  for (const char* plain : {"12345#1.1", "#1.1", "12345#1.1#x", "\xC4\xE3#2.0\r\n"}) {
    EXPECT_EQ(DecipherConfig(EncipherConfig(plain, kKey), kKey), plain);
  }
  const AnsiText other = "key";
  EXPECT_EQ(DecipherConfig(EncipherConfig("1#1.1", other), other), "1#1.1");
  EXPECT_EQ(DecipherConfig(EncipherConfig("1#1.1", other), kKey), "");
}

}  // namespace
}  // namespace kestrova::config
