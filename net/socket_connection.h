// TUser: one accepted TCP connection. A receive loop reads it when data
// arrives; the connection cuts the stream into messages and hands each to
// HandleMessage with ServerLock held, one at a time and in order. Output
// never blocks: SendText queues the bytes and the output pump writes them,
// several queued messages in one write.
//
// Ownership: the object is shared by its receive loop and, while output is
// pending, by the pump. The socket is closed exactly once, by the destructor,
// when neither can use it any more; other threads only shut it down.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/server_lock.h"
#include "net/connection.h"
#include "net/framing.h"
#include "net/output_queue.h"

namespace nelv::net {

class OutputPump;
class ReceiveLoop;

class TUser : public Connection, public std::enable_shared_from_this<TUser> {
public:
    // Unsent output beyond this disconnects the connection as a slow consumer.
    static constexpr std::size_t kMaxPendingOutput = 1024 * 1024;
    // How long a closing connection may take to read what is still queued.
    static constexpr std::chrono::milliseconds kCloseGrace{1000};

    TUser(const TUser&) = delete;
    TUser& operator=(const TUser&) = delete;
    ~TUser() override;

    // Set once by the listener before the receive loop takes it.
    void Attach(int socket, std::uint32_t peerAddress);

    int Handle() const override { return socket_; }
    std::uint32_t PeerAddress() const override { return peerAddress_; }
    const std::string& PeerText() const override { return peerText_; }
    std::uint64_t Id() const override { return id_; }

    // Queues one message. Output for a connection that is closing or failed
    // is dropped; past kMaxPendingOutput the connection is cut off.
    void SendText(std::string_view data) override;

    // Ends the connection: nothing more is received, queued output is still
    // written (for at most kCloseGrace), then the socket is shut down.
    void Disconnect() override;

    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // --- For the receive loop, on its own thread ------------------------------
    enum class Receiving {
        kWaiting,  // wants the next data from the socket
        kHeld,     // its output must drain first: the loop calls Resume later
        kEnded,    // the connection is over: the loop lets it go
    };
    // Runs first, before anything is received. False: the connection was
    // refused and ends at once.
    virtual bool Started() { return true; }
    // One receive of at most 1000 bytes, and the messages it completes.
    Receiving Receive();
    // Goes on with the messages in hand after kHeld.
    Receiving Resume() { return HandleReceived(); }
    // Runs last, once the connection is over.
    virtual void Ended() {}
    // Set by the loop that serves the connection, before Started.
    void ServedBy(ReceiveLoop& loop) { loop_ = &loop; }

protected:
    // `pump` writes this connection's output; it outlives every connection.
    explicit TUser(OutputPump& pump);

    // Handles one message (terminator removed). Runs with ServerLock held.
    virtual void HandleMessage(std::string_view message) REQUIRES(ServerLock) = 0;

public:
    // For the output pump: the queue it drains, and the mark that the
    // connection has ended for good.
    OutputQueue& Output() { return output_; }
    void MarkTerminated() { terminated_.store(true, std::memory_order_release); }

private:
    Receiving HandleReceived();
    void RoomForOutput();  // the output queue's signal that held input may go on

    OutputPump& pump_;
    ReceiveLoop* loop_ = nullptr;
    int socket_ = -1;
    std::uint32_t peerAddress_ = 0;
    std::string peerText_;
    const std::uint64_t id_;
    std::atomic<bool> terminated_{false};
    // Touched only by the receive loop's thread.
    FrameCutter receiveBuffer_;
    std::optional<std::string> heldMessage_;  // cut, waiting for output room
    OutputQueue output_;
};

}  // namespace nelv::net
