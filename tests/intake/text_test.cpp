#include "intake/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intake/texts.h"

namespace kestrova::intake {
namespace {

struct FindCase {
  std::string text;
  std::string needle;
  int start;
  Case mode;
  int expected;
};

class FindTextCases : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTextCases, GivesOneBasedPositions) {
  const auto& c = GetParam();
  EXPECT_EQ(FindText(c.text, c.needle, c.start, c.mode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Text, FindTextCases,
    ::testing::Values(
        FindCase{"abc", "", 0, Case::Sensitive, 1}, FindCase{"", "", 0, Case::Sensitive, -1},
        FindCase{"abc", "b", 5, Case::Sensitive, -1}, FindCase{"abc", "b", 0, Case::Sensitive, 2},
        FindCase{"abc", "", 4, Case::Sensitive, -1}, FindCase{"abcabc", "b", 3, Case::Sensitive, 5},
        FindCase{"abcabc", "b", 1, Case::Sensitive, 2}, FindCase{"abc", "B", 0, Case::Sensitive, -1},
        FindCase{"abc", "B", 0, Case::Insensitive, 2}, FindCase{"ab", "abc", 0, Case::Sensitive, -1},
        // 81 61 is one character whose trail byte is "a": never a match start.
        FindCase{"\x81\x61", "a", 0, Case::Sensitive, -1},
        FindCase{"\x81\x61" "a", "A", 0, Case::Insensitive, 3},
        FindCase{"\xD6\xD0\xB9\xFA", "\xD0\xB9", 0, Case::Sensitive, -1},
        FindCase{"\xD6\xD0\xB9\xFA", "\xB9\xFA", 0, Case::Sensitive, 3},
        // A lead byte as the last byte ends the search.
        FindCase{"x\xB0", "y", 0, Case::Sensitive, -1}));

TEST(PercentDecode, DecodesEscapesByteForByte) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a%41%62c", "aAbc"}, {"%00x", "x"},   {"100%", "100"},      {"%G1", "\xE1"},
      {"%%41", "\xE4" "1"}, {"%4", "@"},     {"a+b", "a+b"},       {"%2f%2F", "//"},
      {"%\xC4" "1", "\xE1"}, {"", ""},       {"%e4%bd%a0", "\xE4\xBD\xA0"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(PercentDecode(in), out) << in;
}

TEST(PercentDecode, ConvertsFromUtf8OnRequest) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"%e4%bd%a0", "\xC4\xE3"},
      {"type@=spbc/gn@=%E7%81%AB%E7%AE%AD/", "type@=spbc/gn@=\xBB\xF0\xBC\xFD/"},
      // Invalid UTF-8 and characters code page 936 lacks both become "?".
      {"a%FFb", "a?b"}, {"%E4%BD", "?"}, {"%F0%9F%98%80", "?"}, {"a%00b", "ab"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(PercentDecode(in, Utf8::ConvertToGbk), out) << in;
}

TEST(CodePages, ConvertThroughUtf16) {
  EXPECT_EQ(ToWideText("A"), (ByteBuffer{0x41, 0, 0, 0}));
  EXPECT_EQ(ToWideText("\xC4\xE3", kCodePageGbk), (ByteBuffer{0x60, 0x4F, 0, 0}));
  EXPECT_EQ(ToWideText("\xE4\xBD\xA0"), (ByteBuffer{0x60, 0x4F, 0, 0}));
  EXPECT_EQ(ToWideText("\xC0\x80"), (ByteBuffer{0xFD, 0xFF, 0xFD, 0xFF, 0, 0}));
  EXPECT_TRUE(ToWideText("").empty());
  EXPECT_EQ(FromWideText({}), "");
  EXPECT_EQ(FromWideText(ByteBuffer{0x41, 0, 0, 0, 0x42, 0}), "A");
  EXPECT_EQ(FromWideText(ByteBuffer{0x60, 0x4F, 0, 0}), "\xC4\xE3");
  // A lone high surrogate is one "?" and does not swallow the character after it.
  EXPECT_EQ(FromWideText(ByteBuffer{0x00, 0xD8, 0x41, 0, 0, 0}), "?A");
  EXPECT_EQ(FromWideText(ByteBuffer{0x3D, 0xD8, 0x00, 0xDE, 0x41, 0}), "?A");
  EXPECT_EQ(Utf8ToGbk("飞翔的小鱼"), "\xB7\xC9\xCF\xE8\xB5\xC4\xD0\xA1\xD3\xE3");
  EXPECT_EQ(GbkToUtf8(Utf8ToGbk("主播小美 abc")), "主播小美 abc");
}

struct BetweenCase {
  std::string text;
  std::string left;
  std::string right;
  Case mode;
  std::string expected;
};

class TextBetweenCases : public ::testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenCases, TakesTheTextAfterLeftUpToRight) {
  const auto& c = GetParam();
  EXPECT_EQ(TextBetween(c.text, c.left, c.right, 0, c.mode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Text, TextBetweenCases,
    ::testing::Values(
        BetweenCase{"/gb@=1/", "/gb@=", "/", Case::Sensitive, "1"},
        BetweenCase{"/gb@=1", "/gb@=", "/", Case::Sensitive, ""},
        BetweenCase{"x/gb@=/", "/gb@=", "/", Case::Sensitive, ""},
        BetweenCase{"a/b/gb@=7/", "/gb@=", "/", Case::Sensitive, "7"},
        BetweenCase{"/GB@=1/", "/gb@=", "/", Case::Sensitive, ""},
        BetweenCase{"/GB@=1/", "/gb@=", "/", Case::Insensitive, "1"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(TextBetween, QuoteTokenInProgramBytes) {
  const AnsiText& token = Texts().quoteToken;
  EXPECT_EQ(TextBetween("name=\"x\"", "name=" + token, token), "x");
  EXPECT_EQ(TextBetween("k=v;", "k=", ";", 3), "");
}

TEST(SplitText, PiecesBetweenSeparators) {
  using Pieces = std::vector<AnsiText>;
  EXPECT_EQ(SplitText("", ","), Pieces{});
  EXPECT_EQ(SplitText("abc", ","), Pieces{"abc"});
  EXPECT_EQ(SplitText(",a,,b,", ","), (Pieces{"", "a", "", "b"}));
  EXPECT_EQ(SplitText("Fri Jul 14 10:40:00 UTC+0800 2017", " ").size(), 6U);
  // 81 40 holds "@" as its trail byte: not a separator.
  EXPECT_EQ(SplitText("\x81\x40@x", "@"), (Pieces{"\x81\x40", "x"}));
}

TEST(TrimSpaces, OnlyAsciiAndFullWidthSpaces) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\xA1\xA1 a\xA1\xA1"), "a");
  EXPECT_EQ(TrimSpaces("\ta\n"), "\ta\n");
  EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  EXPECT_EQ(TrimSpaces("   "), "");
}

TEST(CountOccurrences, NeverOverlaps) {
  EXPECT_EQ(CountOccurrences("aaaa", "aa"), 2);
  EXPECT_EQ(CountOccurrences("Type@=SPBC/ type@=spbc/", "type@=spbc/"), 2);
  EXPECT_EQ(CountOccurrences("Type@=SPBC/ type@=spbc/", "type@=spbc/", Case::Sensitive), 1);
  EXPECT_EQ(CountOccurrences("", "a"), 0);
  EXPECT_EQ(CountOccurrences("a", ""), 0);
}

TEST(ReplaceAll, ScansWholeCharacters) {
  EXPECT_EQ(ReplaceAll("a@Sb@S", "@S", "/"), "a/b/");
  EXPECT_EQ(ReplaceAll("\x81\x40S", "@S", "/"), "\x81\x40S");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(Texts, ConvertedOnceToCodePage936) {
  EXPECT_EQ(Texts().startCaption, "\xBF\xAA\xC6\xF4\xBC\xE0\xBF\xD8");
  EXPECT_EQ(Texts().quoteToken, "#\xD2\xFD\xBA\xC5");
}

}  // namespace
}  // namespace kestrova::intake
