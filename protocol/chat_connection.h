// TActUser: the chat connection. Admission at connect (user limit, address
// rules, temporary bans), the greeting, dispatch of every message to its
// command handler, and the bookkeeping when the connection ends. Also the
// operations the command groups share.
//
// Every chat field below is read and written only with ServerLock held,
// by whichever thread holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "base/server_lock.h"
#include "net/connection.h"

namespace nelv::rooms {
class TRoom;
}
namespace nelv::userdb {
class UserRecord;
}

namespace nelv::protocol {

class TActUser : public net::TUser {
public:
    TActUser() = default;

    // Connect bookkeeping, receive loop, disconnect bookkeeping.
    void Execute() override;

    // False while the nickname is still the placeholder (a space first).
    bool LoggedIn() const { return Nickname.empty() || Nickname[0] != ' '; }

    bool Away = false;
    std::string AwayText;                  // meaningful only while Away
    std::string InvitedRoom;               // room of the last invitation received
    userdb::UserRecord* Account = nullptr; // owned by the user database
    std::string Color = "000000";          // always six characters
    bool Invisible = true;                 // true until the first login
    double LastActivity = 0;
    std::string Nickname;
    NamedList<rooms::TRoom*> Rooms;        // joined rooms, in join order

protected:
    void HandleMessage(std::string_view message) override REQUIRES(ServerLock);
};

// Every chat connection from connect to disconnect, logged in or not, under
// its current nickname, in connect order.
NamedList<TActUser*>& OnlineUsers() REQUIRES(ServerLock);

// Temporary address bans from server kicks.
struct BanEntry {
    std::string until;           // date-time as text
    std::uint32_t address = 0;   // network byte order
};
std::vector<BanEntry>& BanList() REQUIRES(ServerLock);

// The first online connection named `name` (ignoring case), or nullptr.
TActUser* FindOnlineUser(std::string_view name) REQUIRES(ServerLock);

// True when `user` has logged in; otherwise answers (command, 0, status 14).
bool RequireLogin(TActUser& user, std::uint8_t command) REQUIRES(ServerLock);

// Announces the user's nickname, colour and status to every connection,
// unless the user is invisible.
void StatusBroadcast(TActUser& user) REQUIRES(ServerLock);

// A user-to-user delivery (command 5) to `recipient` from `sender`.
void Deliver(TActUser& recipient, std::uint8_t subCode, std::string_view content, TActUser& sender)
    REQUIRES(ServerLock);

// When `target` is away, tells `requester` so (its command, sub-code 6).
void AwayNotice(TActUser& target, std::uint8_t command, TActUser& requester, std::string_view extra)
    REQUIRES(ServerLock);

// Sends the closing notice (15, 0, reason) and disconnects.
void CloseWithNotice(TActUser& user, std::uint8_t reason, std::string_view payload = {})
    REQUIRES(ServerLock);

}  // namespace nelv::protocol
