// Connection: what the chat layer needs of the wire for one client. Send a
// message, end the connection, and tell who and where the client is. The
// socket connection (TUser) implements it; tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/shared_message.h"

namespace nelv::net {

class Connection {
public:
    virtual ~Connection() = default;

    // Queues one message; the transport appends the terminator. Never
    // blocks. Output for a connection that is closing is dropped.
    virtual void SendText(std::string_view message) = 0;
    // Queues a message built once for many connections; a long one is
    // shared rather than copied.
    virtual void SendShared(const SharedMessage& message) { SendText(message.Message()); }

    // Ends the connection; what is already queued is still written. Any
    // thread may call it, any number of times.
    virtual void Disconnect() = 0;

    // An identity no other connection of this process ever has.
    virtual std::uint64_t Id() const = 0;
    // The socket number, shown in the name of a client not yet logged in.
    virtual int Handle() const = 0;
    // The peer's IPv4 address in network byte order, and as dotted decimal.
    virtual std::uint32_t PeerAddress() const = 0;
    virtual const std::string& PeerText() const = 0;
};

}  // namespace nelv::net
