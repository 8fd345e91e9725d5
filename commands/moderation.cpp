// Room moderation: operator rights and ownership (12), kick (16), mute (20)
// and address bans (21). Each request names a room and a target; rights are
// the sender's rank in that room, away left out.
#include <optional>
#include <string>
#include <vector>

#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"

namespace nelv::commands {

using namespace chat;

namespace {

Rank RankIn(const TActUser& user, const TRoom& room) REQUIRES(ServerLock) {
    return RankOf(user, &room, false);
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
std::optional<RoomTarget> FindRoomTarget(TActUser& user, Command command, const std::vector<std::string>& fields)
    REQUIRES(ServerLock) {
    RoomTarget request;
    request.fields = fields;
    request.room = UsersRoom(user, request.fields[0]);
    if (!request.room) return std::nullopt;
    request.target = request.room->FindMember(request.fields[1]);
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

using namespace protocol::standing;

}  // namespace

void HandleStanding(ChatState& /*chat*/, TActUser& user, const Request& incoming) {
    const std::uint8_t subCode = incoming.subCode;
    constexpr Command kCommand = Command::kStanding;
    auto request = FindRoomTarget(user, kCommand, incoming.fields);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom& room = *request->room;
    TActUser& target = *request->target;

    std::uint8_t value = subCode;
    switch (subCode) {
        case kRevokeOperator:
            // Owner rights are needed, and owners and privileged users keep theirs.
            if (!HasOwnerRights(RankIn(user, room)) || HasOwnerRights(RankIn(target, room))) {
                SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
                return;
            }
            if (!room.RemoveOperator(target)) return;
            value = kOperatorRevoked;
            break;
        case kGrantOperator:
            if (!HasOperatorRights(RankIn(user, room))) {
                SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
                return;
            }
            room.AddOperator(target);
            value = kOperatorGranted;
            break;
        case kHandOver:
            // Ownership passes only from the owner; privilege does not stand in for it.
            if (!room.IsOwner(user)) {
                SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
                return;
            }
            room.HandOver(target);
            // The former owner keeps its operator entry, so it now shows as an operator.
            SendRoomEvent(room, kStatusChanged, kOwnershipGivenUp, StandingText(user, room), nullptr);
            value = kOwnershipReceived;
            break;
        default:
            break;  // announced with the sub-code as value, nothing changes
    }
    SendRoomEvent(room, kStatusChanged, value, StandingText(target, room), &user);
}

void HandleRoomKick(ChatState& chat, TActUser& user, const Request& incoming) {
    constexpr Command kCommand = Command::kRoomKick;
    auto request = FindRoomTarget(user, kCommand, incoming.fields);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom& room = *request->room;
    TActUser& target = *request->target;
    if (!HasOperatorRights(RankIn(user, room)) || room.IsOwner(target)) {
        SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
        return;
    }
    SendRoomEvent(room, kMemberKicked, 0, fields[1], &user);
    // The room is destroyed here when the target was its last member (a
    // kicker that kicks itself), so it is not touched afterwards.
    Leave(chat, room, target);
    Deliver(target, kDeliverKicked, fields[0], user);
}

void HandleMute(ChatState& chat, TActUser& user, const Request& incoming) {
    const std::uint8_t subCode = incoming.subCode;
    constexpr Command kCommand = Command::kMute;
    auto request = FindRoomTarget(user, kCommand, incoming.fields);
    if (!request) return;
    const auto& fields = request->fields;
    TRoom& room = *request->room;
    TActUser& target = *request->target;
    // Operators may mute others but neither the owner nor themselves; the
    // owner may mute anyone, itself included.
    const bool allowed =
        (HasOperatorRights(RankIn(user, room)) && !room.IsOwner(target) && &target != &user) ||
        room.IsOwner(user);
    if (!allowed) {
        SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
        return;
    }
    room.KeepMutesOf(chat.ConnectionIds);
    if (!room.SwitchMute(target, subCode)) return;
    SendRoomEvent(room, kMuteChanged, FlagChar(room.IsMuted(target)), target.Nickname, &user);
}

void HandleAddressBan(ChatState& chat, TActUser& user, const Request& request) {
    const std::uint8_t subCode = request.subCode;
    constexpr Command kCommand = Command::kAddressBan;
    const auto& fields = request.fields;
    // The target need not be in the room: any online user's address can be barred.
    TActUser* target = FindOnlineUser(chat, fields[1]);
    if (!target) {
        SendReply(user, kCommand, 0, kNoSuchUser, NoSuchUserPayload(fields));
        return;
    }
    TRoom* room = UsersRoom(user, fields[0]);
    if (!room) return;
    if (!HasOperatorRights(RankIn(user, *room))) {
        SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
        return;
    }
    const std::uint32_t address = target->PeerAddress();
    if (!room->SwitchBan(address, subCode)) return;
    SendRoomEvent(*room, kBanChanged, FlagChar(room->IsBanned(address)), target->Nickname, &user);
}

}  // namespace nelv::commands
