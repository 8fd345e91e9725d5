// Room moderation: operator rights and ownership (12), kick (16), mute (20)
// and address bans (21). Each request names a room and a target; rights are
// the sender's rank in that room as StatusChar reports it without away.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::protocol {

namespace {

using rooms::TRoom;

// The room named `name` among the sender's rooms, or nullptr.
TRoom* SendersRoom(TActUser& user, std::string_view name) REQUIRES(ServerLock) {
    TRoom** room = user.Rooms.Find(name);
    return room ? *room : nullptr;
}

// The member of `room` named `name`, or nullptr.
TActUser* RoomMember(TRoom& room, std::string_view name) REQUIRES(ServerLock) {
    TActUser** member = room.Members.Find(name);
    return member ? *member : nullptr;
}

char Rank(const TActUser& user, const TRoom& room) REQUIRES(ServerLock) {
    return StatusChar(user, &room, false);
}

// Room name, separator, target as written: the payload of "no such user".
std::string NoSuchUserPayload(const std::vector<std::string>& fields) {
    return JoinFields({fields[0], fields[1]});
}

// What a request that names a room and one of its members refers to.
struct RoomTarget {
    std::vector<std::string> fields;  // room name, member name as written
    TRoom* room = nullptr;
    TActUser* target = nullptr;
};

// Reads the room and member of a request. Nothing when the sender is not in
// that room (ignored) or the member is not (answered with "no such user").
std::optional<RoomTarget> FindRoomTarget(TActUser& user, std::uint8_t command,
                                         std::string_view payload) REQUIRES(ServerLock) {
    RoomTarget request;
    request.fields = SplitFields(payload, kFieldSeparator, 2, 2);
    request.room = SendersRoom(user, request.fields[0]);
    if (!request.room) return std::nullopt;
    request.target = RoomMember(*request.room, request.fields[1]);
    if (!request.target) {
        SendReply(user, command, 0, kNoSuchUser, NoSuchUserPayload(request.fields));
        return std::nullopt;
    }
    return request;
}

// Nickname, separator, standing in the room with away shown.
std::string StandingText(const TActUser& user, const TRoom& room) REQUIRES(ServerLock) {
    return TextAndStanding(user.Nickname, user, room);
}

// Applies a toggle/on/off switch to membership of `value` in `list`.
// Returns false when an explicit on or off would change nothing: such a
// request ends without an event. Unknown sub-codes change nothing but are
// still announced.
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

constexpr std::uint8_t kRevokeOperator = '0';
constexpr std::uint8_t kGrantOperator = '1';
constexpr std::uint8_t kHandOver = '2';

// Value bytes of the standing event.
constexpr std::uint8_t kOperatorGranted = 7;
constexpr std::uint8_t kOperatorRevoked = 8;
constexpr std::uint8_t kOwnershipReceived = 9;
constexpr std::uint8_t kOwnershipGivenUp = 10;

}  // namespace

void HandleStanding(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 12)) return;
    auto request = FindRoomTarget(user, 12, payload);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom* room = request->room;
    TActUser* target = request->target;

    std::uint8_t value = subCode;
    switch (subCode) {
        case kRevokeOperator: {
            const char rank = Rank(user, *room);
            const char targetRank = Rank(*target, *room);
            if ((rank != '2' && rank != '3') || (targetRank != '0' && targetRank != '1')) {
                SendReply(user, 12, 0, kNotPermitted, fields[0]);
                return;
            }
            if (std::erase(room->Operators, target->Id()) == 0) return;
            value = kOperatorRevoked;
            break;
        }
        case kGrantOperator:
            if (Rank(user, *room) == '0') {
                SendReply(user, 12, 0, kNotPermitted, fields[0]);
                return;
            }
            if (!room->IsOperator(*target)) room->Operators.push_back(target->Id());
            value = kOperatorGranted;
            break;
        case kHandOver:
            // Ownership passes only from the owner; privilege does not stand in for it.
            if (!room->IsOwner(user)) {
                SendReply(user, 12, 0, kNotPermitted, fields[0]);
                return;
            }
            room->Owner = target->Id();
            if (!room->IsOperator(*target)) room->Operators.push_back(target->Id());
            // The former owner keeps its operator entry, so it now shows as an operator.
            rooms::SendRoomEvent(*room, rooms::kStatusChanged, kOwnershipGivenUp,
                                 StandingText(user, *room), nullptr);
            value = kOwnershipReceived;
            break;
        default:
            break;  // announced with the sub-code as value, nothing changes
    }
    rooms::SendRoomEvent(*room, rooms::kStatusChanged, value, StandingText(*target, *room), &user);
}

void HandleRoomKick(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 16)) return;
    auto request = FindRoomTarget(user, 16, payload);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom* room = request->room;
    TActUser* target = request->target;
    if (Rank(user, *room) == '0' || room->IsOwner(*target)) {
        SendReply(user, 16, 0, kNotPermitted, fields[0]);
        return;
    }
    rooms::SendRoomEvent(*room, rooms::kMemberKicked, 0, fields[1], &user);
    // The room is destroyed here when the target was its last member (a
    // kicker that kicks itself), so it is not touched afterwards.
    rooms::Leave(*room, *target);
    Deliver(*target, 2, fields[0], user);
}

void HandleMute(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 20)) return;
    auto request = FindRoomTarget(user, 20, payload);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom* room = request->room;
    TActUser* target = request->target;
    // Operators may mute others but neither the owner nor themselves; the
    // owner may mute anyone, itself included.
    const bool allowed =
        (Rank(user, *room) != '0' && !room->IsOwner(*target) && target != &user) ||
        room->IsOwner(user);
    if (!allowed) {
        SendReply(user, 20, 0, kNotPermitted, fields[0]);
        return;
    }
    if (!ApplySwitch(room->MutedMembers, target->Id(), subCode)) return;
    rooms::SendRoomEvent(*room, rooms::kMuteChanged, room->IsMuted(*target) ? '1' : '0',
                         target->Nickname, &user);
}

void HandleAddressBan(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 21)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    // The target need not be in the room: any online user's address can be barred.
    TActUser* target = FindOnlineUser(fields[1]);
    if (!target) {
        SendReply(user, 21, 0, kNoSuchUser, NoSuchUserPayload(fields));
        return;
    }
    TRoom* room = SendersRoom(user, fields[0]);
    if (!room) return;
    if (Rank(user, *room) == '0') {
        SendReply(user, 21, 0, kNotPermitted, fields[0]);
        return;
    }
    const std::uint32_t address = target->PeerAddress();
    if (!ApplySwitch(room->BannedAddresses, address, subCode)) return;
    rooms::SendRoomEvent(*room, rooms::kBanChanged, room->IsBanned(address) ? '1' : '0',
                         target->Nickname, &user);
}

}  // namespace nelv::protocol
