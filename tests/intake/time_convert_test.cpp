#include "intake/time_convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "broadcast_fixtures.h"

namespace kestrova::intake {
namespace {

using fixtures::FixedClock;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value, 1);
    tzset();
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name, m_old->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
    tzset();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

struct TimestampCase {
  const char* timestamp;
  const char* twelveHour;
  const char* twentyFourHour;
};

class TenDigitTimestamps : public ::testing::TestWithParam<TimestampCase> {};

TEST_P(TenDigitTimestamps, ShowUtcPlusEightWhateverTheZone) {
  const ScopedEnv zone("TZ", "EST5EDT");
  EXPECT_EQ(FormatTimestamp(GetParam().timestamp, ClockStyle::TwelveHour), GetParam().twelveHour);
  EXPECT_EQ(FormatTimestamp(GetParam().timestamp, ClockStyle::TwentyFourHour),
            GetParam().twentyFourHour);
}

INSTANTIATE_TEST_SUITE_P(
    Display, TenDigitTimestamps,
    ::testing::Values(
        TimestampCase{"1500000000", "2017-7-14 10:40:00", "2017-7-14 10:40:00"},
        TimestampCase{"1500030000", "2017-7-14 07:00:00", "2017-7-14 19:00:00"},
        TimestampCase{"1499961600", "2017-7-14 12:00:00", "2017-7-14 00:00:00"},
        TimestampCase{"0000000000", "1970-1-01 08:00:00", "1970-1-01 08:00:00"},
        TimestampCase{"abcdefghij", "1970-1-01 08:00:00", "1970-1-01 08:00:00"},
        // Beyond 32 bits: read as a 64-bit number, not wrapped.
        TimestampCase{"3000000000", "2065-1-24 01:20:00", "2065-1-24 13:20:00"},
        TimestampCase{"9999999999", "2286-11-21 01:46:39", "2286-11-21 01:46:39"}));

struct ScriptCase {
  const char* zone;
  const char* timestamp;
  const char* expected;
};

class ScriptTimestamps : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptTimestamps, UseTheMachinesZone) {
  const ScopedEnv zone("TZ", GetParam().zone);
  EXPECT_EQ(FormatTimestamp(GetParam().timestamp, ClockStyle::TwelveHour), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Display, ScriptTimestamps,
    ::testing::Values(ScriptCase{"CST-8", "1500000000000", "2017-7-14 10:40:00"},
                      ScriptCase{"UTC0", "1500000000000", "2017-7-14 02:40:00"},
                      ScriptCase{"UTC0", "1500030000000", "2017-7-14 11:00:00"},
                      // Nine and eleven digits are milliseconds too.
                      ScriptCase{"CST-8", "150000000", "1970-1-3 01:40:00"},
                      ScriptCase{"CST-8", "15000000000", "1970-6-23 22:40:00"},
                      ScriptCase{"EST5EDT", "1500000000000", "2017-7-13 22:40:00"},
                      // Not a date: the engine's text has fewer than six fields.
                      ScriptCase{"UTC0", "not a time!", ""}, ScriptCase{"UTC0", "1e300", ""},
                      // A quote would break the script itself.
                      ScriptCase{"UTC0", "15'00000000", ""}));

TEST(FormatUnixSeconds, MatchesTheTenDigitBranch) {
  EXPECT_EQ(FormatUnixSeconds(1500000120, ClockStyle::TwentyFourHour), "2017-7-14 10:42:00");
  EXPECT_EQ(FormatUnixSeconds(3000000000, ClockStyle::TwentyFourHour),
            FormatTimestamp("3000000000", ClockStyle::TwentyFourHour));
  EXPECT_EQ(FormatUnixSeconds(-1, ClockStyle::TwentyFourHour), "1970-1-01 07:59:59");
  EXPECT_EQ(FormatUnixSeconds(std::int64_t{1} << 60, ClockStyle::TwentyFourHour), "");
}

TEST(ParseDateTime, ReadsBothSeparatorsAndRejectsTheRest) {
  const DateTime reference = ParseDateTime("2017-07-14 10:42:00");
  EXPECT_EQ(ParseDateTime("2017.7.14 10:42:0"), reference);
  EXPECT_EQ(ParseDateTime("1970.01.01 08:00:00"), ParseDateTime("1970-01-01 08:00:00"));
  const DateTime earliest = ParseDateTime("");
  EXPECT_EQ(FormatDateTime(earliest, "yyyy-MM-dd ", "HH:mm:ss"), "0100-01-01 00:00:00");
  for (const char* bad : {"x", "2017-13-01 00:00:00", "2017-2-29 00:00:00", "2017-7-14 24:00:00",
                          "2017-7.14 10:00:00", "2017-7-14 10:60:00", "2017-7-14 10:42:00x"}) {
    EXPECT_EQ(ParseDateTime(bad), earliest) << bad;
  }
}

TEST(FormatDateTime, PicturesShorterThanThreeBytesAreLeftOut) {
  const DateTime t = ParseDateTime("2017-7-4 09:05:03");
  EXPECT_EQ(FormatDateTime(t, "yyyy-M-dd ", "hh:mm:ss"), "2017-7-04 09:05:03");
  EXPECT_EQ(FormatDateTime(t, "yy", "H:m:s"), "9:5:3");
  EXPECT_EQ(FormatDateTime(t, "d MMM yyyy", ""), "4 Jul 2017");
  EXPECT_EQ(FormatDateTime(1e9, "yyyy", "HH"), "");
}

TEST(SecondsBetween, KeepsWholeSecondsInBothDirections) {
  const DateTime epoch = ParseDateTime("1970-01-01 08:00:00");
  const DateTime later = AddSeconds(epoch, 1500000120);
  EXPECT_EQ(SecondsBetween(later, epoch), 1500000120);
  EXPECT_EQ(SecondsBetween(epoch, later), -1500000120);
  EXPECT_EQ(SecondsBetween(AddSeconds(epoch, -5), epoch), -5);
  EXPECT_EQ(SecondsBetween(ParseDateTime("9999-1-1 00:00:00"), ParseDateTime("")), 2147483647);
}

TEST(DateTimeToUnixText, TextsOfTheDescribedExamples) {
  const DateTime gift = ParseDateTime("2017-7-14 10:42:00");
  EXPECT_EQ(DateTimeToUnixText(gift, UnixDigits::Ten), "1500000120");
  EXPECT_EQ(DateTimeToUnixText(gift), "1500000120000");
  const DateTime early = ParseDateTime("1973-11-30 05:33:09");
  EXPECT_EQ(DateTimeToUnixText(early), "123456789000");
  EXPECT_EQ(DateTimeToUnixText(early, UnixDigits::Ten), "1234567890");
  // The rows' second column: the gift time plus two minutes, back to text.
  const DateTime shown = ParseDateTime(FormatTimestamp("1500000000", ClockStyle::TwentyFourHour));
  EXPECT_EQ(DateTimeToUnixText(AddSeconds(shown, 120), UnixDigits::Ten), "1500000120");
}

TEST(CurrentUnixText, CountsFromTheUtcPlusEightWallClock) {
  const FixedClock clock(1500000000, 42);
  {
    const ScopedEnv zone("TZ", "UTC0");
    EXPECT_EQ(CurrentUnixText(clock, UnixDigits::Ten), "1499971200");
    EXPECT_EQ(CurrentUnixText(clock), "1499971200042");
    EXPECT_EQ(DateTimeToUnixText(LocalNow(clock)), "1499971200000");
  }
  const ScopedEnv zone("TZ", "CST-8");
  EXPECT_EQ(CurrentUnixText(clock, UnixDigits::Ten), "1500000000");
}

TEST(Uses24HourClock, ReadsTheUsersTimeLocaleWithoutChangingTheProgramsLocale) {
  {
    const ScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(Uses24HourClock(), 1);
    EXPECT_EQ(UserClockStyle(), ClockStyle::TwentyFourHour);
  }
  {
    // A locale that cannot be loaded is a failed read.
    const ScopedEnv all("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(Uses24HourClock(), 0);
  }
  EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C");
}

}  // namespace
}  // namespace kestrova::intake
