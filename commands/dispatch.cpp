// The command dispatch: one line per command byte.
#include "commands/dispatch.h"

#include "commands/commands.h"

namespace nelv::commands {

void HandleMessage(ChatState& chat, TActUser& user, std::string_view message) {
    if (message.size() < 2) return;
    const auto command = static_cast<chat::Command>(message[0]);
    const auto subCode = static_cast<std::uint8_t>(message[1]);
    const std::string_view payload = message.substr(2);
    user.LastActivity = chat.Now();

    using C = chat::Command;
    switch (command) {
        case C::kJoin:             HandleJoin(chat, user, subCode, payload); break;
        case C::kInvitation:       HandleInvitation(chat, user, subCode, payload); break;
        case C::kTextWithAddress:  HandleTextWithAddress(chat, user, subCode, payload); break;
        case C::kRoomMessage:      HandleRoomMessage(chat, user, subCode, payload); break;
        case C::kRoomSettings:     HandleSettings(chat, user, subCode, payload); break;
        case C::kRoomInfo:         HandleRoomInfo(chat, user, subCode, payload); break;
        case C::kAccount:          HandleAccount(chat, user, subCode, payload); break;
        case C::kServerInfo:       HandleServerInfo(chat, user, subCode, payload); break;
        case C::kInvisible:        HandleInvisible(chat, user, subCode, payload); break;
        case C::kStanding:         HandleStanding(chat, user, subCode, payload); break;
        case C::kAway:             HandleAway(chat, user, subCode, payload); break;
        case C::kRoomKick:         HandleRoomKick(chat, user, subCode, payload); break;
        case C::kLeave:            HandleLeave(chat, user, subCode, payload); break;
        case C::kColor:            HandleColor(chat, user, subCode, payload); break;
        case C::kMute:             HandleMute(chat, user, subCode, payload); break;
        case C::kAddressBan:       HandleAddressBan(chat, user, subCode, payload); break;
        case C::kServerKick:       HandleServerKick(chat, user, subCode, payload); break;
        case C::kUserLookup:       HandleUserLookup(chat, user, subCode, payload); break;
        case C::kPrivateMessage:   HandlePrivateMessage(chat, user, subCode, payload); break;
        case C::kLogin:            HandleLogin(chat, user, subCode, payload); break;
        default: break;  // the server's own message kinds and unknown values are ignored
    }
}

}  // namespace nelv::commands
