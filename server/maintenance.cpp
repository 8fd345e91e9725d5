#include "server/maintenance.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "base/clock.h"
#include "base/console.h"
#include "chat/chat_connection.h"
#include "chat/message.h"
#include "net/listener.h"
#include "net/event_loop.h"
#include "net/socket_connection.h"
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
    if (path_.empty() || retired_) return;
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
    retired_ = true;
    unlink(path_.c_str());
}

void MaintenancePass(ChatState& chat, CuiFile& cui, double now) {
    IdleSweep(chat, now);
    cui.Write(chat);
}

void ScheduleMaintenance(net::EventLoop& loop, ChatState& chat, CuiFile& cui) {
    loop.At(net::EventLoop::Clock::now(), [&loop, &chat, &cui] {
        MaintenancePass(chat, cui, chat.Now());
        loop.At(net::EventLoop::Clock::now() + std::chrono::seconds(60),
                [&loop, &chat, &cui] { ScheduleMaintenance(loop, chat, cui); });
    });
}

void ShutdownHandler(ChatState& chat, CuiFile& cui, net::TServer& listener, net::TServer* web,
                     net::EventLoop& loop) {
    if (loop.Draining()) return;
    ConsoleLine("Shutting down");
    NotifyStopping();
    cui.Retire();
    listener.Stop();
    if (web) web->Stop(false);
    {
        ServerLockGuard lock;
        auto& users = chat.OnlineUsers;
        for (std::size_t i = users.size(); i-- > 0;) chat::CloseWithNotice(*users[i].value, chat::kShuttingDown);
    }
    // Everything queued so far, the notices last, leaves before Run returns;
    // a peer that does not read is cut off after the grace time.
    loop.Drain(net::EventLoop::Clock::now() + net::TUser::kCloseGrace);
}

}  // namespace nelv::server
