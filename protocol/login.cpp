// Login (command 26): take a nickname, or change it when logged in already.
#include "base/clock.h"
#include "base/events.h"
#include "base/int_text.h"
#include "base/server_config.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"
#include "userdb/user_database.h"

namespace nelv::protocol {

bool ValidNickname(std::string_view nickname) {
    if (nickname.empty() || nickname.size() > 20) return false;
    for (char ch : nickname) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0xA0) return false;
    }
    return true;
}

void HandleLogin(TActUser& user, std::uint8_t /*subCode*/, std::string_view payload) {
    const auto fields = SplitFields(payload, kFieldSeparator, 2, 2);
    const std::string& nickname = fields[0];
    const std::string& password = fields[1];

    LogEvent(user.PeerText() + " wants to log in as " + LogSafe(nickname));
    if (!ValidNickname(nickname)) {
        LogEvent("Nickname is invalid (" + LogSafe(nickname) + ")");
        SendReply(user, 26, 0, kNicknameInvalid);
        return;
    }
    if (FindOnlineUser(nickname)) {
        LogEvent("Nickname is already in use (" + LogSafe(nickname) + ")");
        SendReply(user, 26, 0, kNicknameInUse);
        return;
    }
    userdb::UserRecord* record = userdb::RegisteredUsers().FindRegisteredUser(nickname);
    if (!record && Config().OnlyRegisteredUsers) {
        SendReply(user, 26, 0, kOnlyRegistered);
        return;
    }
    if (record) {
        if (!record->PasswordMatches(password)) {
            SendReply(user, 26, 0, kWrongPassword);
            return;
        }
        if (!record->Enabled()) {
            SendReply(user, 26, 0, kAccountDisabled);
            return;
        }
        record->SetLastLoginAt(Now());
        userdb::RegisteredUsers().SaveUserRecord(*record);
    }
    user.Account = record;

    const std::string oldName = user.Nickname;
    const bool wasLoggedIn = user.LoggedIn();
    if (auto i = OnlineUsers().IndexOfValue(&user)) OnlineUsers()[*i].name = nickname;
    user.Nickname = nickname;
    if (user.Account) user.Color = ColorNumberToText(user.Account->Color()).substr(0, 6);

    for (auto& entry : user.Rooms) {
        rooms::TRoom& room = *entry.value;
        if (auto i = room.Members.IndexOfValue(&user)) room.Members[*i].name = nickname;
        rooms::SendRoomEvent(room, rooms::kNicknameChanged, 0, TextAndStanding(oldName, user, room),
                             &user);
    }

    const bool announced = wasLoggedIn != user.Invisible &&
                           !(user.Account && user.Account->LoginInvisible());
    const std::string gone = BuildReply(11, 20, kOk, oldName);
    const std::string arrived = BuildReply(11, 19, kOk, UserStatusText(user));
    const bool sayGone = wasLoggedIn && !user.Invisible;
    for (auto& entry : OnlineUsers()) {
        if (sayGone) entry.value->SendText(gone);
        if (announced) entry.value->SendText(arrived);
    }
    user.Invisible = !announced;

    LogEvent(user.PeerText() + " successfully logged in as " + LogSafe(nickname));
    SendReply(user, 26, 0, kOk, user.Account ? std::string_view(user.Color) : std::string_view());
}

}  // namespace nelv::protocol
