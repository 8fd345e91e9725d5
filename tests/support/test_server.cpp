#include "support/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#ifndef NELV3SRV_BIN
#error "NELV3SRV_BIN must name the server executable"
#endif

namespace nelv::test {
namespace {

namespace fs = std::filesystem;

constexpr int kStartAttempts = 5;
constexpr Duration kFilePollInterval{20};
constexpr std::string_view kAddressInUse = "Chatserver could not be started (Errorcode: 98)";

bool TryBind(uint32_t address, uint16_t port, uint16_t* bound) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Like the server: connections of an earlier run lingering in TIME_WAIT do not count.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(address);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (ok && bound) {
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        *bound = ntohs(addr.sin_port);
    }
    ::close(fd);
    return ok;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(begin, end - begin + 1));
}

// Puts the harness's keys first in the first [General] section: the server reads only the first
// occurrence of a section, and within it the first occurrence of a key.
std::string MergeIni(const std::string& text, uint16_t port) {
    std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string keys = "Port=" + std::to_string(port) + eol + "BindTo=127.0.0.1" + eol;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        if (Lower(Trim(std::string_view(text).substr(pos, next - pos))) == "[general]") {
            std::string merged = text.substr(0, next);
            if (end == std::string::npos) merged += eol;
            return merged + keys + text.substr(next);
        }
        pos = next;
    }
    return "[General]" + eol + keys + text;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "could not write " << path;
}

}  // namespace

uint16_t PickFreePort() {
    uint16_t port = 0;
    if (!TryBind(INADDR_LOOPBACK, 0, &port)) ADD_FAILURE() << "no free loopback port";
    return port;
}

bool PortBusy(uint16_t port) {
    return !TryBind(INADDR_ANY, port, nullptr) || !TryBind(INADDR_LOOPBACK, port, nullptr);
}

bool WaitForFreePort(uint16_t port, Duration timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!PortBusy(port)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kFilePollInterval);
    }
}

TestServer::TestServer() : executable_(NELV3SRV_BIN) {
    std::string pattern = (fs::temp_directory_path() / "nelv3srv-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    dir_ = pattern;
}

TestServer::~TestServer() {
    KillAndReap();
    if (::testing::Test::HasFailure()) {
        std::cerr << "--- server console (" << dir_ << ") ---\n" << ConsoleText();
        if (auto log = ReadEventLog()) std::cerr << "--- event log ---\n" << *log;
        std::cerr << "---\n";
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void TestServer::SetIni(std::string text) {
    ini_ = std::move(text);
    raw_ini_ = nullptr;
    no_ini_ = false;
}

void TestServer::SetRawIni(std::function<std::string(uint16_t port)> build) {
    raw_ini_ = std::move(build);
    ini_.reset();
    no_ini_ = false;
}

void TestServer::SetNoIni() {
    ini_.reset();
    raw_ini_ = nullptr;
    no_ini_ = true;
}

void TestServer::SetWelcome(std::string bytes) { welcome_ = std::move(bytes); }
void TestServer::SetUserDatabase(std::string bytes) { udb_ = std::move(bytes); }

void TestServer::SetPort(uint16_t port) {
    port_ = port;
    fixed_port_ = true;
}

void TestServer::SetCopyExecutable(bool copy) { copy_executable_ = copy; }

std::string TestServer::PathOf(std::string_view name) const {
    return dir_ + "/" + std::string(name);
}

void TestServer::WriteDataFiles() {
    std::string ini_path = PathOf("NELV3SRV.INI");
    if (no_ini_) {
        std::error_code ignored;
        fs::remove(ini_path, ignored);
    } else if (raw_ini_) {
        WriteBytes(ini_path, raw_ini_(port_));
    } else {
        WriteBytes(ini_path, MergeIni(ini_.value_or(""), port_));
    }
    if (welcome_) WriteBytes(PathOf("WELCOME.TXT"), *welcome_);
    if (udb_) WriteBytes(PathOf("NELV3SRV.UDB"), *udb_);
}

::testing::AssertionResult TestServer::Launch() {
    if (pid_ > 0) {
        if (!Exited()) return ::testing::AssertionFailure() << "the server is still running";
        KillAndReap();  // an earlier run has ended; start afresh
    }
    if (!fixed_port_) port_ = PickFreePort();
    WriteDataFiles();
    return Spawn();
}

::testing::AssertionResult TestServer::Spawn() {
    std::string program = executable_;
    std::vector<std::string> args{program};
    if (copy_executable_) {
        program = PathOf("nelv3srv");
        std::error_code error;
        fs::copy_file(executable_, program, fs::copy_options::overwrite_existing, error);
        if (error) {
            return ::testing::AssertionFailure()
                   << "copying " << executable_ << ": " << error.message();
        }
        fs::permissions(program, fs::perms::owner_all, fs::perm_options::add, error);
        args = {program};
    } else {
        args.push_back(dir_);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return ::testing::AssertionFailure() << "pipe2: " << std::strerror(errno);
    }
    int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t parent = ::getpid();
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
        console_closed_ = false;
        exit_code_.reset();
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        if (null_fd >= 0) ::close(null_fd);
        return ::testing::AssertionFailure() << "fork: " << std::strerror(errno);
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (null_fd >= 0) ::dup2(null_fd, 0);
        ::dup2(pipe_fds[1], 1);
        ::dup2(pipe_fds[1], 2);
        if (::chdir(dir_.c_str()) != 0) ::_exit(127);
        if (file_size_limit_ >= 0) {
            struct rlimit limit {};
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(file_size_limit_);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGXFSZ, &ignore, nullptr);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    if (null_fd >= 0) ::close(null_fd);
    pid_ = pid;
    int read_fd = pipe_fds[0];
    reader_ = std::thread([this, read_fd] { ReadConsole(read_fd); });
    return ::testing::AssertionSuccess();
}

void TestServer::ReadConsole(int fd) {
    std::string pending;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(chunk, static_cast<size_t>(n));
        size_t end;
        std::vector<std::string> complete;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            complete.push_back(std::move(line));
            pending.erase(0, end + 1);
        }
        if (!complete.empty()) {
            std::lock_guard lock(mutex_);
            for (auto& line : complete) lines_.push_back(std::move(line));
            changed_.notify_all();
        }
    }
    ::close(fd);
    {
        std::lock_guard lock(mutex_);
        if (!pending.empty()) lines_.push_back(pending);
        console_closed_ = true;
        changed_.notify_all();
    }
    // The console closes when the process ends; this thread is the only one that reaps it.
    int status = 0;
    pid_t pid = pid_;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status)
               : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                     : -1;
    std::lock_guard lock(mutex_);
    exit_code_ = code;
    changed_.notify_all();
}

void TestServer::KillAndReap() {
    if (pid_ <= 0) return;
    if (!Exited()) ::kill(pid_, SIGKILL);
    if (reader_.joinable()) reader_.join();
    pid_ = -1;
}

::testing::AssertionResult TestServer::Start(Duration timeout) {
    for (int attempt = 1;; ++attempt) {
        auto launched = Launch();
        if (!launched) return launched;
        auto deadline = Clock::now() + timeout;
        std::unique_lock lock(mutex_);
        bool done = changed_.wait_until(lock, deadline, [&] {
            for (const auto& line : lines_) {
                if (line == kRunningLine) return true;
            }
            return exit_code_.has_value();
        });
        bool running = !exit_code_.has_value() && done;
        bool address_in_use = false;
        for (const auto& line : lines_) {
            if (line == kAddressInUse) address_in_use = true;
        }
        lock.unlock();
        if (running) return ::testing::AssertionSuccess();
        if (done && address_in_use && !fixed_port_ && attempt < kStartAttempts) {
            // Someone took the port between our probe and the server's bind.
            KillAndReap();
            continue;
        }
        auto failure = ::testing::AssertionFailure();
        if (done) {
            failure << "the server exited with code " << *WaitForExit(Duration{0});
        } else {
            failure << "the server did not report \"" << kRunningLine << "\" within "
                    << timeout.count() << " ms";
        }
        return failure << "; console:\n" << ConsoleText();
    }
}

std::vector<std::string> TestServer::ConsoleLines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string TestServer::ConsoleText() const {
    std::string out;
    for (const auto& line : ConsoleLines()) out += line + "\n";
    return out;
}

bool TestServer::HasLine(std::string_view line) const {
    std::lock_guard lock(mutex_);
    for (const auto& l : lines_) {
        if (l == line) return true;
    }
    return false;
}

bool TestServer::WaitForLine(std::string_view line, Duration timeout) {
    std::unique_lock lock(mutex_);
    bool found = false;
    changed_.wait_until(lock, Clock::now() + timeout, [&] {
        for (const auto& l : lines_) {
            if (l == line) found = true;
        }
        return found || console_closed_;
    });
    return found;
}

bool TestServer::WaitForConsole(const std::function<bool(const std::vector<std::string>&)>& done,
                                Duration timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, Clock::now() + timeout, [&] { return done(lines_) || console_closed_; }) &&
           done(lines_);
}

std::optional<int> TestServer::WaitForExit(Duration timeout) {
    std::unique_lock lock(mutex_);
    if (pid_ <= 0 && !exit_code_) return std::nullopt;
    changed_.wait_until(lock, Clock::now() + timeout, [&] { return exit_code_.has_value(); });
    return exit_code_;
}

bool TestServer::Exited() const {
    std::lock_guard lock(mutex_);
    return exit_code_.has_value();
}

void TestServer::Signal(int sig) {
    if (pid_ > 0 && !Exited()) ::kill(pid_, sig);
}

void TestServer::WriteFile(std::string_view name, std::string_view bytes) const {
    WriteBytes(PathOf(name), bytes);
}

std::optional<std::string> TestServer::ReadFile(std::string_view name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool TestServer::FileExists(std::string_view name) const {
    std::error_code ignored;
    return fs::exists(PathOf(name), ignored);
}

std::vector<std::string> TestServer::FilesWithPrefix(std::string_view prefix) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir_, error)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
}

std::optional<std::string> TestServer::EventLogName() const {
    auto names = FilesWithPrefix(kEventLogPrefix);
    if (names.empty()) return std::nullopt;
    return names.front();
}

std::optional<std::string> TestServer::ReadEventLog() const {
    auto name = EventLogName();
    if (!name) return std::nullopt;
    return ReadFile(*name);
}

bool TestServer::WaitForEventLog(std::string_view text, Duration timeout) const {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto log = ReadEventLog()) {
            std::istringstream lines(*log);
            std::string line;
            while (std::getline(lines, line)) {
                if (line.find(text) != std::string::npos) return true;
            }
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kFilePollInterval);
    }
}

bool TestServer::WaitForFile(std::string_view name, bool present, Duration timeout) const {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (FileExists(name) == present) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kFilePollInterval);
    }
}

}  // namespace nelv::test
