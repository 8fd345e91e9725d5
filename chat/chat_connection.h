// TActUser: the chat state of one client connection, the bookkeeping when a
// client connects (admission, greeting) and when it leaves, and the
// operations the command groups share. It reaches the wire only through its
// net::Connection, which must outlive it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/names.h"
#include "base/server_lock.h"
#include "chat/message.h"
#include "net/connection.h"

namespace nelv::userdb {
class UserRecord;
}

namespace nelv::chat {

class ChatState;
class TRoom;

class TActUser {
public:
    explicit TActUser(net::Connection& link) : link_(link) {}
    TActUser(const TActUser&) = delete;
    TActUser& operator=(const TActUser&) = delete;

    // The wire of this client.
    void SendText(std::string_view message) { link_.SendText(message); }
    // A message built once for many recipients.
    void SendShared(const net::SharedMessage& message) { link_.SendShared(message); }
    void Disconnect() { link_.Disconnect(); }
    std::uint64_t Id() const { return link_.Id(); }
    std::uint32_t PeerAddress() const { return link_.PeerAddress(); }
    const std::string& PeerText() const { return link_.PeerText(); }
    int Handle() const { return link_.Handle(); }

    // False while the nickname is still the placeholder (a space first).
    bool LoggedIn() const REQUIRES(ServerLock) { return Nickname.empty() || Nickname[0] != ' '; }

    bool Away GUARDED_BY(ServerLock) = false;
    std::string AwayText GUARDED_BY(ServerLock);      // meaningful only while Away
    std::string InvitedRoom GUARDED_BY(ServerLock);   // room of the last invitation received
    userdb::UserRecord* Account GUARDED_BY(ServerLock) = nullptr;  // owned by the user database
    std::string Color GUARDED_BY(ServerLock) = "000000";  // always six characters
    bool Invisible GUARDED_BY(ServerLock) = true;    // true until the first login
    double LastActivity GUARDED_BY(ServerLock) = 0;
    std::string Nickname GUARDED_BY(ServerLock);
    NamedList<TRoom*> Rooms GUARDED_BY(ServerLock);  // joined rooms, in join order

private:
    net::Connection& link_;
};

// The connect bookkeeping: enters `user` into the online list, logs it, and
// runs the admission checks. Admitted, it is greeted and true is returned.
// Refused, it gets a closing notice per failed check, is disconnected and
// has left again (logged too) by the time false is returned.
bool Connect(ChatState& chat, TActUser& user) EXCLUDES(ServerLock);

// The disconnect bookkeeping once the connection has ended: leaves the
// online list and every room, tells the others, and logs it.
void Disconnected(ChatState& chat, TActUser& user) EXCLUDES(ServerLock);

// The first online connection named `name` (ignoring case), or nullptr.
TActUser* FindOnlineUser(ChatState& chat, std::string_view name) REQUIRES(ServerLock);

// True when `user` has logged in; otherwise answers (command, 0, status 14).
bool RequireLogin(TActUser& user, Command command) REQUIRES(ServerLock);

// Announces the user's nickname, colour and status to every connection,
// unless the user is invisible.
void StatusBroadcast(ChatState& chat, TActUser& user) REQUIRES(ServerLock);

// A user-to-user delivery (command 5) to `recipient` from `sender`.
void Deliver(TActUser& recipient, DeliveryKind kind, std::string_view content, TActUser& sender)
    REQUIRES(ServerLock);

// When `target` is away, tells `requester` so (its command, sub-code 6).
void AwayNotice(TActUser& target, Command command, TActUser& requester, std::string_view extra)
    REQUIRES(ServerLock);

// Sends the closing notice (15, 0, reason) and disconnects.
void CloseWithNotice(TActUser& user, Status reason, std::string_view payload = {})
    REQUIRES(ServerLock);

}  // namespace nelv::chat
