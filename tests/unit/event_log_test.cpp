// The event log: its file name, its line format, escaping of client text,
// and appending to the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/log_text.h"
#include "server/event_log.h"

namespace nelv::server {
namespace {

// 2003-05-17 as a day value, and 14:03:09 as a fraction of a day.
constexpr double kMay17th2003 = 37758.0;
constexpr double kAt140309 = (14 * 3600 + 3 * 60 + 9) / 86400.0;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/nelv-unit-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(LogSafe, EscapesOnlyControlBytes) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"Alice", "Alice"},
        {"", ""},
        {"a b", "a b"},
        {"ab\x01" "cd", "ab\\x01cd"},
        {"line\r\nbreak", "line\\x0D\\x0Abreak"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"\x1F\x1E\x10", "\\x1F\\x1E\\x10"},
        {"caf\xE9\xA0\x7F", "caf\xE9\xA0\x7F"},
        {"back\\slash", "back\\slash"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogSafe(c.in), c.out) << c.out;
}

TEST(EventLogFormat, FileNameAndLine) {
    const double when = kMay17th2003 + kAt140309;
    EXPECT_EQ(LogFileNameFor("/srv/chat/", when),
              "/srv/chat/NELV 3-Server Logfile - 2003-05-17 14.03.09.txt");
    EXPECT_EQ(LogLine(when, "Incoming user connection from 10.0.0.5 - User connections: 1"),
              "[2003.05.17 14:03:09] Incoming user connection from 10.0.0.5 - User connections: "
              "1\r\n");
    EXPECT_EQ(LogLine(kMay17th2003, ""), "[2003.05.17 00:00:00] \r\n");
    // Seconds are cut, not rounded up; only a stored value a hair below a whole
    // millisecond counts as that millisecond, and never prints as second 60.
    EXPECT_EQ(LogLine(kMay17th2003 + 86399.6 / 86400.0, "x").substr(0, 21),
              "[2003.05.17 23:59:59]");
    EXPECT_EQ(LogLine(kMay17th2003 + 86399.99999 / 86400.0, "x").substr(0, 21),
              "[2003.05.18 00:00:00]");
    EXPECT_EQ(LogLine(kMay17th2003 + 0.5 - 1e-9, "x").substr(0, 21), "[2003.05.17 12:00:00]");
    EXPECT_EQ(LogFileNameFor("", 45351.5), "NELV 3-Server Logfile - 2024-02-29 12.00.00.txt");
    EXPECT_EQ(LogLine(0.0, "epoch").substr(0, 21), "[1899.12.30 00:00:00]");
}

TEST(EventLogFile, AppendsWholeLinesAndWarnsWhenItCannot) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string file = dir.path() + "/events.txt";
    const double when = kMay17th2003 + kAt140309;

    testing::internal::CaptureStdout();
    EXPECT_TRUE(AppendLogLine(file, when, "first"));
    EventLog log(file, [when] { return when + 1; });
    log.Write("second \xE9");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // Each line is the bracketed stamp of its clock, a blank, the text as given, CR LF.
    EXPECT_EQ(ReadWhole(file),
              "[2003.05.17 14:03:09] first\r\n[2003.05.18 14:03:09] second \xE9\r\n");

    testing::internal::CaptureStdout();
    EventLog lost(dir.path() + "/missing/events.txt", [when] { return when; });
    lost.Write("lost");
    lost.Write("lost again");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not write the Log file.\nCould not write the Log file.\n");
}

}  // namespace
}  // namespace nelv::server
