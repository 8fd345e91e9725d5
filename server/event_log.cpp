#include "server/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/console.h"

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

bool AppendLogLine(const std::string& fileName, double when, std::string_view text) {
    const std::string line = LogLine(when, text);
    int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(fd) == 0 && ok;
}

void EventLog::Write(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!AppendLogLine(fileName_, clock_(), text)) ConsoleLine("Could not write the Log file.");
}

}  // namespace nelv::server
