// The settings read once at start-up and read-only afterwards. The server
// layer fills them; the chat state keeps its own copy. The [Web] keys are
// the server's, kept here so one file is read into one struct.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire.h"

namespace nelv {

struct ServerConfig {
    // [General]
    std::string ChatName = "My NELV Chat";
    std::uint16_t ChatPort = protocol::kDefaultChatPort;
    std::string ChatBindTo = "*";
    std::int32_t MaxUserRooms = -1;
    std::string CuiFileName;
    // [System rooms], one name=value line per key
    std::vector<std::string> SystemRoomLines;
    // [Users]
    bool OnlyRegisteredUsers = false;
    std::int32_t MaxUsers = 0;
    std::int32_t MaxConnectionsPerAddress = 32;
    std::int32_t RegistrationPassword = 0;
    std::vector<std::string> UsersIPList;
    std::int32_t TimeoutMinutes = 15;
    // [Banners]
    std::int32_t BannerUpdateInterval = 0;
    std::vector<std::string> BannerLines;
    // [Web]: the listener for browsers; port 0 means none.
    std::uint16_t WebPort = 0;
    std::string WebBindTo = "*";
    std::vector<std::string> WebAllowedOrigins;
    std::vector<std::string> WebTrustedProxies;
    std::string WebRoot;  // empty: the web client that came with the server
    // WELCOME.TXT
    std::vector<std::string> WelcomeLines;
};

}  // namespace nelv
