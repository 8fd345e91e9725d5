// Room commands: join (0), settings (4), information (6), leave (17).
#include "base/int_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"

namespace nelv::commands {

using namespace chat;

namespace {

namespace set = protocol::settings;

// Members with operator rights may change a user room; nobody a system room.
bool MayEdit(const TActUser& user, const TRoom& room) REQUIRES(ServerLock) {
    return !room.Permanent && HasOperatorRights(RankOf(user, &room, false));
}

}  // namespace

void HandleJoin(ChatState& chat, TActUser& user, const Request& request) {
    const std::string name = request.fields[0].empty() ? user.InvitedRoom : request.fields[0];
    if (name.empty()) return;

    TRoom* room = nullptr;
    if (auto found = chat.RoomList.Find(name)) {
        room = found->get();
    } else {
        const std::int32_t limit = chat.Settings().MaxUserRooms;
        const std::size_t userRooms = chat.RoomList.size() - SystemRoomCount(chat);
        if (limit >= 0 && userRooms >= static_cast<std::size_t>(limit)) {
            SendReply(user, Command::kJoin, 0, kTooManyRooms);
            return;
        }
        room = &CreateRoom(chat, name);
    }
    const bool invited = name == user.InvitedRoom;
    Join(chat, *room, user, invited);
    if (invited) chat.ForgetInvitation(user);
}

void HandleSettings(ChatState& chat, TActUser& user, const Request& request) {
    const std::uint8_t subCode = request.subCode;
    constexpr Command kCommand = Command::kRoomSettings;
    const auto& fields = request.fields;
    TRoom* room = UsersRoom(user, fields[0]);
    if (!room) return;
    if (!MayEdit(user, *room)) {
        SendReply(user, kCommand, 0, kNotPermitted, fields[0]);
        return;
    }
    if (subCode & set::kTopic) room->Topic = fields[1];
    if ((subCode & set::kColor) && IsColorText(fields[2])) room->Color = fields[2];
    if (subCode & set::kLimit) room->MemberLimit = static_cast<std::uint16_t>(IntTextOr(fields[3], 0));
    if (subCode & set::kClosed) room->Closed = ParseFlag(fields[4], room->Closed ? 0 : 1) == 1;
    if (subCode & set::kHidden) {
        room->Hidden = ParseFlag(fields[5], room->Hidden ? 0 : 1) == 1;
        if (room->Hidden) SendRemovalNotice(chat, *room);
    }
    SendRoomEvent(*room, kSettingsChanged, subCode, RoomInfoText(*room), &user);
    BroadcastRoomInfo(chat, *room);
}

void HandleRoomInfo(ChatState& /*chat*/, TActUser& user, const Request& request) {
    TRoom* room = UsersRoom(user, request.fields[0]);
    if (!room) return;
    SendReply(user, Command::kRoomInfo, FlagChar(MayEdit(user, *room)), kOk, RoomInfoText(*room));
}

void HandleLeave(ChatState& chat, TActUser& user, const Request& request) {
    TRoom* room = UsersRoom(user, request.fields[0]);
    if (!room) return;
    Leave(chat, *room, user);
}

}  // namespace nelv::commands
