// Room messages (command 3): a member's text goes to every member of the
// room as room event 1, the sender's own copy included. The sub-code is
// the kind of message and travels as the event's value byte; kind 13 is
// reserved for members with operator rights or better.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::protocol {
namespace {

constexpr std::uint8_t kOperatorMessage = 13;

}  // namespace

void HandleRoomMessage(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 3)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    rooms::TRoom** found = user.Rooms.Find(fields[0]);
    if (!found) return;
    rooms::TRoom& room = **found;

    // Muting binds every rank, owners and privileged users too.
    if (room.IsMuted(user)) {
        SendReply(user, 3, 0, kMuted, fields[0]);
        return;
    }
    if (subCode == kOperatorMessage && StatusChar(user, &room, false) == '0') {
        SendReply(user, 3, kOperatorMessage, kNotPermitted, fields[0]);
        return;
    }
    rooms::SendRoomEvent(room, rooms::kRoomMessage, subCode, fields[1], &user);
}

}  // namespace nelv::protocol
