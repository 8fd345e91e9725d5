// Rooms: a room's settings and membership, joining and leaving with their
// messages, and the system rooms from the configuration. Everything here
// runs with ServerLock held, except CreateSystemRooms, which runs once
// before the first connection exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "base/server_lock.h"
#include "protocol/wire.h"

namespace nelv::chat {

using namespace nelv::protocol;

class ChatState;
class TActUser;

class TRoom {
public:
    explicit TRoom(std::string name);
    TRoom(const TRoom&) = delete;
    TRoom& operator=(const TRoom&) = delete;

    const std::string Name;
    std::vector<std::uint32_t> BannedAddresses GUARDED_BY(ServerLock);  // network order
    std::string Color GUARDED_BY(ServerLock) = "FFFFFF";
    bool Closed GUARDED_BY(ServerLock) = false;
    bool Hidden GUARDED_BY(ServerLock) = false;
    bool Permanent GUARDED_BY(ServerLock) = false;
    std::uint16_t MemberLimit GUARDED_BY(ServerLock) = 0;
    std::string Topic GUARDED_BY(ServerLock);
    NamedList<TActUser*> Members GUARDED_BY(ServerLock);  // in join order, keyed by nickname

    bool IsOperator(const TActUser& user) const REQUIRES(ServerLock);
    bool IsOwner(const TActUser& user) const REQUIRES(ServerLock);
    bool IsMuted(const TActUser& user) const REQUIRES(ServerLock);
    bool IsMember(const TActUser& user) const REQUIRES(ServerLock);
    bool IsBanned(std::uint32_t address) const REQUIRES(ServerLock);
    // Identities of the owner (0: none) and the operators, for checks.
    std::uint64_t OwnerId() const REQUIRES(ServerLock) { return Owner; }
    const std::vector<std::uint64_t>& OperatorIds() const REQUIRES(ServerLock) { return Operators; }

    // The member named `name` (ignoring case), or nullptr.
    TActUser* FindMember(std::string_view name) REQUIRES(ServerLock);

    // Operator rights; false when nothing changed.
    bool AddOperator(const TActUser& user) REQUIRES(ServerLock);
    bool RemoveOperator(const TActUser& user) REQUIRES(ServerLock);
    // Makes `user` the owner (and an operator); the former owner stays an operator.
    void HandOver(const TActUser& user) REQUIRES(ServerLock);

    // A switch request on the mute list or the address bans: sub-code 0
    // toggles, 21 adds, 22 removes, any other value changes nothing. False
    // when an explicit add or remove would change nothing.
    bool SwitchMute(const TActUser& user, std::uint8_t subCode) REQUIRES(ServerLock);
    // Forgets the mutes of connections that are not in `connected`, so the
    // list never holds more than the connections that are still there.
    void KeepMutesOf(const std::unordered_set<std::uint64_t>& connected) REQUIRES(ServerLock) {
        std::erase_if(MutedMembers, [&connected](std::uint64_t id) { return !connected.contains(id); });
    }
    bool SwitchBan(std::uint32_t address, std::uint8_t subCode) REQUIRES(ServerLock);

    // The member's entry follows its new nickname.
    void RenameMember(TActUser& user, const std::string& nickname) REQUIRES(ServerLock);

private:
    friend void Join(ChatState&, TRoom&, TActUser&, bool);
    friend void Leave(ChatState&, TRoom&, TActUser&);

    // Connections by their never-reused identity, so an entry left behind by
    // a closed connection can never match a later one. Owner 0 is none.
    std::vector<std::uint64_t> MutedMembers GUARDED_BY(ServerLock);
    std::uint64_t Owner GUARDED_BY(ServerLock) = 0;
    std::vector<std::uint64_t> Operators GUARDED_BY(ServerLock);
};

// Creates a room with default settings at the end of the room list. Throws
// std::runtime_error("The room already exists.") when the name is taken.
TRoom& CreateRoom(ChatState& chat, std::string name) REQUIRES(ServerLock);

// Adds `user` to `room` or refuses it (banned 7, full 3, closed 8; an
// invited join skips these checks), with every join message.
void Join(ChatState& chat, TRoom& room, TActUser& user, bool invited) REQUIRES(ServerLock);

// Removes `user` from `room`; announces it, or destroys an emptied user
// room. `room` may be gone when this returns.
void Leave(ChatState& chat, TRoom& room, TActUser& user) REQUIRES(ServerLock);

// Sends a room event to every member in join order.
void SendRoomEvent(TRoom& room, std::uint8_t code, std::uint8_t value, std::string_view data,
                   const TActUser* actor) REQUIRES(ServerLock);

// 19/19 with the room information to every connection, unless hidden.
void BroadcastRoomInfo(ChatState& chat, TRoom& room) REQUIRES(ServerLock);

// 19/20 with the room name to every connection.
void SendRemovalNotice(ChatState& chat, const TRoom& room) REQUIRES(ServerLock);

// The room named `name` among the user's rooms, or nullptr.
TRoom* UsersRoom(TActUser& user, std::string_view name) REQUIRES(ServerLock);

// Builds the system rooms from the settings.
void CreateSystemRooms(ChatState& chat) EXCLUDES(ServerLock);

// Number of leading permanent rooms in the room list.
std::size_t SystemRoomCount(ChatState& chat) REQUIRES(ServerLock);

// Colour and topic of a system room entry's value ("RRGGBB,topic").
struct SystemRoomValue {
    std::string color;
    std::string topic;
};
SystemRoomValue ParseSystemRoomValue(std::string_view value);

}  // namespace nelv::chat
