// Server information (command 8): chat name and welcome text, banners, the
// room list and the user list. Needs no login.
#include "base/int_text.h"
#include "base/server_config.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"

namespace nelv::protocol {
namespace {

// Every line followed by CR LF, the last one included.
std::string LinesText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace

void HandleServerInfo(TActUser& user, std::uint8_t /*subCode*/, std::string_view /*payload*/) {
    const ServerConfig& config = Config();

    SendReply(user, 10, 1, kOk, JoinFields({config.ChatName, LinesText(config.WelcomeLines)}));

    if (config.BannerUpdateInterval > 0) {
        SendReply(user, 10, 3, kOk,
                  IntToText(config.BannerUpdateInterval) + ":" + LinesText(config.BannerLines));
    }

    std::string roomList;
    for (auto& entry : rooms::RoomList()) {
        if (entry.value->Hidden) continue;
        roomList += rooms::RoomInfoText(*entry.value);
        roomList += kEntrySeparator;
    }
    SendReply(user, 10, 4, kOk, roomList);

    std::string userList;
    for (auto& entry : OnlineUsers()) {
        if (entry.value->Invisible) continue;
        userList += UserStatusText(*entry.value);
        userList += kEntrySeparator;
    }
    SendReply(user, 10, 5, kOk, userList);
}

}  // namespace nelv::protocol
