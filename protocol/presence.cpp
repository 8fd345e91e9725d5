// How a logged-in user is shown to the others: invisibility (command 9),
// away (command 13) and colour (command 18). None of them answers with an
// error; a request that does not apply is dropped.
#include "base/int_text.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"
#include "userdb/user_database.h"

namespace nelv::protocol {

void HandleInvisible(TActUser& user, std::uint8_t subCode, std::string_view /*payload*/) {
    if (!RequireLogin(user, 9)) return;
    switch (subCode) {
        case kToggle:
            user.Invisible = !user.Invisible;
            break;
        case kSwitchOn:
            if (user.Invisible) return;
            user.Invisible = true;
            break;
        case kSwitchOff:
            if (!user.Invisible) return;
            user.Invisible = false;
            break;
        default:
            break;  // any other sub-code re-announces the current state
    }
    if (user.Invisible) {
        SendToAll(BuildReply(11, 20, kOk, user.Nickname));
    } else {
        StatusBroadcast(user);
    }
    SendReply(user, 9, user.Invisible ? '1' : '0', kOk);
}

void HandleAway(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (!RequireLogin(user, 13)) return;
    const bool away = subCode != kSwitchOff;
    if (!away && !user.Away) return;

    user.Away = away;
    if (away) user.AwayText = payload;
    // A back event still carries the text that was in force until now.
    for (auto& entry : user.Rooms) {
        rooms::TRoom& room = *entry.value;
        rooms::SendRoomEvent(room, rooms::kAwayChanged, away ? '1' : '0',
                             TextAndStanding(user.AwayText, user, room), &user);
    }
    StatusBroadcast(user);
    if (!away) user.AwayText.clear();
}

void HandleColor(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    if (!RequireLogin(user, 18)) return;
    if (!IsColorText(payload)) return;

    user.Color = payload;
    // The record is written before anyone hears of the change.
    if (user.Account) {
        user.Account->SetColor(ColorTextToNumber(payload));
        userdb::RegisteredUsers().SaveUserRecord(*user.Account);
    }
    for (auto& entry : user.Rooms) {
        rooms::SendRoomEvent(*entry.value, rooms::kColorChanged, 0, {}, &user);
    }
    StatusBroadcast(user);
}

}  // namespace nelv::protocol
