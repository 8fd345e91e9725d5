#include "chat/room.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "base/int_text.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"
#include "chat/message.h"

namespace nelv::chat {
namespace {

template <typename T>
bool Contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

template <typename T>
bool ApplySwitch(std::vector<T>& list, const T& value, std::uint8_t subCode) {
    const auto found = std::find(list.begin(), list.end(), value);
    const bool present = found != list.end();
    switch (subCode) {
        case kToggle:
            if (present) {
                list.erase(found);
            } else {
                list.push_back(value);
            }
            return true;
        case kSwitchOn:
            if (present) return false;
            list.push_back(value);
            return true;
        case kSwitchOff:
            if (!present) return false;
            list.erase(found);
            return true;
        default:
            return true;
    }
}

void DestroyRoom(ChatState& chat, TRoom& room) REQUIRES(ServerLock) {
    SendRemovalNotice(chat, room);
    auto& list = chat.RoomList;
    // From the end: a client that leaves many rooms of its own leaves the
    // latest first, so each is found at once.
    for (std::size_t i = list.size(); i-- > 0;) {
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

TActUser* TRoom::FindMember(std::string_view name) {
    TActUser** member = Members.Find(name);
    return member ? *member : nullptr;
}

bool TRoom::AddOperator(const TActUser& user) {
    if (IsOperator(user)) return false;
    Operators.push_back(user.Id());
    return true;
}

bool TRoom::RemoveOperator(const TActUser& user) { return std::erase(Operators, user.Id()) != 0; }

void TRoom::HandOver(const TActUser& user) {
    Owner = user.Id();
    AddOperator(user);
}

bool TRoom::SwitchMute(const TActUser& user, std::uint8_t subCode) {
    return ApplySwitch(MutedMembers, user.Id(), subCode);
}

bool TRoom::SwitchBan(std::uint32_t address, std::uint8_t subCode) {
    return ApplySwitch(BannedAddresses, address, subCode);
}

void TRoom::RenameMember(TActUser& user, const std::string& nickname) {
    if (auto i = Members.IndexOfValue(&user)) Members.Rename(*i, nickname);
}

TRoom& CreateRoom(ChatState& chat, std::string name) {
    if (chat.RoomList.IndexOf(name)) throw std::runtime_error("The room already exists.");
    auto room = std::make_unique<TRoom>(name);
    TRoom& result = *room;
    chat.RoomList.Append(std::move(name), std::move(room));
    return result;
}

void SendRoomEvent(TRoom& room, std::uint8_t code, std::uint8_t value, std::string_view data,
                   const TActUser* actor) {
    const net::SharedMessage event(RoomEvent(room, code, value, data, actor));
    for (auto& member : room.Members) member.value->SendShared(event);
}

void BroadcastRoomInfo(ChatState& chat, TRoom& room) {
    if (room.Hidden) return;
    SendToAll(chat, RoomInfoLine(room));
}

void SendRemovalNotice(ChatState& chat, const TRoom& room) { SendToAll(chat, RoomRemovalLine(room)); }

TRoom* UsersRoom(TActUser& user, std::string_view name) {
    TRoom** room = user.Rooms.Find(name);
    return room ? *room : nullptr;
}

void Join(ChatState& chat, TRoom& room, TActUser& user, bool invited) {
    if (room.IsMember(user)) return;
    if (!invited) {
        if (room.IsBanned(user.PeerAddress())) {
            SendReply(user, Command::kJoin, 0, kAddressRefused, room.Name);
            return;
        }
        if (room.MemberLimit > 0 && room.Members.size() >= room.MemberLimit) {
            SendReply(user, Command::kJoin, 0, kFull, room.Name);
            SendRoomEvent(room, kJoinRefused, 0, user.Nickname, nullptr);
            return;
        }
        if (room.Closed) {
            SendReply(user, Command::kJoin, 0, kRoomClosed, room.Name);
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

    SendReply(user, Command::kJoin, 0, kOk, JoinFields({room.Name, room.Color}));

    const net::SharedMessage joined(RoomEvent(room, kMemberJoined, 0, StatusText(user, &room), &user));
    const std::size_t count = room.Members.size();
    for (std::size_t i = 0; i < count; ++i) {
        TActUser* member = room.Members[i].value;
        if (member != &user) {
            user.SendText(RoomEvent(room, kMemberPresent, 0, StatusText(*member, &room), member));
        }
        member->SendShared(joined);
    }
    BroadcastRoomInfo(chat, room);
}

void Leave(ChatState& chat, TRoom& room, TActUser& user) {
    auto index = room.Members.IndexOfValue(&user);
    if (!index) return;
    room.Members.RemoveAt(*index);
    std::erase(room.Operators, user.Id());
    if (room.Owner == user.Id()) room.Owner = 0;
    if (auto mine = user.Rooms.IndexOfValue(&room)) user.Rooms.RemoveAt(*mine);

    if (!room.Members.empty() || room.Permanent) {
        SendRoomEvent(room, kMemberLeft, 0, {}, &user);
        BroadcastRoomInfo(chat, room);
    } else {
        DestroyRoom(chat, room);
    }
}

SystemRoomValue ParseSystemRoomValue(std::string_view value) {
    std::size_t comma = value.find(',');
    std::size_t colorLength = comma == std::string_view::npos ? value.size() : comma;
    SystemRoomValue result{"FFFFFF", {}};
    if (colorLength == kColorLength && IsColorText(value.substr(0, kColorLength))) {
        result.color = std::string(value.substr(0, kColorLength));
    }
    if (comma != std::string_view::npos) result.topic = std::string(value.substr(comma + 1));
    return result;
}

void CreateSystemRooms(ChatState& chat) {
    ServerLockGuard lock;
    chat.ListsChanged();
    for (const std::string& line : chat.Settings().SystemRoomLines) {
        std::size_t eq = line.find('=');
        std::string name = line.substr(0, eq);
        std::string_view value = eq == std::string::npos ? std::string_view{}
                                                         : std::string_view(line).substr(eq + 1);
        if (chat.RoomList.IndexOf(name)) continue;  // one room per name
        TRoom& room = CreateRoom(chat, name);
        auto parsed = ParseSystemRoomValue(value);
        room.Color = parsed.color;
        room.Topic = parsed.topic;
        room.Permanent = true;
    }
}

std::size_t SystemRoomCount(ChatState& chat) {
    std::size_t count = 0;
    for (auto& entry : chat.RoomList) {
        if (!entry.value->Permanent) break;
        ++count;
    }
    return count;
}

}  // namespace nelv::chat
