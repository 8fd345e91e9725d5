// Room messages (command 3): a member's text goes to every member of the
// room as a room event, the sender's own copy included. The sub-code is
// the kind of message and travels as the event's value byte; kind 13 is
// reserved for members with operator rights or better.
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"

namespace nelv::commands {

using namespace chat;


void HandleRoomMessage(ChatState& /*chat*/, TActUser& user, const Request& request) {
    const std::uint8_t subCode = request.subCode;
    constexpr Command kCommand = Command::kRoomMessage;
    const auto& fields = request.fields;
    TRoom* room = UsersRoom(user, fields[0]);
    if (!room) return;

    // Muting binds every rank, owners and privileged users too.
    if (room->IsMuted(user)) {
        SendReply(user, kCommand, 0, kMuted, fields[0]);
        return;
    }
    if (subCode == kOperatorMessage && !HasOperatorRights(RankOf(user, room, false))) {
        SendReply(user, kCommand, kOperatorMessage, kNotPermitted, fields[0]);
        return;
    }
    SendRoomEvent(*room, kRoomMessage, subCode, fields[1], &user);
}

}  // namespace nelv::commands
