// TODO: filled in by the command group's own change.
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"

namespace nelv::protocol {

void HandleAccount(TActUser& user, std::uint8_t subCode, std::string_view /*payload*/) {
    if (subCode == 16 || subCode == 17 || subCode == 18) {
        if (!RequireLogin(user, 7)) return;
    }
}

}  // namespace nelv::protocol
