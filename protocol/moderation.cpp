// TODO: filled in by the command group's own change.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"

namespace nelv::protocol {

void HandleStanding(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 12)) return;
}

void HandleRoomKick(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 16)) return;
}

void HandleMute(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 20)) return;
}

void HandleAddressBan(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 21)) return;
}

}  // namespace nelv::protocol
