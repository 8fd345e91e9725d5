#include "server/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/console.h"
#include "base/events.h"

namespace nelv::server {

std::string LogFileNameFor(const std::string& appDir, double startTime) {
    return appDir + "NELV 3-Server Logfile - " + FormatFileStamp(startTime) + ".txt";
}

std::string LogLine(double when, std::string_view text) {
    std::string line = "[" + FormatLogStamp(when) + "] ";
    line.append(text);
    line += "\r\n";
    return line;
}

void AppendLogLine(const std::string& fileName, std::string_view text) {
    const std::string line = LogLine(Now(), text);
    int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    if (ok) {
        ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        ok = close(fd) == 0 && ok;
    }
    if (!ok) ConsoleLine("Could not write the Log file.");
}

void InstallEventLog(const std::string& fileName) {
    // LogEvent serialises the calls, so lines never interleave.
    SetEventSink([fileName](std::string_view text) { AppendLogLine(fileName, text); });
}

}  // namespace nelv::server
