// Login (command 26): take a nickname, or change it when logged in already.
#include "base/console.h"
#include "base/int_text.h"
#include "base/log_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"
#include "userdb/user_database.h"

namespace nelv::commands {

using namespace chat;

bool PasswordAccepted(ChatState& chat, const TActUser& user, const std::function<bool()>& matches) {
    const double now = chat.Now();
    if (chat.Guesses.Blocked(user.PeerAddress(), now)) return false;
    if (matches()) return true;
    if (chat.Guesses.Wrong(user.PeerAddress(), now)) {
        ConsoleLine("WARNING: Too many wrong passwords from " + user.PeerText());
    }
    return false;
}

void HandleLogin(ChatState& chat, TActUser& user, const Request& request) {
    constexpr Command kLogin = Command::kLogin;
    const auto& fields = request.fields;
    const std::string& nickname = fields[0];
    const std::string& password = fields[1];

    chat.LogEvent(user.PeerText() + " wants to log in as " + LogSafe(nickname));
    if (!ValidNickname(nickname)) {
        chat.LogEvent("Nickname is invalid (" + LogSafe(nickname) + ")");
        SendReply(user, kLogin, 0, kNicknameInvalid);
        return;
    }
    if (FindOnlineUser(chat, nickname)) {
        chat.LogEvent("Nickname is already in use (" + LogSafe(nickname) + ")");
        SendReply(user, kLogin, 0, kNicknameInUse);
        return;
    }
    userdb::UserRecord* record = chat.RegisteredUsers.FindRegisteredUser(nickname);
    if (!record && chat.Settings().OnlyRegisteredUsers) {
        SendReply(user, kLogin, 0, kOnlyRegistered);
        return;
    }
    if (record) {
        if (!PasswordAccepted(chat, user, [&] { return record->PasswordMatches(password); })) {
            SendReply(user, kLogin, 0, kWrongPassword);
            return;
        }
        if (!record->Enabled()) {
            SendReply(user, kLogin, 0, kAccountDisabled);
            return;
        }
        record->SetLastLoginAt(chat.Now());
        chat.RegisteredUsers.SaveUserRecord(*record);
    }
    user.Account = record;

    const std::string oldName = user.Nickname;
    const bool wasLoggedIn = user.LoggedIn();
    chat.Rename(user, nickname);
    if (user.Account) user.Color = ColorNumberToText(user.Account->Color()).substr(0, kColorLength);

    for (auto& entry : user.Rooms) {
        TRoom& room = *entry.value;
        SendRoomEvent(room, kNicknameChanged, 0, TextAndStanding(oldName, user, room), &user);
    }

    const bool announced = wasLoggedIn != user.Invisible &&
                           !(user.Account && user.Account->LoginInvisible());
    const net::SharedMessage gone(UserGoneLine(oldName));
    const net::SharedMessage arrived(UserStatusLine(user));
    const bool sayGone = wasLoggedIn && !user.Invisible;
    for (auto& entry : chat.OnlineUsers) {
        if (sayGone) entry.value->SendShared(gone);
        if (announced) entry.value->SendShared(arrived);
    }
    user.Invisible = !announced;

    chat.LogEvent(user.PeerText() + " successfully logged in as " + LogSafe(nickname));
    SendReply(user, kLogin, 0, kOk, user.Account ? std::string_view(user.Color) : std::string_view());
}

}  // namespace nelv::commands
