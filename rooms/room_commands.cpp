// Room commands: join (0), settings (4), information (6), leave (17).
#include "rooms/room_commands.h"

#include "base/int_text.h"
#include "base/server_config.h"
#include "protocol/chat_connection.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::rooms {

using protocol::kFieldSeparator;
using protocol::kOk;
using protocol::RequireLogin;
using protocol::SendReply;

namespace {

// The room named `name` among the user's rooms, or nullptr.
TRoom* RoomOfUser(TActUser& user, std::string_view name) REQUIRES(ServerLock) {
    TRoom** room = user.Rooms.Find(name);
    return room ? *room : nullptr;
}

// Settings bits of command 4, applied in this order.
constexpr std::uint8_t kSetTopic = 0x08;
constexpr std::uint8_t kSetColor = 0x10;
constexpr std::uint8_t kSetLimit = 0x20;
constexpr std::uint8_t kSetClosed = 0x80;
constexpr std::uint8_t kSetHidden = 0x40;

}  // namespace

void HandleJoin(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    const std::string name = payload.empty() ? user.InvitedRoom : std::string(payload);
    if (!RequireLogin(user, 0)) return;
    if (name.empty()) return;

    TRoom* room = nullptr;
    if (auto found = RoomList().Find(name)) {
        room = found->get();
    } else {
        const std::int32_t limit = Config().MaxUserRooms;
        const std::size_t userRooms = RoomList().size() - SystemRoomCount();
        if (limit >= 0 && userRooms >= static_cast<std::size_t>(limit)) {
            SendReply(user, 0, 0, protocol::kTooManyRooms);
            return;
        }
        room = &CreateRoom(name);
    }
    const bool invited = name == user.InvitedRoom;
    Join(*room, user, invited);
    if (invited) user.InvitedRoom.clear();
}

void HandleSettings(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 4)) return;
    const auto fields = protocol::SplitFields(payload, kFieldSeparator, 6, 6);
    TRoom* room = RoomOfUser(user, fields[0]);
    if (!room) return;
    if (room->Permanent || protocol::StatusChar(user, room, false) == '0') {
        SendReply(user, 4, 0, protocol::kNotPermitted, fields[0]);
        return;
    }
    if (subCode & kSetTopic) room->Topic = fields[1];
    if ((subCode & kSetColor) && IsColorText(fields[2])) room->Color = fields[2];
    if (subCode & kSetLimit) room->MemberLimit = static_cast<std::uint16_t>(IntTextOr(fields[3], 0));
    if (subCode & kSetClosed) room->Closed = protocol::ParseFlag(fields[4], room->Closed ? 0 : 1) == 1;
    if (subCode & kSetHidden) {
        room->Hidden = protocol::ParseFlag(fields[5], room->Hidden ? 0 : 1) == 1;
        if (room->Hidden) SendRemovalNotice(*room);
    }
    SendRoomEvent(*room, kSettingsChanged, subCode, RoomInfoText(*room), &user);
    BroadcastRoomInfo(*room);
}

void HandleRoomInfo(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 6)) return;
    TRoom* room = RoomOfUser(user, payload);
    if (!room) return;
    const bool mayEdit = !room->Permanent && protocol::StatusChar(user, room, false) != '0';
    SendReply(user, 6, mayEdit ? '1' : '0', kOk, RoomInfoText(*room));
}

void HandleLeave(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 17)) return;
    TRoom* room = RoomOfUser(user, payload);
    if (!room) return;
    Leave(*room, user);
}

}  // namespace nelv::rooms
