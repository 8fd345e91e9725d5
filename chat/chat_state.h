// ChatState: everything one chat server knows. The settings, the online
// connections, the rooms, the temporary bans and the registered nicknames,
// with the clock it reads and the sink its events go to. Start-up builds
// one; a test builds a fresh one per case.
//
// The lists are read and written only with ServerLock held. The settings,
// the clock and the sink are fixed at construction and safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/names.h"
#include "chat/server_config.h"
#include "base/server_lock.h"
#include "chat/password_guard.h"
#include "chat/room.h"
#include "net/shared_message.h"
#include "userdb/user_database.h"

namespace nelv::chat {

class TActUser;

// A temporary address ban from a server kick.
struct BanEntry {
    std::string until;           // date-time as text
    std::uint32_t address = 0;   // network byte order
};

class ChatState {
public:
    using Clock = std::function<double()>;
    using EventSink = std::function<void(std::string_view)>;

    // `clock` gives the current date-time; `events` receives every event
    // worth a log line and must serialise its own calls (it is called from
    // connection threads with and without ServerLock). An empty sink drops
    // the events.
    ChatState(ServerConfig settings, Clock clock, EventSink events);
    ChatState(const ChatState&) = delete;
    ChatState& operator=(const ChatState&) = delete;

    const ServerConfig& Settings() const { return settings_; }
    double Now() const { return clock_(); }
    void LogEvent(std::string_view text) const {
        if (events_) events_(text);
    }

    // Every chat connection from connect to disconnect, logged in or not,
    // under its current nickname, in connect order.
    NamedList<TActUser*> OnlineUsers GUARDED_BY(ServerLock);
    // Every room, system rooms first, in creation order. Owns the rooms.
    NamedList<std::unique_ptr<TRoom>> RoomList GUARDED_BY(ServerLock);
    // How many online connections each peer address (network byte order) has.
    std::unordered_map<std::uint32_t, std::uint32_t> ConnectionsByAddress GUARDED_BY(ServerLock);
    // The identity of every online connection.
    std::unordered_set<std::uint64_t> ConnectionIds GUARDED_BY(ServerLock);
    // Temporary address bans, oldest first.
    std::vector<BanEntry> BanList GUARDED_BY(ServerLock);
    // The registered nicknames and their file.
    userdb::UserDatabase RegisteredUsers GUARDED_BY(ServerLock);
    // Recent wrong passwords by peer address.
    PasswordGuard Guesses GUARDED_BY(ServerLock);

    // The operations that keep the lists above in step with each other.
    // A connection comes online under its current nickname, or goes.
    void AddOnline(TActUser& user) REQUIRES(ServerLock);
    void RemoveOnline(TActUser& user) REQUIRES(ServerLock);
    // The user's nickname changes in the online list, in each of its rooms
    // and on the connection.
    void Rename(TActUser& user, const std::string& nickname) REQUIRES(ServerLock);
    // Connections from `address` are refused until `until` (a date-time text).
    void AddBan(std::uint32_t address, std::string until) REQUIRES(ServerLock);

    // A pending invitation keeps the room name as the inviter wrote it;
    // those of all connections together hold at most this many bytes. One
    // past it is still delivered, but not remembered for the join.
    static constexpr std::size_t kInvitationBudget = 16 * 1024 * 1024;
    void Invite(TActUser& target, const std::string& roomName) REQUIRES(ServerLock);
    void ForgetInvitation(TActUser& user) REQUIRES(ServerLock);

    // The server information's room list and user list, each built once
    // and shared by every asker until something changes: a client that asks
    // again and again costs a reference, not a walk over every connection.
    // Whatever may change a room, a user or who is online calls
    // ListsChanged (every request but the server information itself, and
    // every connect and disconnect).
    struct ListAnswers {
        net::SharedMessage rooms;
        net::SharedMessage users;
    };
    const ListAnswers& Lists() REQUIRES(ServerLock);
    void ListsChanged() REQUIRES(ServerLock) { lists_.reset(); }

private:
    std::optional<ListAnswers> lists_ GUARDED_BY(ServerLock);
    std::size_t invitationBytes_ GUARDED_BY(ServerLock) = 0;
    const ServerConfig settings_;
    const Clock clock_;
    const EventSink events_;
};

}  // namespace nelv::chat
