#include "chat/chat_state.h"

#include "chat/chat_connection.h"
#include "chat/message.h"

namespace nelv::chat {

ChatState::ChatState(ServerConfig settings, Clock clock, EventSink events)
    : settings_(std::move(settings)), clock_(std::move(clock)), events_(std::move(events)) {}

void ChatState::AddOnline(TActUser& user) {
    ListsChanged();
    OnlineUsers.Append(user.Nickname, &user);
    ++ConnectionsByAddress[user.PeerAddress()];
    ConnectionIds.insert(user.Id());
}

void ChatState::RemoveOnline(TActUser& user) {
    ListsChanged();
    auto i = OnlineUsers.IndexOfValue(&user);
    if (!i) return;
    OnlineUsers.RemoveAt(*i);
    ForgetInvitation(user);
    ConnectionIds.erase(user.Id());
    auto count = ConnectionsByAddress.find(user.PeerAddress());
    if (count != ConnectionsByAddress.end() && --count->second == 0) ConnectionsByAddress.erase(count);
}

void ChatState::Rename(TActUser& user, const std::string& nickname) {
    if (auto i = OnlineUsers.IndexOfValue(&user)) OnlineUsers.Rename(*i, nickname);
    for (auto& entry : user.Rooms) entry.value->RenameMember(user, nickname);
    user.Nickname = nickname;
}

void ChatState::Invite(TActUser& target, const std::string& roomName) {
    if (invitationBytes_ - target.InvitedRoom.size() + roomName.size() > kInvitationBudget) return;
    invitationBytes_ = invitationBytes_ - target.InvitedRoom.size() + roomName.size();
    target.InvitedRoom = roomName;
}

void ChatState::ForgetInvitation(TActUser& user) {
    invitationBytes_ -= user.InvitedRoom.size();
    std::string().swap(user.InvitedRoom);
}

const ChatState::ListAnswers& ChatState::Lists() {
    if (!lists_) lists_.emplace(ListAnswers{net::SharedMessage(RoomListReply(*this)), net::SharedMessage(UserListReply(*this))});
    return *lists_;
}

void ChatState::AddBan(std::uint32_t address, std::string until) { BanList.push_back({std::move(until), address}); }

}  // namespace nelv::chat
