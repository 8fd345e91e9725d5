// The room commands: join (creating the room), settings, information, leave.
// Same handler shape as the other command groups.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/server_lock.h"

namespace nelv::protocol {
class TActUser;
}

namespace nelv::rooms {

using protocol::TActUser;

void HandleJoin(TActUser& user, std::uint8_t subCode, std::string_view payload) REQUIRES(ServerLock);      // 0
void HandleSettings(TActUser& user, std::uint8_t subCode, std::string_view payload) REQUIRES(ServerLock);  // 4
void HandleRoomInfo(TActUser& user, std::uint8_t subCode, std::string_view payload) REQUIRES(ServerLock);  // 6
void HandleLeave(TActUser& user, std::uint8_t subCode, std::string_view payload) REQUIRES(ServerLock);     // 17

}  // namespace nelv::rooms
