#include "chat/chat_connection.h"

#include "base/clock.h"
#include "base/log_text.h"
#include "chat/chat_state.h"
#include "chat/message.h"
#include "chat/room.h"
#include "net/address_rules.h"

namespace nelv::chat {
namespace {

// Runs the three admission checks (all of them, each with its own notice)
// and answers the greeting when all pass.
bool Admit(ChatState& chat, TActUser& user) REQUIRES(ServerLock) {
    const ServerConfig& config = chat.Settings();
    bool admitted = true;
    // One address may not take every connection: over its own limit a
    // client is refused as over the user limit.
    const bool overUsers =
        config.MaxUsers > 0 && chat.OnlineUsers.size() > static_cast<std::size_t>(config.MaxUsers);
    const bool overAddress =
        config.MaxConnectionsPerAddress > 0 &&
        chat.ConnectionsByAddress[user.PeerAddress()] > static_cast<std::uint32_t>(config.MaxConnectionsPerAddress);
    if (overUsers || overAddress) {
        user.SendText(ClosingNotice(kFull));
        admitted = false;
    }
    if (!net::MatchAddress(user.PeerText(), config.UsersIPList, true)) {
        user.SendText(ClosingNotice(kAddressRefused));
        admitted = false;
    }
    auto& bans = chat.BanList;
    for (std::size_t i = 0; i < bans.size(); ++i) {
        if (bans[i].address != user.PeerAddress()) continue;
        if (TextToDateTime(bans[i].until) > chat.Now()) {
            user.SendText(ClosingNotice(kTemporarilyBanned));
            admitted = false;
        } else {
            bans.erase(bans.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
    }
    if (admitted) user.SendText(Greeting());
    return admitted;
}

// Takes the connection out of the online list and its rooms (last joined
// first) and tells the others when it was visible.
void Depart(ChatState& chat, TActUser& user) REQUIRES(ServerLock) {
    chat.RemoveOnline(user);
    for (std::size_t i = user.Rooms.size(); i-- > 0;) {
        if (i < user.Rooms.size()) Leave(chat, *user.Rooms[i].value, user);
    }
    if (!user.Invisible) SendToAll(chat, UserGoneLine(user.Nickname));
}

void LogClosed(ChatState& chat, TActUser& user, const std::string& nickname, std::size_t remaining) {
    chat.LogEvent("Closed user connection for " + user.PeerText() + " (" + LogSafe(nickname) +
                  ") - User connections: " + std::to_string(remaining));
}

}  // namespace

bool Connect(ChatState& chat, TActUser& user) {
    std::string nickname;
    std::size_t remaining;
    {
        ServerLockGuard lock;
        user.LastActivity = chat.Now();
        user.Nickname = (" " + std::to_string(user.Handle())).substr(0, kMaxNicknameLength);
        chat.AddOnline(user);
        chat.LogEvent("Incoming user connection from " + user.PeerText() +
                      " - User connections: " + std::to_string(chat.OnlineUsers.size()));
        if (Admit(chat, user)) return true;
        // A refused connection leaves again without letting go of the lock,
        // so no other connection ever counts or reaches it.
        user.Disconnect();
        Depart(chat, user);
        nickname = user.Nickname;
        remaining = chat.OnlineUsers.size();
    }
    LogClosed(chat, user, nickname, remaining);
    return false;
}

void Disconnected(ChatState& chat, TActUser& user) {
    std::string nickname;
    std::size_t remaining;
    {
        ServerLockGuard lock;
        Depart(chat, user);
        nickname = user.Nickname;
        remaining = chat.OnlineUsers.size();
    }
    LogClosed(chat, user, nickname, remaining);
}

TActUser* FindOnlineUser(ChatState& chat, std::string_view name) {
    TActUser** found = chat.OnlineUsers.Find(name);
    return found ? *found : nullptr;
}

bool RequireLogin(TActUser& user, Command command) {
    if (user.LoggedIn()) return true;
    SendReply(user, command, 0, kNotLoggedIn);
    return false;
}

void StatusBroadcast(ChatState& chat, TActUser& user) {
    if (user.Invisible) return;
    SendToAll(chat, UserStatusLine(user));
}

void Deliver(TActUser& recipient, DeliveryKind kind, std::string_view content, TActUser& sender) {
    recipient.SendText(Delivery(kind, sender, content));
}

void AwayNotice(TActUser& target, Command command, TActUser& requester, std::string_view extra) {
    if (target.Away) requester.SendText(AwayNoticeReply(command, target, extra));
}

void CloseWithNotice(TActUser& user, Status reason, std::string_view payload) {
    user.SendText(ClosingNotice(reason, payload));
    user.Disconnect();
}

}  // namespace nelv::chat
