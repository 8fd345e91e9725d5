// TServer: the listening socket and its accept thread. Each accepted
// connection gets a connection object from the factory and is handed to the
// receive loop. Creation reports the socket error code; Stop ends the accept
// loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/receive_loop.h"
#include "net/socket_connection.h"

namespace nelv::net {

class TServer {
public:
    using Factory = std::function<std::shared_ptr<TUser>()>;

    TServer() = default;
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    // Binds to `bindTo` ("*" for every local address, else dotted IPv4) and
    // `port`, listens, and starts the accept thread, which first runs
    // `onStart` once and then gives every connection to `loop` (which
    // outlives the server). Returns 0, or the errno of the call that failed.
    int Create(std::uint16_t port, const std::string& bindTo, Factory factory, ReceiveLoop& loop,
               std::function<void()> onStart);

    // Ends the accept loop; the accept thread prints its closing line.
    void Stop();

private:
    void Execute();
    void AcceptFailed(int error);

    int listenSocket_ = -1;
    int spareFd_ = -1;  // given up to refuse one connection when descriptors run out
    std::atomic<bool> terminated_{false};
    Factory factory_;
    ReceiveLoop* loop_ = nullptr;
    std::function<void()> onStart_;
};

}  // namespace nelv::net
