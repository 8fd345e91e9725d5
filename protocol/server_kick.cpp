// Server kick (22): a privileged user throws another user off the server,
// optionally barring its address for a number of minutes.
#include "base/clock.h"
#include "base/int_text.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"
#include "userdb/user_record.h"

namespace nelv::protocol {

void HandleServerKick(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 22)) return;
    // Refused before the payload is looked at, so the answer reveals nothing
    // about who is online.
    if (!user.Account || !user.Account->Privileged()) {
        SendReply(user, 22, 0, kNotPermitted);
        return;
    }
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 1);
    TActUser* target = FindOnlineUser(fields[0]);
    if (!target) {
        SendReply(user, 22, 0, kNoSuchUser, fields[0]);
        return;
    }

    if (fields.size() == 2) {
        // An invalid or non-positive length leaves an entry that has already
        // expired; the next connect from the address clears it.
        const std::int32_t minutes = IntTextOr(fields[1], 0);
        BanList().push_back({DateTimeToText(Now() + minutes * kMinute), target->PeerAddress()});
    }
    // The target is still a member of its rooms here, so it hears these too.
    for (auto& entry : target->Rooms) {
        rooms::SendRoomEvent(*entry.value, rooms::kRemovedFromServer, 0, target->Nickname, &user);
    }
    SendReply(*target, 15, 0, kKicked, user.Nickname);
    SendReply(user, 22, 0, kOk, target->Nickname);
    // Leaving the rooms and the online list happens on the target's own
    // thread once it notices the close, after this handler has returned.
    target->Disconnect();
}

}  // namespace nelv::protocol
