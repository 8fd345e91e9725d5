// Server information (command 8): chat name and welcome text, banners, the
// room list and the user list. Needs no login.
#include "base/int_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"

namespace nelv::commands {

using namespace chat;

namespace {

using namespace protocol::server_data;

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

void HandleServerInfo(ChatState& chat, TActUser& user, const Request& /*request*/) {
    constexpr Command kData = Command::kServerData;
    const ServerConfig& config = chat.Settings();

    SendReply(user, kData, kWelcome, kOk, JoinFields({config.ChatName, LinesText(config.WelcomeLines)}));

    if (config.BannerUpdateInterval > 0) {
        SendReply(user, kData, kBanners, kOk,
                  IntToText(config.BannerUpdateInterval) + ":" + LinesText(config.BannerLines));
    }

    const ChatState::ListAnswers& lists = chat.Lists();
    user.SendShared(lists.rooms);
    user.SendShared(lists.users);
}

}  // namespace nelv::commands
