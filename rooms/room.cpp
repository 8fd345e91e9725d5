#include "rooms/room.h"

#include <algorithm>
#include <stdexcept>

#include "base/int_text.h"
#include "base/server_config.h"
#include "protocol/chat_connection.h"
#include "protocol/message.h"

namespace nelv::rooms {

using protocol::BuildReply;
using protocol::kOk;
using protocol::SendReply;
using protocol::StatusChar;

namespace {

template <typename T>
bool Contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Room event bytes: 14/code, status 0, value, name, actor, colour, data.
std::string BuildRoomEvent(const TRoom& room, std::uint8_t code, std::uint8_t value,
                           std::string_view data, const TActUser* actor) REQUIRES(ServerLock) {
    std::string payload(1, static_cast<char>(value));
    payload += protocol::JoinFields({room.Name, actor ? std::string_view(actor->Nickname) : "",
                                     actor ? std::string_view(actor->Color) : "", data});
    return BuildReply(14, code, kOk, payload);
}

void DestroyRoom(TRoom& room) REQUIRES(ServerLock) {
    SendRemovalNotice(room);
    auto& list = RoomList();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].value.get() == &room) {
            list.RemoveAt(i);
            return;
        }
    }
}

}  // namespace

TRoom::TRoom(std::string name) : Name(std::move(name)) {}

bool TRoom::IsOperator(const TActUser& user) const { return Contains(Operators, user.Id()); }
bool TRoom::IsOwner(const TActUser& user) const { return Owner != 0 && Owner == user.Id(); }
bool TRoom::IsMuted(const TActUser& user) const { return Contains(MutedMembers, user.Id()); }
bool TRoom::IsBanned(std::uint32_t address) const { return Contains(BannedAddresses, address); }
bool TRoom::IsMember(const TActUser& user) const {
    return Members.IndexOfValue(const_cast<TActUser*>(&user)).has_value();
}

NamedList<std::unique_ptr<TRoom>>& RoomList() {
    static auto* list = new NamedList<std::unique_ptr<TRoom>>();  // never destroyed, like the user list
    return *list;
}

TRoom& CreateRoom(std::string name) {
    if (RoomList().IndexOf(name)) throw std::runtime_error("The room already exists.");
    auto room = std::make_unique<TRoom>(name);
    TRoom& result = *room;
    RoomList().Append(std::move(name), std::move(room));
    return result;
}

void SendRoomEvent(TRoom& room, std::uint8_t code, std::uint8_t value, std::string_view data,
                   const TActUser* actor) {
    const std::string event = BuildRoomEvent(room, code, value, data, actor);
    for (auto& member : room.Members) member.value->SendText(event);
}

std::string RoomInfoText(const TRoom& room) {
    return protocol::JoinFields({room.Name, room.Topic, room.Color,
                                 IntToText(static_cast<std::int64_t>(room.Members.size())),
                                 IntToText(room.MemberLimit), protocol::FlagText(room.Permanent),
                                 protocol::FlagText(room.Closed), protocol::FlagText(room.Hidden)});
}

void BroadcastRoomInfo(TRoom& room) {
    if (room.Hidden) return;
    protocol::SendToAll(BuildReply(19, 19, kOk, RoomInfoText(room)));
}

void SendRemovalNotice(const TRoom& room) {
    protocol::SendToAll(BuildReply(19, 20, kOk, room.Name));
}

void Join(TRoom& room, TActUser& user, bool invited) {
    if (room.IsMember(user)) return;
    if (!invited) {
        if (room.IsBanned(user.PeerAddress())) {
            SendReply(user, 0, 0, protocol::kAddressRefused, room.Name);
            return;
        }
        if (room.MemberLimit > 0 && room.Members.size() >= room.MemberLimit) {
            SendReply(user, 0, 0, protocol::kFull, room.Name);
            SendRoomEvent(room, kJoinRefused, 0, user.Nickname, nullptr);
            return;
        }
        if (room.Closed) {
            SendReply(user, 0, 0, protocol::kRoomClosed, room.Name);
            SendRoomEvent(room, kJoinRefused, 0, user.Nickname, nullptr);
            return;
        }
    }
    room.Members.Append(user.Nickname, &user);
    if (room.Members.size() == 1 && !room.Permanent) {
        room.Owner = user.Id();
        room.Operators.push_back(user.Id());
    }
    user.Rooms.Append(room.Name, &room);

    SendReply(user, 0, 0, kOk, protocol::JoinFields({room.Name, room.Color}));

    const std::string joined =
        BuildRoomEvent(room, kMemberJoined, 0, std::string(1, StatusChar(user, &room, true)), &user);
    const std::size_t count = room.Members.size();
    for (std::size_t i = 0; i < count; ++i) {
        TActUser* member = room.Members[i].value;
        if (member != &user) {
            user.SendText(BuildRoomEvent(room, kMemberPresent, 0,
                                         std::string(1, StatusChar(*member, &room, true)), member));
        }
        member->SendText(joined);
    }
    BroadcastRoomInfo(room);
}

void Leave(TRoom& room, TActUser& user) {
    auto index = room.Members.IndexOfValue(&user);
    if (!index) return;
    room.Members.RemoveAt(*index);
    std::erase(room.Operators, user.Id());
    if (room.Owner == user.Id()) room.Owner = 0;
    if (auto mine = user.Rooms.IndexOfValue(&room)) user.Rooms.RemoveAt(*mine);

    if (!room.Members.empty() || room.Permanent) {
        SendRoomEvent(room, kMemberLeft, 0, {}, &user);
        BroadcastRoomInfo(room);
    } else {
        DestroyRoom(room);
    }
}

SystemRoomValue ParseSystemRoomValue(std::string_view value) {
    std::size_t comma = value.find(',');
    std::size_t colorLength = comma == std::string_view::npos ? value.size() : comma;
    SystemRoomValue result{"FFFFFF", {}};
    if (colorLength == 6 && IsColorText(value.substr(0, 6))) result.color = std::string(value.substr(0, 6));
    if (comma != std::string_view::npos) result.topic = std::string(value.substr(comma + 1));
    return result;
}

void CreateSystemRooms() {
    for (const std::string& line : Config().SystemRoomLines) {
        std::size_t eq = line.find('=');
        std::string name = line.substr(0, eq);
        std::string_view value = eq == std::string::npos ? std::string_view{}
                                                         : std::string_view(line).substr(eq + 1);
        if (RoomList().IndexOf(name)) continue;  // one room per name
        TRoom& room = CreateRoom(name);
        auto parsed = ParseSystemRoomValue(value);
        room.Color = parsed.color;
        room.Topic = parsed.topic;
        room.Permanent = true;
    }
}

std::size_t SystemRoomCount() {
    std::size_t count = 0;
    for (auto& entry : RoomList()) {
        if (!entry.value->Permanent) break;
        ++count;
    }
    return count;
}

}  // namespace nelv::rooms
