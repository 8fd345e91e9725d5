// The command dispatch: one line per command byte.
#include "base/clock.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "rooms/room_commands.h"

namespace nelv::protocol {

void TActUser::HandleMessage(std::string_view message) {
    if (message.size() < 2) return;
    const auto command = static_cast<std::uint8_t>(message[0]);
    const auto subCode = static_cast<std::uint8_t>(message[1]);
    const std::string_view payload = message.substr(2);
    LastActivity = Now();

    TActUser& user = *this;
    switch (command) {
        case 0:  rooms::HandleJoin(user, subCode, payload); break;
        case 1:  HandleInvitation(user, subCode, payload); break;
        case 2:  HandleTextWithAddress(user, subCode, payload); break;
        case 3:  HandleRoomMessage(user, subCode, payload); break;
        case 4:  rooms::HandleSettings(user, subCode, payload); break;
        case 6:  rooms::HandleRoomInfo(user, subCode, payload); break;
        case 7:  HandleAccount(user, subCode, payload); break;
        case 8:  HandleServerInfo(user, subCode, payload); break;
        case 9:  HandleInvisible(user, subCode, payload); break;
        case 12: HandleStanding(user, subCode, payload); break;
        case 13: HandleAway(user, subCode, payload); break;
        case 16: HandleRoomKick(user, subCode, payload); break;
        case 17: rooms::HandleLeave(user, subCode, payload); break;
        case 18: HandleColor(user, subCode, payload); break;
        case 20: HandleMute(user, subCode, payload); break;
        case 21: HandleAddressBan(user, subCode, payload); break;
        case 22: HandleServerKick(user, subCode, payload); break;
        case 23: HandleUserLookup(user, subCode, payload); break;
        case 24: HandlePrivateMessage(user, subCode, payload); break;
        case 26: HandleLogin(user, subCode, payload); break;
        default: break;  // unknown commands are ignored
    }
}

}  // namespace nelv::protocol
