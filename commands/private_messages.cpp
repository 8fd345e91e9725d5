// User-to-user commands: private message (24), text with the sender's
// address (2) and room invitation (1). Each finds its target among the
// online connections, warns the sender first when the target is away, and
// hands the content over as a delivery.
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"

namespace nelv::commands {

using namespace chat;

namespace {

// The addressee of a private message or a text: the target looked up
// (refused with "no such user"), and the sender told first when the target
// is away. Nothing when the request ends there.
TActUser* FindAddressee(ChatState& chat, TActUser& user, Command command, const std::vector<std::string>& fields)
    REQUIRES(ServerLock) {
    TActUser* target = FindOnlineUser(chat, fields[0]);
    if (!target) {
        SendReply(user, command, 0, kNoSuchUser, fields[0]);
        return nullptr;
    }
    AwayNotice(*target, command, user, {});
    return target;
}

}  // namespace

void HandlePrivateMessage(ChatState& chat, TActUser& user, const Request& request) {
    constexpr Command kCommand = Command::kPrivateMessage;
    const auto& fields = request.fields;
    TActUser* target = FindAddressee(chat, user, kCommand, fields);
    if (!target) return;
    // The echo repeats the name as the sender wrote it, with the sender's colour.
    SendReply(user, kCommand, 0, kOk, JoinFields({fields[0], user.Color, fields[1]}));
    Deliver(*target, kDeliverPrivate, fields[1], user);
}

void HandleTextWithAddress(ChatState& chat, TActUser& user, const Request& request) {
    const auto& fields = request.fields;
    TActUser* target = FindAddressee(chat, user, Command::kTextWithAddress, fields);
    if (!target) return;
    Deliver(*target, kDeliverWithAddress, JoinFields({user.PeerText(), fields[1]}), user);
}

void HandleInvitation(ChatState& chat, TActUser& user, const Request& request) {
    constexpr Command kCommand = Command::kInvitation;
    const auto& fields = request.fields;
    const std::string& roomName = fields[0];
    TActUser* target = FindOnlineUser(chat, fields[1]);
    if (!target) {
        SendReply(user, kCommand, 0, kNoSuchUser, JoinFields({roomName, fields[1]}));
        return;
    }
    TRoom* room = UsersRoom(user, roomName);
    if (!room) return;
    if (UsersRoom(*target, roomName)) return;
    if (!HasOperatorRights(RankOf(user, room, false))) {
        SendReply(user, kCommand, 0, kNotPermitted, roomName);
        return;
    }
    // Kept as written: only a join with exactly these bytes counts as invited.
    chat.Invite(*target, roomName);
    AwayNotice(*target, kCommand, user, roomName);
    SendReply(user, kCommand, 0, kOk, JoinFields({roomName, fields[1]}));
    Deliver(*target, kDeliverInvitation, roomName, user);
}

}  // namespace nelv::commands
