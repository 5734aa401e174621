#include "intake/regex_object.h"

#include <gtest/gtest.h>

#include <string>

#include "intake/text.h"
#include "intake/texts.h"

namespace kestrova::intake {
namespace {

const AnsiText kRocketPattern =
    "type@=spbc/sn@=(.*?)/dn@=(.*?)/gn@=(.*?)/gc@=(.*?)/drid@=(.*?)/[\\s\\S]*?(\\d{10})";
const MatchOptions kRocketOptions{LetterCase::Ignore, LineAnchors::AtTextEnds, MatchScope::All,
                                  QuoteToken::Expand};

TEST(RegexObject, BeforeAnyMatchEverythingIsEmpty) {
  RegexObject regex;
  std::int32_t position = 7;
  EXPECT_EQ(regex.GetPattern(), "");
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1, position), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(regex.ReplaceText("x"), "");
}

TEST(RegexObject, NothingMatchedIsStillASuccessfulMatch) {
  RegexObject regex;
  EXPECT_TRUE(regex.Match("z+", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "z+");
  EXPECT_EQ(regex.ReplaceText("x"), "abc");
}

TEST(RegexObject, RejectedPatternGivesFalseAndEmptyResults) {
  RegexObject regex;
  EXPECT_FALSE(regex.Match("(", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.ReplaceText("x"), "");
}

TEST(RegexObject, RocketPatternCapturesSixGroupsOfEachBroadcast) {
  const AnsiText one = "type@=spbc/sn@=A/dn@=B/gn@=" + Utf8ToGbk("火箭") +
                       "/gc@=2/drid@=123456/gs@=6/ts@=1500000000/gb@=1/";
  const AnsiText two = "type@=spbc/sn@=X/dn@=Y/gn@=Z/gc@=9/drid@=7/rid@=1500000001/";
  RegexObject regex;
  ASSERT_TRUE(regex.Match(kRocketPattern, one + two, kRocketOptions));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.SubMatchCount(), 6);
  const char* first[] = {"A", "B", "", "2", "123456", "1500000000"};
  const char* second[] = {"X", "Y", "Z", "9", "7", "1500000001"};
  for (int g = 1; g <= 6; ++g) {
    EXPECT_EQ(regex.SubMatchText(2, g), second[g - 1]) << g;
    if (g != 3) {
      EXPECT_EQ(regex.SubMatchText(1, g), first[g - 1]) << g;
    }
  }
  EXPECT_EQ(regex.SubMatchText(1, 3), Utf8ToGbk("火箭"));
  EXPECT_EQ(regex.SubMatchText(1, 7), "");
  EXPECT_EQ(regex.SubMatchText(3, 1), "");
  EXPECT_EQ(regex.MatchText(0), "");
}

struct CountCase {
  const char* pattern;
  std::string subject;
  MatchOptions options;
  int count;
};

class MatchCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(MatchCounts, AsVbscriptWould) {
  RegexObject regex;
  ASSERT_TRUE(regex.Match(GetParam().pattern, GetParam().subject, GetParam().options));
  EXPECT_EQ(regex.MatchCount(), GetParam().count);
}

const MatchOptions kDefault{};
const MatchOptions kCaseRespected{LetterCase::Respect};
const MatchOptions kTextEnds{LetterCase::Ignore, LineAnchors::AtTextEnds};
const MatchOptions kFirstOnly{LetterCase::Ignore, LineAnchors::AtLineBreaks, MatchScope::FirstOnly};
const MatchOptions kQuote{LetterCase::Ignore, LineAnchors::AtLineBreaks, MatchScope::All,
                          QuoteToken::Expand};

INSTANTIATE_TEST_SUITE_P(
    Semantics, MatchCounts,
    ::testing::Values(
        CountCase{"a.b", "a\nb", kDefault, 0}, CountCase{"a.b", "a\rb", kDefault, 1},
        CountCase{"a[\\s\\S]b", "a\nb", kDefault, 1}, CountCase{"\\d{10}", "12345678901", kDefault, 1},
        CountCase{"\\d", "a1b2c3", kDefault, 3}, CountCase{"\\d", "a1b2c3", kFirstOnly, 1},
        CountCase{"^b", "a\nb", kDefault, 1}, CountCase{"^b", "a\nb", kTextEnds, 0},
        CountCase{"a$", "a\n", kTextEnds, 0}, CountCase{"ABC", "abc", kDefault, 1},
        CountCase{"ABC", "abc", kCaseRespected, 0}, CountCase{"aa", "aaaaa", kDefault, 2},
        // 81 61 is one double-byte character whose trail byte is "a".
        CountCase{"A", "\x81\x61", kDefault, 0}, CountCase{"a", "\x81\x61" "a", kDefault, 1},
        CountCase{"x*", "ab", kDefault, 3},
        // Code page 936 letters in the pattern match themselves.
        CountCase{"\xBB\xF0+", "\xBB\xF0\xBB\xF0\xBC\xFD", kDefault, 1}));

TEST(RegexObject, QuoteTokenStandsForAQuoteOnlyWhenExpanded) {
  const AnsiText pattern = "name=" + Texts().quoteToken + "(\\w+)";
  RegexObject regex;
  ASSERT_TRUE(regex.Match(pattern, "name=\"x\"", kQuote));
  EXPECT_EQ(regex.SubMatchText(1, 1), "x");
  EXPECT_EQ(regex.GetPattern(), "name=\"(\\w+)");
  ASSERT_TRUE(regex.Match(pattern, "name=\"x\""));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), pattern);
}

TEST(RegexObject, GroupOutsideTheMatchIsEmpty) {
  RegexObject regex;
  ASSERT_TRUE(regex.Match("(x)|(y)", "y"));
  EXPECT_EQ(regex.SubMatchCount(), 2);
  EXPECT_EQ(regex.SubMatchText(1, 1), "");
  EXPECT_EQ(regex.SubMatchText(1, 2), "y");
}

TEST(RegexObject, PositionsAreByteOffsetsOfTheMatchItself) {
  const AnsiText middle = Utf8ToGbk("中");  // two bytes
  const AnsiText subject = middle + "a" + middle + "a";
  RegexObject regex;
  ASSERT_TRUE(regex.Match("(a)", subject));
  std::int32_t position = 0;
  EXPECT_EQ(regex.MatchText(1, position), "a");
  EXPECT_EQ(position, 2);
  EXPECT_EQ(regex.MatchText(2, position), "a");
  EXPECT_EQ(position, 5);
  EXPECT_EQ(regex.SubMatchText(2, 1, position), "a");
  EXPECT_EQ(position, 5);
  EXPECT_EQ(regex.MatchText(3, position), "");
  EXPECT_EQ(position, -2);
  ASSERT_TRUE(regex.Match("a", "aa"));
  EXPECT_EQ(regex.MatchText(2, position), "a");
  EXPECT_EQ(position, 1);
}

struct ReplaceCase {
  const char* pattern;
  std::string subject;
  const char* replacement;
  MatchOptions options;
  std::string expected;
};

class Replaces : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(Replaces, WithVbscriptReplacementSyntax) {
  RegexObject regex;
  ASSERT_TRUE(regex.Match(GetParam().pattern, GetParam().subject, GetParam().options));
  EXPECT_EQ(regex.ReplaceText(GetParam().replacement), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Semantics, Replaces,
    ::testing::Values(ReplaceCase{"(\\w+)@(\\w+)", "a@b c@d", "$2-$1", kDefault, "b-a d-c"},
                      ReplaceCase{"b", "abc", "[$&$&]", kDefault, "a[bb]c"},
                      ReplaceCase{"b", "abc", "$$", kDefault, "a$c"},
                      ReplaceCase{"(b)", "abc", "$9$x$", kDefault, "a$9$x$c"},
                      ReplaceCase{"b", "abc", "$`|$'", kDefault, "aa|cc"},
                      ReplaceCase{"\\d", "1a2", "#", kFirstOnly, "#a2"},
                      ReplaceCase{"x*", "ab", "-", kDefault, "-a-b-"},
                      ReplaceCase{"(x)|y", "y", "<$1>", kDefault, "<>"},
                      ReplaceCase{"a", "\xD6\xD0" "a\xB9\xFA", "\xBB\xF0", kDefault,
                                  "\xD6\xD0\xBB\xF0\xB9\xFA"}));

TEST(RegexObject, CopySharesMatchesAndKeepsThemAfterTheOriginalMovesOn) {
  RegexObject regex;
  ASSERT_TRUE(regex.Match("(\\d+)", "a12b"));
  RegexObject copy = regex.Copy();
  ASSERT_TRUE(regex.Match("z", "q"));
  EXPECT_EQ(copy.SubMatchText(1, 1), "12");
  EXPECT_EQ(copy.ReplaceText("#"), "a#b");
  copy.NoOperation();
  copy.Destroy();
  EXPECT_EQ(copy.MatchCount(), 0);
  EXPECT_EQ(copy.GetPattern(), "");
  EXPECT_EQ(regex.GetPattern(), "z");
}

TEST(RegexObject, RunawayBacktrackingEndsWithoutMatches) {
  RegexObject regex;
  const std::string subject = std::string(40, 'a') + "yx";
  EXPECT_FALSE(regex.Match("(a|aa)+(a|aa)+[bc]x", subject));
  EXPECT_EQ(regex.MatchCount(), 0);
}

}  // namespace
}  // namespace kestrova::intake
