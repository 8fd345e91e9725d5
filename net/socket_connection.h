// TUser: one accepted TCP connection served by a thread of its own. It cuts
// the incoming stream into messages and hands each to HandleMessage with
// ServerLock held. Output never blocks: SendText queues the bytes and the
// output pump writes them, several queued messages in one write.
//
// Ownership: the object is shared by its own thread and, while output is
// pending, by the pump. The socket is closed exactly once, by the destructor,
// when neither can use it any more; other threads only shut it down.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/server_lock.h"
#include "net/connection.h"
#include "net/framing.h"
#include "net/output_queue.h"

namespace nelv::net {

class OutputPump;

class TUser : public Connection, public std::enable_shared_from_this<TUser> {
public:
    // Unsent output beyond this disconnects the connection as a slow consumer.
    static constexpr std::size_t kMaxPendingOutput = 1024 * 1024;
    // How long a closing connection may take to read what is still queued.
    static constexpr std::chrono::milliseconds kCloseGrace{1000};

    TUser(const TUser&) = delete;
    TUser& operator=(const TUser&) = delete;
    ~TUser() override;

    // Set once by the listener before the thread starts.
    void Attach(int socket, std::uint32_t peerAddress);

    int Handle() const override { return socket_; }
    std::uint32_t PeerAddress() const override { return peerAddress_; }
    const std::string& PeerText() const override { return peerText_; }
    std::uint64_t Id() const override { return id_; }

    // Queues one message. Output for a connection that is closing or failed
    // is dropped; past kMaxPendingOutput the connection is cut off.
    void SendText(std::string_view data) override;

    // Ends the connection: its thread leaves the receive loop, queued output
    // is still written (for at most kCloseGrace), then the socket is shut
    // down.
    void Disconnect() override;

    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // Thread body; the default is the receive loop.
    virtual void Execute();

protected:
    // `pump` writes this connection's output; it outlives every connection.
    explicit TUser(OutputPump& pump);

    // Receives and handles messages until the connection ends.
    void ReceiveLoop();

    // Handles one message (terminator removed). Runs with ServerLock held.
    virtual void HandleMessage(std::string_view message) REQUIRES(ServerLock) = 0;

public:
    // For the output pump: the queue it drains, and the mark that the
    // connection has ended for good.
    OutputQueue& Output() { return output_; }
    void MarkTerminated() { terminated_.store(true, std::memory_order_release); }

private:
    OutputPump& pump_;
    int socket_ = -1;
    std::uint32_t peerAddress_ = 0;
    std::string peerText_;
    const std::uint64_t id_;
    std::atomic<bool> terminated_{false};
    FrameCutter receiveBuffer_;  // touched only by the connection's thread
    OutputQueue output_;
};

// Starts the connection's thread (small stack). Returns 0 or an errno value;
// on failure the caller still owns the object.
int StartConnectionThread(std::shared_ptr<TUser> user);

}  // namespace nelv::net
