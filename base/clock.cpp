#include "base/clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace nelv {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a day value


}  // namespace

double SystemNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    auto micros = duration_cast<microseconds>(now.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(micros / 1000000);
    std::tm local{};
    localtime_r(&secs, &local);
    double localSeconds = static_cast<double>(micros) / 1e6 + static_cast<double>(local.tm_gmtoff);
    return kUnixEpochDays + localSeconds / 86400.0;
}

DateTimeParts SplitDateTime(double days) {
    // Whole milliseconds first (so 12:00:00 stored as 11:59:59.9999999 stays
    // 12:00:00), then the seconds are cut, never rounded up.
    auto millis = static_cast<long long>(std::llround((days - kUnixEpochDays) * 86400000.0));
    long long seconds = millis / 1000 - (millis % 1000 < 0 ? 1 : 0);
    auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);  // the value already holds local time
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string FormatStamp(double days, char dateSep, char timeSep) {
    auto p = SplitDateTime(days);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d %02d%c%02d%c%02d", p.year, dateSep, p.month,
                  dateSep, p.day, p.hour, timeSep, p.minute, timeSep, p.second);
    return buf;
}

std::string FormatFileStamp(double days) { return FormatStamp(days, '-', '.'); }

std::string FormatLogStamp(double days) { return FormatStamp(days, '.', ':'); }

std::string DateTimeToText(double days) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", days);
    return buf;
}

double TextToDateTime(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

}  // namespace nelv
