// Rooms: the registry (RoomList, system rooms first), membership, and the
// three messages rooms send: the room event (command 14), the room
// information (19/19) and the removal notice (19/20). Everything here runs
// with ServerLock held, except CreateSystemRooms, which runs once before
// the first connection exists.
//
// Room event payload: value byte, room name, 0x01, actor nickname, 0x01,
// actor colour, 0x01, data (actor parts empty when there is no actor).
// Room information text: name, topic, colour, member count, member limit,
// permanent, closed, hidden, joined by 0x01.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "base/server_lock.h"

namespace nelv::protocol {
class TActUser;
}

namespace nelv::rooms {

using protocol::TActUser;

// Room event codes.
enum EventCode : std::uint8_t {
    kMemberPresent = 0,
    kRoomMessage = 1,
    kMemberJoined = 2,
    kMemberLeft = 3,
    kAwayChanged = 4,
    kBanChanged = 5,
    kRemovedFromServer = 6,
    kColorChanged = 7,
    kMuteChanged = 8,
    kMemberKicked = 9,
    kNicknameChanged = 10,
    kStatusChanged = 11,
    kSettingsChanged = 12,
    kJoinRefused = 13,
};

class TRoom {
public:
    explicit TRoom(std::string name);
    TRoom(const TRoom&) = delete;
    TRoom& operator=(const TRoom&) = delete;

    std::vector<std::uint32_t> BannedAddresses;  // peer addresses, network order
    std::string Color = "FFFFFF";
    bool Closed = false;
    bool Hidden = false;
    bool Permanent = false;
    // Connections by their never-reused identity, so an entry left behind by
    // a closed connection can never match a later one.
    std::vector<std::uint64_t> MutedMembers;
    std::uint16_t MemberLimit = 0;
    std::string Name;
    std::string Topic;
    std::uint64_t Owner = 0;  // connection identity; 0 = none
    std::vector<std::uint64_t> Operators;
    NamedList<TActUser*> Members;  // in join order, keyed by nickname

    bool IsOperator(const TActUser& user) const;
    bool IsOwner(const TActUser& user) const;
    bool IsMuted(const TActUser& user) const;
    bool IsMember(const TActUser& user) const;
    bool IsBanned(std::uint32_t address) const;
};

// Every room, system rooms first, in creation order. Owns the rooms.
NamedList<std::unique_ptr<TRoom>>& RoomList() REQUIRES(ServerLock);

// Creates a room with default settings at the end of RoomList. Throws
// std::runtime_error("The room already exists.") when the name is taken.
TRoom& CreateRoom(std::string name) REQUIRES(ServerLock);

// Adds `user` to `room` or refuses it (banned 7, full 3, closed 8; an
// invited join skips these checks), with every join message.
void Join(TRoom& room, TActUser& user, bool invited) REQUIRES(ServerLock);

// Removes `user` from `room`; announces it, or destroys an emptied user
// room. `room` may be gone when this returns.
void Leave(TRoom& room, TActUser& user) REQUIRES(ServerLock);

// Sends a room event to every member in join order.
void SendRoomEvent(TRoom& room, std::uint8_t code, std::uint8_t value, std::string_view data,
                   const TActUser* actor) REQUIRES(ServerLock);

std::string RoomInfoText(const TRoom& room) REQUIRES(ServerLock);

// 19/19 with the room information to every connection, unless hidden.
void BroadcastRoomInfo(TRoom& room) REQUIRES(ServerLock);

// 19/20 with the room name to every connection.
void SendRemovalNotice(const TRoom& room) REQUIRES(ServerLock);

// Builds the system rooms from the configuration.
void CreateSystemRooms() NO_THREAD_SAFETY_ANALYSIS;

// Number of leading permanent rooms in RoomList.
std::size_t SystemRoomCount() REQUIRES(ServerLock);

// Colour and topic of a system room entry's value ("RRGGBB,topic").
struct SystemRoomValue {
    std::string color;
    std::string topic;
};
SystemRoomValue ParseSystemRoomValue(std::string_view value);

}  // namespace nelv::rooms
