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

// Takes the connection out of the online list and its rooms (last joined
// first) and tells the others when it was visible. Returns the number of
// connections left online.
std::size_t Depart(TActUser& user) REQUIRES(ServerLock) {
    if (auto i = OnlineUsers().IndexOfValue(&user)) OnlineUsers().RemoveAt(*i);
    for (std::size_t i = user.Rooms.size(); i-- > 0;) {
        if (i < user.Rooms.size()) rooms::Leave(*user.Rooms[i].value, user);
    }
    if (!user.Invisible) SendToAll(BuildReply(11, 20, kOk, user.Nickname));
    return OnlineUsers().size();
}

}  // namespace

void TActUser::Execute() {
    LastActivity = Now();
    Nickname = (" " + std::to_string(Socket())).substr(0, 20);
    bool admitted;
    std::size_t remaining = 0;
    {
        ServerLockGuard lock;
        OnlineUsers().Append(Nickname, this);
        LogEvent("Incoming user connection from " + PeerText() +
                 " - User connections: " + std::to_string(OnlineUsers().size()));
        admitted = Admit(*this);
        // A refused connection leaves again without letting go of the lock,
        // so no other connection ever counts or reaches it.
        if (!admitted) {
            Disconnect();
            remaining = Depart(*this);
        }
    }
    if (admitted) {
        ReceiveLoop();
        ServerLockGuard lock;
        remaining = Depart(*this);
    }
    LogEvent("Closed user connection for " + PeerText() + " (" + LogSafe(Nickname) +
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
    const std::string payload = '\0' + JoinFields({sender.Nickname, sender.Color, content});
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
