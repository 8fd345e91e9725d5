// The chat command handlers, one group per file. Every handler has the same
// shape: it gets the chat state, the connection whose message is handled,
// the sub-code byte and the payload (the message without its first two
// bytes), runs with ServerLock held, and reports only through messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"

namespace nelv::commands {

using chat::ChatState;
using chat::TActUser;

#define NELV_HANDLER(name)                                                                  \
    void name(ChatState& chat, TActUser& user, std::uint8_t subCode, std::string_view payload) \
        REQUIRES(ServerLock)

// room_commands.cpp
NELV_HANDLER(HandleJoin);             // 0
NELV_HANDLER(HandleSettings);         // 4
NELV_HANDLER(HandleRoomInfo);         // 6
NELV_HANDLER(HandleLeave);            // 17
// login.cpp
NELV_HANDLER(HandleLogin);            // 26
// server_info.cpp
NELV_HANDLER(HandleServerInfo);       // 8
// presence.cpp
NELV_HANDLER(HandleInvisible);        // 9
NELV_HANDLER(HandleAway);             // 13
NELV_HANDLER(HandleColor);            // 18
// private_messages.cpp
NELV_HANDLER(HandleInvitation);       // 1
NELV_HANDLER(HandleTextWithAddress);  // 2
NELV_HANDLER(HandlePrivateMessage);   // 24
// room_messages.cpp
NELV_HANDLER(HandleRoomMessage);      // 3
// moderation.cpp
NELV_HANDLER(HandleStanding);         // 12
NELV_HANDLER(HandleRoomKick);         // 16
NELV_HANDLER(HandleMute);             // 20
NELV_HANDLER(HandleAddressBan);       // 21
// server_kick.cpp
NELV_HANDLER(HandleServerKick);       // 22
// registration.cpp
NELV_HANDLER(HandleAccount);          // 7
// user_lookup.cpp
NELV_HANDLER(HandleUserLookup);       // 23

#undef NELV_HANDLER

// A password check of a login or a registration from `user`'s address:
// refused without calling `matches` while the address is blocked for too
// many wrong passwords; a wrong one is counted, and the one that starts a
// block is announced on the console. True when the password is right.
bool PasswordAccepted(ChatState& chat, const TActUser& user, const std::function<bool()>& matches)
    REQUIRES(ServerLock);

}  // namespace nelv::commands
