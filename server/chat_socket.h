// ChatSocket: a chat client on a socket. It joins the socket connection of
// the net layer to the chat state of the client and hands every received
// message to the command dispatch.
#pragma once

#include <string_view>

#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"
#include "net/socket_connection.h"

namespace nelv::server {

class ChatSocket : public net::TUser {
public:
    // `chat` outlives every connection.
    explicit ChatSocket(chat::ChatState& chat) : chat_(chat), user_(*this) {}

    // Connect and disconnect bookkeeping.
    bool Started() override;
    void Ended() override;

protected:
    // Under ServerLock, as every change of the chat state is.
    void HandleMessage(std::string_view message) override;

private:
    chat::ChatState& chat_;
    chat::TActUser user_;
};

}  // namespace nelv::server
