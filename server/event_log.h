// The event log: one text file per run beside the executable, one dated
// line per event, opened, appended to and closed for every event so the
// file is complete on disk at all times.
#pragma once

#include <string>
#include <string_view>

namespace nelv::server {

// "<dir>NELV 3-Server Logfile - yyyy-mm-dd hh.nn.ss.txt" for the date-time.
std::string LogFileNameFor(const std::string& appDir, double startTime);

// "[yyyy.mm.dd hh:nn:ss] text" + CR LF.
std::string LogLine(double when, std::string_view text);

// Appends one line to `fileName`; on failure prints the console warning.
void AppendLogLine(const std::string& fileName, std::string_view text);

// Sends every event of the process to the file `fileName`.
void InstallEventLog(const std::string& fileName);

}  // namespace nelv::server
