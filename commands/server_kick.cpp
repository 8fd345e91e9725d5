// Server kick (22): a privileged user throws another user off the server,
// optionally barring its address for a number of minutes.
#include "base/clock.h"
#include "base/int_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"
#include "userdb/user_record.h"

namespace nelv::commands {

using namespace chat;

void HandleServerKick(ChatState& chat, TActUser& user, const Request& request) {
    constexpr Command kCommand = Command::kServerKick;
    // Refused before the payload is looked at, so the answer reveals nothing
    // about who is online.
    if (!user.Account || !user.Account->Privileged()) {
        SendReply(user, kCommand, 0, kNotPermitted);
        return;
    }
    const auto& fields = request.fields;
    TActUser* target = FindOnlineUser(chat, fields[0]);
    if (!target) {
        SendReply(user, kCommand, 0, kNoSuchUser, fields[0]);
        return;
    }

    if (fields.size() == 2) {
        // An invalid or non-positive length leaves an entry that has already
        // expired; the next connect from the address clears it.
        const std::int32_t minutes = IntTextOr(fields[1], 0);
        chat.AddBan(target->PeerAddress(), DateTimeToText(chat.Now() + minutes * kMinute));
    }
    // The target is still a member of its rooms here, so it hears these too.
    for (auto& entry : target->Rooms) {
        SendRoomEvent(*entry.value, kRemovedFromServer, 0, target->Nickname, &user);
    }
    target->SendText(ClosingNotice(kKicked, user.Nickname));
    SendReply(user, kCommand, 0, kOk, target->Nickname);
    // Leaving the rooms and the online list happens once the target's
    // connection notices the close, after this handler has returned.
    target->Disconnect();
}

}  // namespace nelv::commands
