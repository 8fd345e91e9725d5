// The entry point of the commands: one received message in, every effect
// of it out through the connections' sends.
#pragma once

#include <string_view>

#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"

namespace nelv::commands {

// Handles one message (terminator removed) from `user`. Messages under two
// bytes and unknown commands are ignored; every other message stamps the
// connection's activity time first.
void HandleMessage(chat::ChatState& chat, chat::TActUser& user, std::string_view message)
    REQUIRES(ServerLock);

}  // namespace nelv::commands
