// TODO: filled in by the command group's own change.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"

namespace nelv::protocol {

void HandleInvisible(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 9)) return;
}

void HandleAway(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 13)) return;
}

void HandleColor(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 18)) return;
}

}  // namespace nelv::protocol
