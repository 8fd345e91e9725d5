// The chat command handlers, one group per file. The dispatch (dispatch.cpp)
// checks the login and cuts the payload into fields as each command's row
// says, then calls the handler with ServerLock held. Handlers report only
// through messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"

namespace nelv::commands {

using chat::ChatState;
using chat::TActUser;

// A request as the dispatch hands it on: its sub-code and its payload cut
// into as many fields as its command takes (missing ones empty).
struct Request {
    std::uint8_t subCode = 0;
    std::vector<std::string> fields;
};

// room_commands.cpp
void HandleJoin(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleSettings(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleRoomInfo(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleLeave(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// login.cpp
void HandleLogin(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// server_info.cpp
void HandleServerInfo(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// presence.cpp
void HandleInvisible(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleAway(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleColor(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// private_messages.cpp
void HandleInvitation(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleTextWithAddress(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandlePrivateMessage(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// room_messages.cpp
void HandleRoomMessage(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// moderation.cpp
void HandleStanding(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleRoomKick(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleMute(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
void HandleAddressBan(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// server_kick.cpp
void HandleServerKick(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// registration.cpp
void HandleAccount(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);
// user_lookup.cpp
void HandleUserLookup(ChatState& chat, TActUser& user, const Request& request) REQUIRES(ServerLock);

// A password check of a login or a registration from `user`'s address:
// refused without calling `matches` while the address is blocked for too
// many wrong passwords; a wrong one is counted, and the one that starts a
// block is announced on the console. True when the password is right.
bool PasswordAccepted(ChatState& chat, const TActUser& user, const std::function<bool()>& matches)
    REQUIRES(ServerLock);

}  // namespace nelv::commands
