#include "server/chat_socket.h"

#include "commands/dispatch.h"

namespace nelv::server {

bool ChatSocket::Started() { return chat::Connect(chat_, user_); }

void ChatSocket::Ended() { chat::Disconnected(chat_, user_); }

void ChatSocket::HandleMessage(std::string_view message) {
    ServerLockGuard lock;
    commands::HandleMessage(chat_, user_, message);
}

}  // namespace nelv::server
