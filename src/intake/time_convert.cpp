#include "intake/time_convert.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "intake/text.h"

namespace kestrova::intake {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr std::int64_t kSecondsPerDay = 86400;
// The list shows every Unix time as the wall clock of UTC+8.
constexpr std::int64_t kWallClockOffset = 8 * 3600;

constexpr std::array<std::string_view, 12> kMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};

// Day number of the DateTime origin, 1899-12-30, counted from 1970-01-01.
constexpr std::int64_t kOriginDay =
    sys_days{std::chrono::year{1899} / 12 / 30}.time_since_epoch().count();
// The range the calendar conversion accepts, as for an automation date.
constexpr std::int64_t kFirstDay =
    sys_days{std::chrono::year{100} / 1 / 1}.time_since_epoch().count();
constexpr std::int64_t kLastDay =
    sys_days{std::chrono::year{9999} / 12 / 31}.time_since_epoch().count();

struct CivilTime {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  unsigned weekday = 0;  // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Wall-clock seconds counted from 1970-01-01 00:00:00 to fields.
CivilTime CivilFromSeconds(std::int64_t wallSeconds, int millisecond = 0) {
  const std::int64_t dayNumber = FloorDiv(wallSeconds, kSecondsPerDay);
  const std::int64_t secondOfDay = wallSeconds - dayNumber * kSecondsPerDay;
  const sys_days day{days{dayNumber}};
  const year_month_day ymd{day};
  CivilTime civil;
  civil.year = static_cast<int>(ymd.year());
  civil.month = static_cast<unsigned>(ymd.month());
  civil.day = static_cast<unsigned>(ymd.day());
  civil.weekday = std::chrono::weekday{day}.c_encoding();
  civil.hour = static_cast<int>(secondOfDay / 3600);
  civil.minute = static_cast<int>(secondOfDay / 60 % 60);
  civil.second = static_cast<int>(secondOfDay % 60);
  civil.millisecond = millisecond;
  return civil;
}

// Milliseconds since the DateTime origin, rounded to the nearest millisecond; nullopt outside
// the calendar's range.
std::optional<std::int64_t> OriginMilliseconds(DateTime time) {
  if (!std::isfinite(time)) return std::nullopt;
  const double ms = std::round(time * static_cast<double>(kSecondsPerDay) * 1000.0);
  const double lowest = static_cast<double>((kFirstDay - kOriginDay) * kSecondsPerDay * 1000);
  const double highest = static_cast<double>((kLastDay - kOriginDay + 1) * kSecondsPerDay * 1000);
  if (ms < lowest || ms >= highest) return std::nullopt;
  return static_cast<std::int64_t>(ms);
}

// The calendar fields of a DateTime. An automation date carries no milliseconds, so the time is
// taken to the nearest whole second unless `keepMilliseconds` asks for them.
std::optional<CivilTime> CivilFromDateTime(DateTime time, bool keepMilliseconds) {
  auto ms = OriginMilliseconds(time);
  if (!ms) return std::nullopt;
  std::int64_t total = *ms;
  if (!keepMilliseconds) total = FloorDiv(total + 500, 1000) * 1000;
  const std::int64_t seconds = FloorDiv(total, 1000);
  const auto milli = static_cast<int>(total - seconds * 1000);
  CivilTime civil = CivilFromSeconds(seconds + kOriginDay * kSecondsPerDay, milli);
  if (civil.year > 9999) return std::nullopt;
  return civil;
}

DateTime DateTimeFromWallSeconds(std::int64_t wallSeconds) {
  return static_cast<double>(wallSeconds - kOriginDay * kSecondsPerDay) /
         static_cast<double>(kSecondsPerDay);
}

void AppendNumber(AnsiText& out, std::int64_t value, int width) {
  std::array<char, 24> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  (void)error;
  const auto length = static_cast<int>(end - buffer.data());
  for (int pad = length; pad < width; ++pad) out.push_back('0');
  out.append(buffer.data(), end);
}

// Runs of one picture letter, as the Windows date and time formatting functions read them;
// text in single quotes and every other character is copied.
enum class PictureKind { Date, Time };

AnsiText FormatPicture(const CivilTime& civil, std::string_view picture, PictureKind kind) {
  AnsiText out;
  std::size_t i = 0;
  while (i < picture.size()) {
    const char c = picture[i];
    if (c == '\'') {
      const std::size_t close = picture.find('\'', i + 1);
      const std::size_t end = close == std::string_view::npos ? picture.size() : close;
      if (end == i + 1 && close != std::string_view::npos) {
        out.push_back('\'');  // '' is a quote
      } else {
        out.append(picture.substr(i + 1, end - i - 1));
      }
      i = end == picture.size() ? end : end + 1;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    bool used = true;
    if (kind == PictureKind::Date) {
      switch (c) {
        case 'y':
          if (run <= 2) {
            AppendNumber(out, civil.year % 100, run == 2 ? 2 : 1);
          } else {
            AppendNumber(out, civil.year, 4);
          }
          break;
        case 'M':
          if (run <= 2) {
            AppendNumber(out, civil.month, static_cast<int>(run));
          } else {
            out.append(kMonthNames[civil.month - 1]);
          }
          break;
        case 'd':
          if (run <= 2) {
            AppendNumber(out, civil.day, static_cast<int>(run));
          } else {
            out.append(kDayNames[civil.weekday]);
          }
          break;
        default:
          used = false;
      }
    } else {
      const int width = run >= 2 ? 2 : 1;
      switch (c) {
        case 'H':
          AppendNumber(out, civil.hour, width);
          break;
        case 'h': {
          const int twelve = civil.hour % 12 == 0 ? 12 : civil.hour % 12;
          AppendNumber(out, twelve, width);
          break;
        }
        case 'm':
          AppendNumber(out, civil.minute, width);
          break;
        case 's':
          AppendNumber(out, civil.second, width);
          break;
        case 't':
          out.append(civil.hour < 12 ? "AM" : "PM", run >= 2 ? 2 : 1);
          break;
        default:
          used = false;
      }
    }
    if (!used) out.append(picture.substr(i, run));
    i += run;
  }
  return out;
}

AnsiText FormatCivil(const CivilTime& civil, std::string_view datePicture,
                     std::string_view timePicture) {
  AnsiText out;
  if (datePicture.size() >= 3) out = FormatPicture(civil, datePicture, PictureKind::Date);
  if (timePicture.size() >= 3) out += FormatPicture(civil, timePicture, PictureKind::Time);
  return out;
}

constexpr std::string_view kListDatePicture = "yyyy-M-dd ";
constexpr std::string_view kTwelveHourPicture = "hh:mm:ss";
constexpr std::string_view kTwentyFourHourPicture = "HH:mm:ss";

std::string_view TimePictureFor(ClockStyle style) {
  return style == ClockStyle::TwelveHour ? kTwelveHourPicture : kTwentyFourHourPicture;
}

// Reads an unsigned run of 1..maxDigits digits.
bool ReadNumber(std::string_view text, std::size_t& i, std::size_t maxDigits, int& value) {
  const std::size_t begin = i;
  value = 0;
  while (i < text.size() && i - begin < maxDigits && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  return i > begin && (i >= text.size() || text[i] < '0' || text[i] > '9');
}

bool IsScriptSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The script engine turns the timestamp text into a number as JScript's ToNumber does; NaN for a
// text that is not a number. A text that would not even form the script (a quote or a
// backslash would end or escape the string literal) gives nullopt: the script fails.
std::optional<double> ScriptNumber(std::string_view text) {
  for (char c : text) {
    if (c == '\'' || c == '\\' || c == '\n' || c == '\r') return std::nullopt;
  }
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsScriptSpace(text[begin])) ++begin;
  while (end > begin && IsScriptSpace(text[end - 1])) --end;
  std::string_view body = text.substr(begin, end - begin);
  if (body.empty()) return 0.0;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
    double value = 0;
    for (char c : body.substr(2)) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return nan;
      value = value * 16 + digit;
    }
    return value;
  }
  std::size_t i = 0;
  double sign = 1;
  if (body[i] == '+' || body[i] == '-') {
    sign = body[i] == '-' ? -1 : 1;
    ++i;
  }
  const std::string_view rest = body.substr(i);
  if (rest == "Infinity") return sign * std::numeric_limits<double>::infinity();
  // StrDecimalLiteral: digits, an optional fraction, an optional exponent.
  std::size_t j = 0;
  std::size_t mantissaDigits = 0;
  while (j < rest.size() && rest[j] >= '0' && rest[j] <= '9') ++j, ++mantissaDigits;
  if (j < rest.size() && rest[j] == '.') {
    ++j;
    while (j < rest.size() && rest[j] >= '0' && rest[j] <= '9') ++j, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return nan;
  if (j < rest.size() && (rest[j] == 'e' || rest[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < rest.size() && (rest[k] == '+' || rest[k] == '-')) ++k;
    const std::size_t digitsStart = k;
    while (k < rest.size() && rest[k] >= '0' && rest[k] <= '9') ++k;
    if (k == digitsStart) return nan;
    j = k;
  }
  if (j != rest.size()) return nan;
  const std::string number(rest);
  return sign * std::strtod(number.c_str(), nullptr);
}

// The text JScript gives for a date: "Fri Jul 14 10:40:00 UTC+0800 2017" in the machine's zone,
// or "NaN" for an invalid date.
AnsiText ScriptDateText(double milliseconds) {
  // TimeClip: beyond 8.64e15 ms the date is invalid; otherwise whole milliseconds.
  if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > 8.64e15) return "NaN";
  const auto ms = static_cast<std::int64_t>(std::trunc(milliseconds));
  const std::time_t seconds = static_cast<std::time_t>(FloorDiv(ms, 1000));
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return "NaN";
  AnsiText out;
  out.append(kDayNames[static_cast<std::size_t>(local.tm_wday)]);
  out.push_back(' ');
  out.append(kMonthNames[static_cast<std::size_t>(local.tm_mon)]);
  out.push_back(' ');
  AppendNumber(out, local.tm_mday, 1);
  out.push_back(' ');
  AppendNumber(out, local.tm_hour, 2);
  out.push_back(':');
  AppendNumber(out, local.tm_min, 2);
  out.push_back(':');
  AppendNumber(out, local.tm_sec, 2);
  out.append(" UTC");
  const long offset = local.tm_gmtoff;
  if (offset != 0) {
    const long magnitude = offset < 0 ? -offset : offset;
    out.push_back(offset < 0 ? '-' : '+');
    AppendNumber(out, magnitude / 3600, 2);
    AppendNumber(out, magnitude / 60 % 60, 2);
  }
  out.push_back(' ');
  const std::int64_t year = static_cast<std::int64_t>(local.tm_year) + 1900;
  if (year > 0) {
    AppendNumber(out, year, 1);
  } else {
    AppendNumber(out, 1 - year, 1);
    out.append(" B.C.");
  }
  return out;
}

AnsiText FormatScriptTimestamp(const AnsiText& timestamp) {
  const auto number = ScriptNumber(timestamp);
  if (!number) return {};
  const AnsiText dateText = ScriptDateText(*number);
  if (dateText.empty()) return {};
  std::vector<AnsiText> fields = SplitText(dateText, " ");
  // Day name, month, day, time, zone, year: anything shorter has no year to show.
  if (fields.size() < 6) return {};
  for (std::size_t m = 0; m < kMonthNames.size(); ++m) {
    if (fields[1] == kMonthNames[m]) {
      fields[1] = std::to_string(m + 1);
      break;
    }
  }
  return fields[5] + "-" + fields[1] + "-" + fields[2] + " " + fields[3];
}

// A ten-character timestamp as a number: leading sign and digits, 0 without digits. Ten digits
// can exceed 32 bits, so it is read as 64 bits.
std::int64_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsScriptSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
         value < std::numeric_limits<std::int64_t>::max() / 10 - 10) {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  return negative ? -value : value;
}

// The wall-clock seconds of the clock's moment in the machine's zone.
std::int64_t LocalWallSeconds(std::int64_t unixSeconds) {
  const auto seconds = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return unixSeconds;
  return unixSeconds + local.tm_gmtoff;
}

AnsiText UnixText(std::int64_t seconds, int millisecond, UnixDigits digits) {
  AnsiText text;
  AppendNumber(text, seconds, 1);
  AppendNumber(text, millisecond, 3);
  if (digits == UnixDigits::Ten && text.size() > 10) text.resize(10);
  return text;
}

// Seconds of a DateTime after the list's epoch (1970-01-01 08:00:00 wall clock), with the same
// rounding as SecondsBetween but in 64 bits so that times after 2038 are not cut short.
std::int64_t SecondsAfterListEpoch(DateTime time) {
  const DateTime epoch = DateTimeFromWallSeconds(kWallClockOffset);
  const double seconds = (time - epoch) * static_cast<double>(kSecondsPerDay);
  return static_cast<std::int64_t>(std::trunc(seconds + std::copysign(5.787037037037037e-6, seconds)));
}

}  // namespace

DateTime ParseDateTime(const AnsiText& text) {
  const DateTime earliest = static_cast<double>(kFirstDay - kOriginDay);
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::size_t i = 0;
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!ReadNumber(s, i, 4, year)) return earliest;
  if (i >= s.size() || (s[i] != '-' && s[i] != '.')) return earliest;
  const char dateSeparator = s[i++];
  if (!ReadNumber(s, i, 2, month)) return earliest;
  if (i >= s.size() || s[i++] != dateSeparator) return earliest;
  if (!ReadNumber(s, i, 2, day)) return earliest;
  if (i < s.size()) {
    if (s[i++] != ' ') return earliest;
    while (i < s.size() && s[i] == ' ') ++i;
    if (!ReadNumber(s, i, 2, hour)) return earliest;
    if (i >= s.size() || s[i++] != ':') return earliest;
    if (!ReadNumber(s, i, 2, minute)) return earliest;
    if (i >= s.size() || s[i++] != ':') return earliest;
    if (!ReadNumber(s, i, 2, second)) return earliest;
    if (i != s.size()) return earliest;
  }
  if (year < 100 || hour > 23 || minute > 59 || second > 59) return earliest;
  const year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                           std::chrono::day{static_cast<unsigned>(day)}};
  if (!ymd.ok()) return earliest;
  const std::int64_t dayNumber = sys_days{ymd}.time_since_epoch().count();
  return DateTimeFromWallSeconds(dayNumber * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

DateTime AddSeconds(DateTime time, std::int32_t seconds) {
  return time + static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
}

std::int32_t SecondsBetween(DateTime later, DateTime earlier) {
  const double seconds = (later - earlier) * static_cast<double>(kSecondsPerDay);
  if (!std::isfinite(seconds)) return 0;
  // The addend rescues a whole second that floating point leaves just short; it is applied away
  // from zero so that negative differences are rescued too. Differences beyond 32 bits saturate.
  const double whole = std::trunc(seconds + std::copysign(5.787037037037037e-6, seconds));
  if (whole >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (whole <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(whole);
}

std::int32_t Uses24HourClock() {
  // A private locale object: the program's global locale, which the rest of the program relies
  // on being "C", is never touched.
  locale_t userLocale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (userLocale == static_cast<locale_t>(nullptr)) return 0;
  const std::string_view format = nl_langinfo_l(T_FMT, userLocale);
  const bool twelveHour = format.find("%I") != std::string_view::npos ||
                          format.find("%l") != std::string_view::npos ||
                          format.find("%r") != std::string_view::npos;
  freelocale(userLocale);
  return twelveHour ? 0 : 1;
}

ClockStyle UserClockStyle() {
  return Uses24HourClock() == 0 ? ClockStyle::TwelveHour : ClockStyle::TwentyFourHour;
}

AnsiText FormatDateTime(DateTime time, const AnsiText& datePicture, const AnsiText& timePicture) {
  const auto civil = CivilFromDateTime(time, false);
  if (!civil) return {};
  return FormatCivil(*civil, datePicture, timePicture);
}

AnsiText FormatTimestamp(const AnsiText& timestamp, ClockStyle style) {
  if (timestamp.size() == 10) return FormatUnixSeconds(LeadingInteger(timestamp), style);
  return FormatScriptTimestamp(timestamp);
}

AnsiText FormatTimestamp(const AnsiText& timestamp) {
  return FormatTimestamp(timestamp, UserClockStyle());
}

AnsiText FormatUnixSeconds(std::int64_t seconds, ClockStyle style) {
  // Beyond the calendar's range there are no fields to show.
  constexpr std::int64_t kLimit = std::int64_t{1} << 50;
  if (seconds > kLimit || seconds < -kLimit) return {};
  const std::int64_t wall = seconds + kWallClockOffset;
  const std::int64_t dayNumber = FloorDiv(wall, kSecondsPerDay);
  if (dayNumber < kFirstDay || dayNumber > kLastDay) return {};
  return FormatCivil(CivilFromSeconds(wall), kListDatePicture, TimePictureFor(style));
}

AnsiText DateTimeToUnixText(DateTime time, UnixDigits digits) {
  const auto civil = CivilFromDateTime(time, true);
  if (!civil) return {};
  return UnixText(SecondsAfterListEpoch(time), civil->millisecond, digits);
}

DateTime LocalNow(const ports::Clock& clock) {
  const auto now = std::chrono::floor<std::chrono::seconds>(clock.Now());
  return DateTimeFromWallSeconds(LocalWallSeconds(now.time_since_epoch().count()));
}

AnsiText CurrentUnixText(const ports::Clock& clock, UnixDigits digits) {
  const auto now = clock.Now();
  const auto wholeSeconds = std::chrono::floor<std::chrono::seconds>(now);
  const auto millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now - wholeSeconds).count());
  const std::int64_t wall = LocalWallSeconds(wholeSeconds.time_since_epoch().count());
  return UnixText(wall - kWallClockOffset, millisecond, digits);
}

}  // namespace kestrova::intake
