#include "chat/message.h"

#include "base/int_text.h"
#include "chat/server_config.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"
#include "chat/room.h"
#include "userdb/user_record.h"

namespace nelv::chat {

void SendReply(TActUser& user, Command command, std::uint8_t subCode, std::uint8_t status,
               std::string_view payload) {
    user.SendText(BuildReply(command, subCode, status, payload));
}

void SendToAll(ChatState& chat, const std::string& message) {
    const net::SharedMessage shared(message);
    for (auto& entry : chat.OnlineUsers) entry.value->SendShared(shared);
}

std::string Greeting() {
    return BuildReply(Command::kServerInfo, 0, kOk, "3." + IntToText(kBuildNumber));
}

std::string ClosingNotice(Status reason, std::string_view payload) {
    return BuildReply(Command::kClose, 0, reason, payload);
}

std::string StatusText(const TActUser& user, const TRoom* room) {
    return std::string(1, StatusChar(RankOf(user, room, true)));
}

std::string UserStatusText(const TActUser& user) {
    return JoinFields({user.Nickname, user.Color, StatusText(user, nullptr)});
}

std::string UserStatusLine(const TActUser& user) {
    return BuildReply(Command::kUserList, lists::kUserStatus, kOk, UserStatusText(user));
}

std::string UserGoneLine(std::string_view nickname) {
    return BuildReply(Command::kUserList, lists::kUserGone, kOk, nickname);
}

std::string Delivery(DeliveryKind kind, const TActUser& sender, std::string_view content) {
    const std::string payload = '\0' + JoinFields({sender.Nickname, sender.Color, content});
    return BuildReply(Command::kDelivery, kind, kOk, payload);
}

std::string AwayNoticeReply(Command command, const TActUser& target, std::string_view extra) {
    return BuildReply(command, kAwayNotice, kOk, JoinFields({target.Nickname, target.AwayText, extra}));
}

std::string RoomEvent(const TRoom& room, std::uint8_t code, std::uint8_t value,
                      std::string_view data, const TActUser* actor) {
    std::string payload(1, static_cast<char>(value));
    payload += JoinFields({room.Name, actor ? std::string_view(actor->Nickname) : "",
                           actor ? std::string_view(actor->Color) : "", data});
    return BuildReply(Command::kRoomEvent, code, kOk, payload);
}

std::string TextAndStanding(std::string_view text, const TActUser& user, const TRoom& room) {
    return JoinFields({text, StatusText(user, &room)});
}

std::string RoomInfoText(const TRoom& room) {
    return JoinFields({room.Name, room.Topic, room.Color,
                       IntToText(static_cast<std::int64_t>(room.Members.size())),
                       IntToText(room.MemberLimit), FlagText(room.Permanent), FlagText(room.Closed),
                       FlagText(room.Hidden)});
}

std::string RoomListReply(ChatState& chat) {
    std::string text;
    for (auto& entry : chat.RoomList) {
        if (entry.value->Hidden) continue;
        text += RoomInfoText(*entry.value);
        text += kEntrySeparator;
    }
    return BuildReply(Command::kServerData, server_data::kRooms, kOk, text);
}

std::string UserListReply(ChatState& chat) {
    std::string text;
    for (auto& entry : chat.OnlineUsers) {
        if (entry.value->Invisible) continue;
        text += UserStatusText(*entry.value);
        text += kEntrySeparator;
    }
    return BuildReply(Command::kServerData, server_data::kUsers, kOk, text);
}

std::string RoomInfoLine(const TRoom& room) {
    return BuildReply(Command::kRoomList, lists::kRoomInfo, kOk, RoomInfoText(room));
}

std::string RoomRemovalLine(const TRoom& room) {
    return BuildReply(Command::kRoomList, lists::kRoomGone, kOk, room.Name);
}

}  // namespace nelv::chat
