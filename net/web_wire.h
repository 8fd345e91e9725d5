// WebWire: what a browser speaks on the web port, turned into chat messages.
// A connection starts as HTTP/1.1: it may fetch the web client's files from
// the web root, and at /chat it may upgrade to a WebSocket. From then on each
// binary WebSocket message is one chat message without its terminator, in
// both directions, and the connection is an ordinary chat connection.
//
// The wire knows nothing of sockets or of the chat: it reads what was
// received and tells its Sink what to send and what happened. Used by the
// event loop's thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nelv::net {

struct WebSettings {
    // Origins a page may come from besides the server's own; "*" allows all.
    std::vector<std::string> allowedOrigins;
    // Address rules (as for the chat's address list) of proxies whose
    // X-Forwarded-For header names the real client.
    std::vector<std::string> trustedProxies;
    // The directory of the web client's files.
    std::string root;
};

// The WebSocket close codes the server sends.
enum class CloseCode : std::uint16_t {
    kNormal = 1000,
    kProtocolError = 1002,
    kUnsupportedData = 1003,
    kTooBig = 1009,
};

// The bytes of one unfragmented server frame carrying `payload` (binary
// message when `opcode` is 2). The one place frames are built.
std::string WebFrameHeader(std::uint8_t opcode, std::size_t length);
std::string WebFrame(std::uint8_t opcode, std::string_view payload);
inline std::string BinaryFrame(std::string_view payload) { return WebFrame(0x2, payload); }
std::string CloseFrame(CloseCode code);

// The Sec-WebSocket-Accept value for a Sec-WebSocket-Key.
std::string AcceptKey(std::string_view key);

class WebWire {
public:
    using Clock = std::chrono::steady_clock;

    // Most bytes of a request head (request line and headers).
    static constexpr std::size_t kMaxHead = 8 * 1024;
    // Most bytes of one WebSocket message: the chat's own limit of a message.
    static constexpr std::size_t kMaxMessage = 64 * 1024;
    // Largest file served.
    static constexpr std::size_t kMaxFile = 4 * 1024 * 1024;
    // A web client silent this long is pinged; one that stays silent as long
    // again is closed. An HTTP connection idle that long is closed.
    static constexpr std::chrono::seconds kPingAfter{30};

    class Sink {
    public:
        virtual ~Sink() = default;
        // Queues bytes as they are (responses, control frames).
        virtual void Emit(std::string_view bytes) = 0;
        // The upgrade is done: the chat connection begins, from `address`
        // (network byte order). False: the chat refused it.
        virtual bool Upgraded(std::uint32_t address) = 0;
        // One chat message arrived (without terminator).
        virtual void Message(std::string_view message) = 0;
        // The connection is to end once what is queued has left.
        virtual void Close() = 0;
        // Bytes queued and not yet sent: requests wait while it is high.
        virtual std::size_t Unsent() const = 0;
    };

    WebWire(const WebSettings& settings, std::uint32_t peerAddress);

    // Takes received bytes (none: go on with requests that waited) and acts
    // on every complete request or frame, except that HTTP requests wait
    // while more than `holdAbove` bytes are unsent.
    void Take(std::string_view chunk, Sink& sink, std::size_t holdAbove);

    bool Upgraded() const { return upgraded_; }
    // Bytes received and not yet acted on.
    std::size_t Pending() const { return buffer_.size() + message_.size(); }
    // Requests are waiting for output to drain.
    bool Waiting() const { return !upgraded_ && !closed_ && HeadComplete(); }

    // Forgets what was received; nothing more is read.
    void Drop() {
        std::string().swap(buffer_);
        std::string().swap(message_);
        closed_ = true;
    }

    // The close frame that ends an upgraded connection, once; empty when one
    // was sent already or there was no upgrade.
    std::string Goodbye();

    // What the idle timer should do now.
    enum class Idle { kNothing, kPing, kClose };
    Idle CheckIdle(Clock::time_point now);

private:
    bool HeadComplete() const;
    void TakeRequests(Sink& sink, std::size_t holdAbove);
    void TakeFrames(Sink& sink);
    void Respond(Sink& sink, std::string_view head);
    void Fail(Sink& sink, CloseCode code);

    const WebSettings& settings_;
    const std::uint32_t peerAddress_;
    std::string buffer_;   // received, not yet acted on
    std::string message_;  // fragments of the message being received
    bool inMessage_ = false;
    bool upgraded_ = false;
    bool closed_ = false;     // nothing more is read
    bool goodbye_ = false;    // our close frame is queued
    bool pingSent_ = false;
    Clock::time_point lastHeard_;
};

}  // namespace nelv::net
