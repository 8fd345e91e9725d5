#include "protocol/chat_connection.h"

#include "base/clock.h"
#include "base/events.h"
#include "base/server_config.h"
#include "net/address_rules.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::protocol {

// The shared lists live until the process ends and are never destroyed:
// connection threads may still be running when the process exits.
NamedList<TActUser*>& OnlineUsers() {
    static auto* list = new NamedList<TActUser*>();
    return *list;
}

std::vector<BanEntry>& BanList() {
    static auto* list = new std::vector<BanEntry>();
    return *list;
}

TActUser* FindOnlineUser(std::string_view name) {
    TActUser** found = OnlineUsers().Find(name);
    return found ? *found : nullptr;
}

namespace {

// Runs the three admission checks (all of them, each with its own notice)
// and answers the greeting when all pass.
bool Admit(TActUser& user) REQUIRES(ServerLock) {
    const ServerConfig& config = Config();
    bool admitted = true;
    if (config.MaxUsers > 0 && OnlineUsers().size() > static_cast<std::size_t>(config.MaxUsers)) {
        SendReply(user, 15, 0, kFull);
        admitted = false;
    }
    if (!net::MatchAddress(user.PeerText(), config.UsersIPList, true)) {
        SendReply(user, 15, 0, kAddressRefused);
        admitted = false;
    }
    auto& bans = BanList();
    for (std::size_t i = 0; i < bans.size(); ++i) {
        if (bans[i].address != user.PeerAddress()) continue;
        if (TextToDateTime(bans[i].until) > Now()) {
            SendReply(user, 15, 0, kTemporarilyBanned);
            admitted = false;
        } else {
            bans.erase(bans.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
    }
    if (admitted) SendReply(user, 8, 0, kOk, "3." + std::to_string(kBuildNumber));
    return admitted;
}

}  // namespace

void TActUser::Execute() {
    LastActivity = Now();
    Nickname = (" " + std::to_string(Socket())).substr(0, 20);
    bool admitted;
    {
        ServerLockGuard lock;
        OnlineUsers().Append(Nickname, this);
        LogEvent("Incoming user connection from " + PeerText() +
                 " - User connections: " + std::to_string(OnlineUsers().size()));
        admitted = Admit(*this);
        if (!admitted) Disconnect();
    }
    if (admitted) ReceiveLoop();

    std::size_t remaining;
    std::string name;
    {
        ServerLockGuard lock;
        if (auto i = OnlineUsers().IndexOfValue(this)) OnlineUsers().RemoveAt(*i);
        // Leave the rooms last joined first.
        for (std::size_t i = Rooms.size(); i-- > 0;) {
            if (i < Rooms.size()) rooms::Leave(*Rooms[i].value, *this);
        }
        if (!Invisible) SendToAll(BuildReply(11, 20, kOk, Nickname));
        remaining = OnlineUsers().size();
        name = Nickname;
    }
    LogEvent("Closed user connection for " + PeerText() + " (" + LogSafe(name) +
             ") - User connections: " + std::to_string(remaining));
}

bool RequireLogin(TActUser& user, std::uint8_t command) {
    if (user.LoggedIn()) return true;
    SendReply(user, command, 0, kNotLoggedIn);
    return false;
}

void StatusBroadcast(TActUser& user) {
    if (user.Invisible) return;
    SendToAll(BuildReply(11, 19, kOk, UserStatusText(user)));
}

void Deliver(TActUser& recipient, std::uint8_t subCode, std::string_view content, TActUser& sender) {
    std::string payload(1, '\0');
    payload += sender.Nickname;
    payload += kFieldSeparator;
    payload += sender.Color;
    payload += kFieldSeparator;
    payload.append(content);
    SendReply(recipient, 5, subCode, kOk, payload);
}

void AwayNotice(TActUser& target, std::uint8_t command, TActUser& requester, std::string_view extra) {
    if (!target.Away) return;
    std::string payload = target.Nickname;
    payload += kFieldSeparator;
    payload += target.AwayText;
    payload += kFieldSeparator;
    payload.append(extra);
    SendReply(requester, command, 6, kOk, payload);
}

void CloseWithNotice(TActUser& user, std::uint8_t reason, std::string_view payload) {
    SendReply(user, 15, 0, reason, payload);
    user.Disconnect();
}

}  // namespace nelv::protocol
