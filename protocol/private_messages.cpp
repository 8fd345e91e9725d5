// TODO: filled in by the command group's own change.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"

namespace nelv::protocol {

void HandleInvitation(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 1)) return;
}

void HandleTextWithAddress(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 2)) return;
}

void HandlePrivateMessage(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 24)) return;
}

}  // namespace nelv::protocol
