// Date-times: days since 1899-12-30 00:00 in local time, the time of day as
// the fraction (the form stored in the user database). The chat state reads
// the time through a clock it is given, so tests choose the time.
#pragma once

#include <string>

namespace nelv {

// One minute as the server counts it in idle time-outs and bans (seven
// significant digits, slightly less than 1/1440).
inline constexpr double kMinute = 0.0006944444;

// Broken-down local date-time of a day value.
struct DateTimeParts {
    int year, month, day, hour, minute, second;
};
DateTimeParts SplitDateTime(double days);

// The current local date-time.
double SystemNow();

// "yyyy-mm-dd hh.nn.ss" and "yyyy.mm.dd hh:nn:ss".
std::string FormatFileStamp(double days);
// "yyyy<d>mm<d>dd hh<t>nn<t>ss" with the given date and time separators.
std::string FormatStamp(double days, char dateSep, char timeSep);
std::string FormatLogStamp(double days);

// Round-trippable decimal text of a date-time, and back.
std::string DateTimeToText(double days);
double TextToDateTime(const std::string& text);

}  // namespace nelv
