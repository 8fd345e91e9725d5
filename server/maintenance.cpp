#include "server/maintenance.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "base/console.h"
#include "base/server_config.h"
#include "net/listener.h"
#include "net/output_pump.h"
#include "protocol/chat_connection.h"
#include "protocol/message.h"

namespace nelv::server {

using protocol::OnlineUsers;

namespace {

// Serialises rewriting the CUI file with deleting it at shutdown, so a pass
// that is under way cannot bring the file back after it was deleted.
std::mutex& CuiFileMutex() {
    static std::mutex m;
    return m;
}
bool g_cuiFileRetired = false;  // guarded by CuiFileMutex

}  // namespace

void IdleSweep(double now) {
    const std::int32_t minutes = Config().TimeoutMinutes;
    if (minutes <= 0) return;
    ServerLockGuard lock;
    auto& users = OnlineUsers();
    for (std::size_t i = users.size(); i-- > 0;) {
        protocol::TActUser& user = *users[i].value;
        if (user.LastActivity + minutes * kMinute < now) {
            protocol::CloseWithNotice(user, protocol::kIdleTimeout);
        }
    }
}

std::string CuiText() {
    std::string text;
    for (auto& entry : OnlineUsers()) {
        const protocol::TActUser& user = *entry.value;
        if (user.Invisible) continue;
        text += user.Nickname;
        text += ' ';
        text += user.Color;
        text += "\r\n";
    }
    return text;
}

void WriteCuiFile() {
    const std::string& path = Config().CuiFileName;
    if (path.empty()) return;
    std::lock_guard<std::mutex> fileLock(CuiFileMutex());
    if (g_cuiFileRetired) return;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ConsoleLine("WARNING: Could not write to CUI file at " + path);
        return;
    }
    std::string text;
    {
        ServerLockGuard lock;
        text = CuiText();
    }
    [[maybe_unused]] ssize_t n = write(fd, text.data(), text.size());
    close(fd);
}

void MaintenancePass(double now) {
    IdleSweep(now);
    WriteCuiFile();
}

void MaintenanceLoop() {
    for (;;) {
        MaintenancePass(Now());
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
}

void ShutdownHandler(net::TServer& listener) NO_THREAD_SAFETY_ANALYSIS {
    ConsoleLine("Shutting down");
    if (!Config().CuiFileName.empty()) {
        std::lock_guard<std::mutex> fileLock(CuiFileMutex());
        g_cuiFileRetired = true;
        unlink(Config().CuiFileName.c_str());
    }
    listener.Stop();
    ServerLock.lock();  // held until the process ends
    auto& users = OnlineUsers();
    for (std::size_t i = users.size(); i-- > 0;) {
        protocol::CloseWithNotice(*users[i].value, protocol::kShuttingDown);
    }
    // Every notice leaves before the process ends (a peer that does not read
    // is cut off after its grace time).
    net::OutputPump::Instance().WaitIdle(net::TUser::kCloseGrace + std::chrono::milliseconds(500));
    FlushConsole();
    _exit(0);
}

}  // namespace nelv::server
