// How a logged-in user is shown to the others: invisibility (command 9),
// away (command 13) and colour (command 18). None of them answers with an
// error; a request that does not apply is dropped.
#include "base/int_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"
#include "userdb/user_database.h"

namespace nelv::commands {

using namespace chat;

void HandleInvisible(ChatState& chat, TActUser& user, const Request& request) {
    switch (request.subCode) {
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
        SendToAll(chat, UserGoneLine(user.Nickname));
    } else {
        StatusBroadcast(chat, user);
    }
    SendReply(user, Command::kInvisible, FlagChar(user.Invisible), kOk);
}

void HandleAway(ChatState& chat, TActUser& user, const Request& request) {
    const bool away = request.subCode != kSwitchOff;
    if (!away && !user.Away) return;

    user.Away = away;
    if (away) user.AwayText = request.fields[0];
    // A back event still carries the text that was in force until now.
    for (auto& entry : user.Rooms) {
        TRoom& room = *entry.value;
        SendRoomEvent(room, kAwayChanged, FlagChar(away), TextAndStanding(user.AwayText, user, room),
                      &user);
    }
    StatusBroadcast(chat, user);
    if (!away) user.AwayText.clear();
}

void HandleColor(ChatState& chat, TActUser& user, const Request& request) {
    const std::string& color = request.fields[0];
    if (!IsColorText(color)) return;

    user.Color = color;
    // The record is written before anyone hears of the change.
    if (user.Account) {
        user.Account->SetColor(ColorTextToNumber(color));
        chat.RegisteredUsers.SaveUserRecord(*user.Account);
    }
    for (auto& entry : user.Rooms) SendRoomEvent(*entry.value, kColorChanged, 0, {}, &user);
    StatusBroadcast(chat, user);
}

}  // namespace nelv::commands
