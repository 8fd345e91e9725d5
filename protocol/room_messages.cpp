// TODO: filled in by the command group's own change.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"

namespace nelv::protocol {

void HandleRoomMessage(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    if (!RequireLogin(user, 3)) return;
}

}  // namespace nelv::protocol
