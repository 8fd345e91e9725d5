// User-to-user commands: private message (24), text with the sender's
// address (2) and room invitation (1). Each finds its target among the
// online connections, warns the sender first when the target is away, and
// hands the content over as a command-5 delivery.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::protocol {
namespace {

// Delivery sub-codes as the target's client tells them apart.
constexpr std::uint8_t kDeliverPrivate = 0;
constexpr std::uint8_t kDeliverInvitation = 1;
constexpr std::uint8_t kDeliverWithAddress = 3;


}  // namespace

void HandlePrivateMessage(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 24)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    TActUser* target = FindOnlineUser(fields[0]);
    if (!target) {
        SendReply(user, 24, 0, kNoSuchUser, fields[0]);
        return;
    }
    AwayNotice(*target, 24, user, {});
    // The echo repeats the name as the sender wrote it, with the sender's colour.
    SendReply(user, 24, 0, kOk, JoinFields({fields[0], user.Color, fields[1]}));
    Deliver(*target, kDeliverPrivate, fields[1], user);
}

void HandleTextWithAddress(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 2)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    TActUser* target = FindOnlineUser(fields[0]);
    if (!target) {
        SendReply(user, 2, 0, kNoSuchUser, fields[0]);
        return;
    }
    AwayNotice(*target, 2, user, {});
    Deliver(*target, kDeliverWithAddress, JoinFields({user.PeerText(), fields[1]}), user);
}

void HandleInvitation(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 1)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    const std::string& roomName = fields[0];
    TActUser* target = FindOnlineUser(fields[1]);
    if (!target) {
        SendReply(user, 1, 0, kNoSuchUser, JoinFields({roomName, fields[1]}));
        return;
    }
    rooms::TRoom** room = user.Rooms.Find(roomName);
    if (!room) return;
    if (target->Rooms.Find(roomName)) return;
    if (StatusChar(user, *room, false) == '0') {
        SendReply(user, 1, 0, kNotPermitted, roomName);
        return;
    }
    // Kept as written: only a join with exactly these bytes counts as invited.
    target->InvitedRoom = roomName;
    AwayNotice(*target, 1, user, roomName);
    SendReply(user, 1, 0, kOk, JoinFields({roomName, fields[1]}));
    Deliver(*target, kDeliverInvitation, roomName, user);
}

}  // namespace nelv::protocol
