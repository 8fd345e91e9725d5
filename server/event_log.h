// The event log: one text file per run beside the executable, one dated
// line per event, opened, appended to and closed for every event so the
// file is complete on disk at all times.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace nelv::server {

// "<dir>NELV 3-Server Logfile - yyyy-mm-dd hh.nn.ss.txt" for the date-time.
std::string LogFileNameFor(const std::string& appDir, double startTime);

// "[yyyy.mm.dd hh:nn:ss] text" + CR LF.
std::string LogLine(double when, std::string_view text);

// Appends one line to `fileName`; false when that failed.
bool AppendLogLine(const std::string& fileName, double when, std::string_view text);

// The sink of a chat state's events: each event becomes one line of the
// file, stamped by `clock`. Safe from any thread; lines never interleave.
// A line that cannot be written costs one console warning.
class EventLog {
public:
    EventLog(std::string fileName, std::function<double()> clock)
        : fileName_(std::move(fileName)), clock_(std::move(clock)) {}
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void Write(std::string_view text);

private:
    const std::string fileName_;
    const std::function<double()> clock_;
    std::mutex mutex_;
};

}  // namespace nelv::server
