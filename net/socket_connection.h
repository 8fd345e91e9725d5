// TUser: one accepted TCP connection, served by the event loop. The loop
// receives at most one chunk of 1000 bytes at a time, the connection cuts it
// into messages, and the loop hands them to HandleMessage one at a time,
// taking turns with the other connections. Output
// never blocks: SendText queues the bytes and the loop writes them when its
// turn ends, every message queued meanwhile in one send.
//
// Everything here runs on the loop's thread. The loop owns the object; the
// socket is closed exactly once, by the destructor.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/connection.h"
#include "net/event_loop.h"
#include "net/framing.h"
#include "net/output_queue.h"
#include "net/web_wire.h"

namespace nelv::net {

class TUser : public Connection, private Watched {
public:
    // Most bytes taken from the socket at once. Everything of a chunk is
    // handled even when the connection ends meanwhile, so this also bounds
    // what a connection can still get done after it was closed.
    static constexpr std::size_t kReceiveChunk = 1000;
    // Unsent output caused by others beyond this, with less than kSlowPace
    // of it read within kSlowGrace, cuts the connection off as a slow
    // consumer. A burst past it is fine for a client that reads. What its
    // own requests caused never counts: that is held back (kSoftMark).
    static constexpr std::size_t kMaxPendingOutput = 1024 * 1024;
    static constexpr std::chrono::milliseconds kSlowGrace{1000};
    static constexpr std::size_t kSlowPace = 64 * 1024;
    // Above the soft mark the connection's own next request waits until its
    // output is back under the low mark: a client that asks faster than it
    // reads is slowed down by TCP instead of being cut off.
    static constexpr std::size_t kSoftMark = 256 * 1024;
    static constexpr std::size_t kLowMark = 64 * 1024;
    // The kernel's send buffer of a connection (it reserves twice this).
    // Without a cap it grows to megabytes for a peer that does not read;
    // chat messages are small, and what does not fit waits in the queue.
    static constexpr int kSendBuffer = 64 * 1024;
    // Most unread input a closing socket reads off before it is closed.
    static constexpr std::size_t kReadOffOnClose = 256 * 1024;
    // How long a closing connection may take to read what is still queued.
    static constexpr std::chrono::milliseconds kCloseGrace{1000};
    // How often a web connection checks whether it has gone quiet.
    static constexpr std::chrono::seconds kIdleCheck{10};

    TUser(const TUser&) = delete;
    TUser& operator=(const TUser&) = delete;
    ~TUser() override;

    // Set once, before the loop adopts the connection.
    void Attach(int socket, std::uint32_t peerAddress);
    // Before the loop adopts it: the connection speaks HTTP and WebSocket
    // (see WebWire) and becomes a chat connection only once it upgrades.
    // `settings` outlive the connection.
    void ServeWeb(const WebSettings& settings);

    int Handle() const override { return socket_; }
    std::uint32_t PeerAddress() const override { return peerAddress_; }
    const std::string& PeerText() const override { return peerText_; }
    std::uint64_t Id() const override { return id_; }

    // Queues one message. Output for a connection that is closing is
    // dropped.
    void SendText(std::string_view data) override;
    void SendShared(const SharedMessage& message) override;

    // Ends the connection: nothing more is received, the messages already
    // received are still handled, and what is queued is still written for at
    // most kCloseGrace. Only the first call has an effect.
    void Disconnect() override;

    bool Terminated() const { return phase_ != Phase::kOpen; }

    // Runs once the loop has adopted the connection, before anything is
    // received (a web connection: once it has upgraded). False: the
    // connection was refused and has ended already.
    virtual bool Started() { return true; }
    // Runs once a started connection is over and its last chunk handled,
    // unless the server is shutting down.
    virtual void Ended() {}

protected:
    TUser();

    // Handles one message (terminator removed).
    virtual void HandleMessage(std::string_view message) = 0;

private:
    friend class EventLoop;

    enum class Phase {
        kOpen,     // receives and sends
        kClosing,  // receives nothing; queued output still leaves
        kDead,     // cut off: output dropped, the socket is reset
    };
    enum class Handled { kOne, kNone, kHeld };
    class WebSink;

    // The loop reports readiness of the socket.
    void Ready(std::uint32_t events) override;
    // One receive; complete messages make the connection ready for handling.
    void Receive();
    // Handles the next message in hand, unless there is none or the
    // connection's own output must drain first.
    Handled HandleNext();
    // Writes what is queued, once; the loop calls it when a turn ends and
    // when a full socket becomes writable again.
    void Flush();
    // The loop's write at the end of a turn: a socket that is full waits for
    // writability instead.
    void FlushQueued();
    // Notes new output: for the end of the turn, or the cut-off.
    void Queued();
    // Output failed or overflowed: drop it and end the connection.
    void CutOff();
    // Others' output is past kMaxPendingOutput: a slow consumer is cut off
    // once kSlowGrace has passed with less than kSlowPace written since
    // `written`.
    void WatchSlow();
    void CheckSlow(std::uint64_t written);
    // The input held back for output may go on.
    void Release();
    // A web connection: acts on received bytes (none: on requests that
    // waited for output to drain).
    void TakeWeb(std::string_view chunk);
    // A web connection's idle check, every kIdleCheck.
    void CheckIdle();
    // Bytes received and not yet handled.
    std::size_t PendingInput() const;
    // The epoll events this connection wants now.
    std::uint32_t Interest() const;
    bool Eligible() const { return phase_ == Phase::kOpen && !held_ && !ready_; }

    EventLoop* loop_ = nullptr;
    int socket_ = -1;
    std::uint32_t peerAddress_ = 0;
    std::string peerText_;
    const std::uint64_t id_;

    Phase phase_ = Phase::kOpen;
    FrameCutter input_;
    std::optional<std::string> next_;  // cut, waiting for output room
    OutputQueue output_;
    std::unique_ptr<WebWire> web_;    // a web connection's HTTP and WebSocket state
    std::size_t inputCounted_ = 0;    // input bytes counted toward the loop's budget
    std::uint64_t quotaTurn_ = 0;     // the turn quotaUsed_ counts for
    std::size_t quotaUsed_ = 0;       // messages handled in that turn
    std::uint32_t watched_ = 0;       // the events registered with epoll
    bool blocked_ = false;            // the socket was full: wait for writability
    bool slowWatch_ = false;          // a slow-consumer check is due
    bool held_ = false;               // input waits for the output to drain
    bool ready_ = false;              // in the loop's list of messages in hand
    bool dirty_ = false;              // in the loop's list of output to write
    bool ending_ = false;             // in the loop's list of connections to end
    bool started_ = false;            // Started ran and admitted the connection
    bool ended_ = false;              // the disconnect bookkeeping is done
    bool finished_ = false;           // the socket is shut down; the loop frees it
};

}  // namespace nelv::net
