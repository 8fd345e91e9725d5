// TServer: the listening socket, watched by the event loop. Each turn in
// which it is readable it accepts a bounded number of connections, gives
// each a connection object from the factory and hands it to the loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/event_loop.h"
#include "net/socket_connection.h"

namespace nelv::net {

class TServer final : private Watched {
public:
    using Factory = std::function<std::unique_ptr<TUser>()>;

    // Accepts per turn, so a flood of connections cannot starve the others.
    static constexpr int kAcceptsPerTurn = 64;
    // How long accepting pauses when descriptors run out and no spare is left.
    static constexpr std::chrono::milliseconds kOutOfDescriptorsPause{100};

    // `loop` outlives the listener.
    TServer(EventLoop& loop, Factory factory);
    ~TServer();
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    // Binds to `bindTo` ("*" for every local address, else dotted IPv4) and
    // `port` (0: any free port), listens and joins the loop. Returns 0, or
    // the errno of the call that failed. Prints nothing.
    int Create(std::uint16_t port, const std::string& bindTo);

    // The port bound, once created.
    std::uint16_t Port() const;

    // Makes every connection accepted from now on a web connection
    // (TUser::ServeWeb). `settings` outlive the listener.
    void ServeWeb(const WebSettings& settings) { web_ = &settings; }

    // Stops accepting and closes the socket; the chat listener prints the
    // closing line.
    void Stop(bool announce = true);

private:
    void Ready(std::uint32_t events) override;
    bool Accepted(int error);  // false: stop accepting this turn

    EventLoop& loop_;
    Factory factory_;
    int listenSocket_ = -1;
    int spareFd_ = -1;  // given up to refuse one connection when descriptors run out
    bool paused_ = false;
    const WebSettings* web_ = nullptr;
};

}  // namespace nelv::net
