#pragma once

#include <cstdint>

#include "ports/ports.h"
#include "ports/types.h"

// Unix times and the list's display texts. Unix time is counted from the wall-clock moment
// 1970-01-01 08:00:00, so the list shows UTC+8 whatever the machine's time zone; only the
// script-style branch of FormatTimestamp uses the machine's own zone.
namespace kestrova::intake {

// Days since 1899-12-30 00:00:00; the fraction is the time of day.
using DateTime = double;

enum class ClockStyle { TwelveHour, TwentyFourHour };
enum class UnixDigits { Full, Ten };

// Year, month and day separated by '-' or '.', a space, then h:m:s; an unreadable text gives
// 0100-01-01 00:00:00.
DateTime ParseDateTime(const AnsiText& text);
DateTime AddSeconds(DateTime time, std::int32_t seconds);
std::int32_t SecondsBetween(DateTime later, DateTime earlier);

// 0 for a 12-hour clock, 1 for a 24-hour clock, from the user's LC_TIME locale.
std::int32_t Uses24HourClock();
ClockStyle UserClockStyle();

// Windows-style pictures: yyyy, M, MM, d, dd, H, HH, h, hh, m, mm, s, ss.
AnsiText FormatDateTime(DateTime time, const AnsiText& datePicture, const AnsiText& timePicture);

// Ten characters: UTC+8 wall clock as "yyyy-M-dd hh:mm:ss" or "... HH:mm:ss"; any other length:
// local time of the milliseconds, written as the script engine writes a date.
AnsiText FormatTimestamp(const AnsiText& timestamp, ClockStyle style);
AnsiText FormatTimestamp(const AnsiText& timestamp);  // with UserClockStyle()

// The display text of a moment given in Unix seconds (64-bit), as FormatTimestamp shows ten
// digits.
AnsiText FormatUnixSeconds(std::int64_t seconds, ClockStyle style);

AnsiText DateTimeToUnixText(DateTime time, UnixDigits digits = UnixDigits::Full);
// The clock's local wall-clock time in whole seconds.
DateTime LocalNow(const ports::Clock& clock);
AnsiText CurrentUnixText(const ports::Clock& clock, UnixDigits digits = UnixDigits::Full);

}  // namespace kestrova::intake
