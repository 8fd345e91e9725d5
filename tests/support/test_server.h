// Runs the server executable as a child process in a private temporary data directory, on a free
// loopback port, and gives tests its console lines, exit code and files.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_client.h"

namespace nelv::test {

// Startup of an instrumented build can be slow on a busy machine.
inline constexpr Duration kStartTimeout{30000};

inline constexpr std::string_view kRunningLine = "Chatserver is running";
inline constexpr std::string_view kEventLogPrefix = "NELV 3-Server Logfile - ";

// A loopback port that nobody listened on a moment ago.
uint16_t PickFreePort();
// True when nothing can be bound to the port on any address right now.
bool PortBusy(uint16_t port);
// Waits until PortBusy turns false, e.g. while another test process holds a fixed port.
bool WaitForFreePort(uint16_t port, Duration timeout = kDefaultTimeout);

// One server process with its data directory. Set up the files, then Start() (or Launch() when
// the start is meant to fail). The destructor kills the process if it still runs, reaps it and
// removes the directory. Not copyable.
class TestServer {
public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Configuration text for the test. Unless SetRawIni is used, the harness puts its own
    // Port= and BindTo=127.0.0.1 at the top of the first [General] section (adding one if there
    // is none), so they win over anything the test wrote there.
    void SetIni(std::string text);
    // Writes the configuration exactly as built for the port the harness picked. With a fixed
    // port (SetPort) the builder is called once with that port.
    void SetRawIni(std::function<std::string(uint16_t port)> build);
    // No configuration file at all.
    void SetNoIni();
    void SetWelcome(std::string bytes);
    void SetUserDatabase(std::string bytes);
    // Use this port and never retry with another one (for tests about ports).
    void SetPort(uint16_t port);
    // Copy the executable into the data directory and start it there without arguments, so that
    // it finds its files next to itself.
    void SetCopyExecutable(bool copy);
    // Starts the process with this limit on the size of files it writes (RLIMIT_FSIZE), and
    // SIGXFSZ ignored, so a write past it fails with EFBIG.
    void SetFileSizeLimit(long bytes) { file_size_limit_ = bytes; }

    // Starts the server and waits until it listens. Retries on another port when the harness
    // picked the port and the server could not bind it. Fails with the console output when the
    // server exits or does not report that it runs in time.
    ::testing::AssertionResult Start(Duration timeout = kStartTimeout);
    // Starts the process without waiting for anything. Either may be called again once the
    // process has ended.
    ::testing::AssertionResult Launch();

    uint16_t Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    const std::string& Dir() const { return dir_; }
    std::string PathOf(std::string_view name) const;

    std::vector<std::string> ConsoleLines() const;
    std::string ConsoleText() const;  // every line followed by "\n", for failure messages
    bool HasLine(std::string_view line) const;
    // Waits for a console line equal to the text; false when the deadline passes first or the
    // process ends without printing it.
    bool WaitForLine(std::string_view line, Duration timeout = kDefaultTimeout);
    // Waits until `done` holds of the console lines read so far.
    bool WaitForConsole(const std::function<bool(const std::vector<std::string>&)>& done,
                        Duration timeout = kDefaultTimeout);

    // Waits for the process to end; its exit code, or 128 + signal number when a signal ended
    // it, or nothing when it still runs at the deadline.
    std::optional<int> WaitForExit(Duration timeout = kDefaultTimeout);
    bool Exited() const;
    void Signal(int sig);

    void WriteFile(std::string_view name, std::string_view bytes) const;
    std::optional<std::string> ReadFile(std::string_view name) const;
    bool FileExists(std::string_view name) const;
    // Names (not paths) of the files in the data directory that start with the prefix.
    std::vector<std::string> FilesWithPrefix(std::string_view prefix) const;
    // The event log of this run, once the server has written it.
    std::optional<std::string> EventLogName() const;
    std::optional<std::string> ReadEventLog() const;
    // Waits until the event log holds a line (without its CR LF) that contains the text.
    bool WaitForEventLog(std::string_view text, Duration timeout = kDefaultTimeout) const;
    // Waits until the file exists, or until it is gone.
    bool WaitForFile(std::string_view name, bool present, Duration timeout = kDefaultTimeout) const;

private:
    void WriteDataFiles();
    ::testing::AssertionResult Spawn();
    void ReadConsole(int fd);
    void Reap(bool block);
    void KillAndReap();

    std::string dir_;
    std::string executable_;
    std::optional<std::string> ini_;
    std::function<std::string(uint16_t)> raw_ini_;
    std::optional<std::string> welcome_;
    std::optional<std::string> udb_;
    bool no_ini_ = false;
    uint16_t port_ = 0;
    bool fixed_port_ = false;
    bool copy_executable_ = false;
    long file_size_limit_ = -1;

    pid_t pid_ = -1;
    std::thread reader_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool console_closed_ = false;
    std::optional<int> exit_code_;
};

}  // namespace nelv::test
