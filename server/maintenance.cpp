#include "server/maintenance.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/clock.h"
#include "base/console.h"
#include "chat/chat_connection.h"
#include "chat/message.h"
#include "net/listener.h"
#include "net/output_pump.h"
#include "server/startup.h"

namespace nelv::server {

using chat::ChatState;

void IdleSweep(ChatState& chat, double now) {
    const std::int32_t minutes = chat.Settings().TimeoutMinutes;
    if (minutes <= 0) return;
    ServerLockGuard lock;
    auto& users = chat.OnlineUsers;
    for (std::size_t i = users.size(); i-- > 0;) {
        chat::TActUser& user = *users[i].value;
        if (user.LastActivity + minutes * kMinute < now) chat::CloseWithNotice(user, chat::kIdleTimeout);
    }
}

std::string CuiText(ChatState& chat) {
    std::string text;
    for (auto& entry : chat.OnlineUsers) {
        const chat::TActUser& user = *entry.value;
        if (user.Invisible) continue;
        text += user.Nickname;
        text += ' ';
        text += user.Color;
        text += "\r\n";
    }
    return text;
}

void CuiFile::Write(ChatState& chat) {
    if (path_.empty()) return;
    std::lock_guard<std::mutex> fileLock(mutex_);
    if (retired_) return;
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ConsoleLine("WARNING: Could not write to CUI file at " + path_);
        return;
    }
    std::string text;
    {
        ServerLockGuard lock;
        text = CuiText(chat);
    }
    [[maybe_unused]] ssize_t n = write(fd, text.data(), text.size());
    close(fd);
}

void CuiFile::Retire() {
    if (path_.empty()) return;
    std::lock_guard<std::mutex> fileLock(mutex_);
    retired_ = true;
    unlink(path_.c_str());
}

void MaintenancePass(ChatState& chat, CuiFile& cui, double now) {
    IdleSweep(chat, now);
    cui.Write(chat);
}

void MaintenanceLoop(ChatState& chat, CuiFile& cui) {
    for (;;) {
        MaintenancePass(chat, cui, chat.Now());
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
}

void ShutdownHandler(ChatState& chat, CuiFile& cui, net::TServer& listener, net::OutputPump& pump)
    NO_THREAD_SAFETY_ANALYSIS {
    ConsoleLine("Shutting down");
    NotifyStopping();
    cui.Retire();
    listener.Stop();
    ServerLock.lock();  // held until the process ends
    auto& users = chat.OnlineUsers;
    for (std::size_t i = users.size(); i-- > 0;) chat::CloseWithNotice(*users[i].value, chat::kShuttingDown);
    // Every notice leaves before the process ends (a peer that does not read
    // is cut off after its grace time).
    pump.WaitIdle(net::TUser::kCloseGrace + std::chrono::milliseconds(500));
    FlushConsole();
    _exit(0);
}

}  // namespace nelv::server
