// A small protocol client for end-to-end tests: blocking calls that each have a deadline,
// and expectations that print, escaped and readable, what arrived instead.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace nelv::test {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::milliseconds;

// Long enough for a loaded machine under sanitizers; only reached when something is wrong.
inline constexpr Duration kDefaultTimeout{10000};

inline constexpr char kTerminator = '\x1F';
inline constexpr char kFieldSeparator = '\x01';
inline constexpr char kEntrySeparator = '\x02';

// The greeting an admitted connection receives first: command 8, sub-code 0, status 0, "3.263".
inline constexpr std::string_view kGreeting{"\x08\x00\x00" "3.263", 8};

// Joins fields with the field separator 0x01.
std::string Fields(std::initializer_list<std::string_view> fields);

// Command, sub-code, status and payload as the server writes them (without the terminator).
std::string ReplyBytes(uint8_t command, uint8_t sub, uint8_t status, std::string_view payload = {});

// Bytes shown with printable ASCII kept and everything else as \xNN; a message of three or more
// bytes is shown as "[command,sub,status] payload". Long texts are cut with their length noted.
std::string Escape(std::string_view bytes);
std::string DescribeMessage(std::string_view message);

struct ClientOptions {
    // Local address to bind before connecting, e.g. "127.0.0.2"; empty lets the kernel choose.
    std::string source_address;
    // SO_RCVBUF set before connecting; 0 keeps the system default.
    int receive_buffer = 0;
};

// Options for a client that connects from the given loopback address.
inline ClientOptions From(const char* address) {
    ClientOptions options;
    options.source_address = address;
    return options;
}

// One TCP connection to the server on 127.0.0.1. Owns its socket; not copyable.
class TestClient {
public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    ::testing::AssertionResult Connect(uint16_t port, const ClientOptions& options = {},
                                       Duration timeout = kDefaultTimeout);
    // Connect and expect the greeting as the first message.
    ::testing::AssertionResult ConnectAndGreet(uint16_t port, const ClientOptions& options = {},
                                               Duration timeout = kDefaultTimeout);

    // Sends command, sub-code, payload and the terminator. False when the write failed or did not
    // complete before the deadline (the peer may have closed or stopped reading).
    bool Send(uint8_t command, uint8_t sub, std::string_view payload = {},
              Duration timeout = kDefaultTimeout);
    // Sends the bytes exactly as given.
    bool SendRaw(std::string_view bytes, Duration timeout = kDefaultTimeout);

    // The next message (the bytes before the next 0x1F), or nothing when none completes in time
    // or the connection was closed first.
    std::optional<std::string> Next(Duration timeout = kDefaultTimeout);

    // Reads what has arrived, at most `limit` bytes, without waiting; false once the
    // connection has ended. Messages then come from NextBuffered.
    bool ReadAvailable(size_t limit);
    // The next whole message already read, if any.
    std::optional<std::string> NextBuffered();

    ::testing::AssertionResult Expect(uint8_t command, uint8_t sub, uint8_t status,
                                      std::string_view payload = {},
                                      Duration timeout = kDefaultTimeout);
    ::testing::AssertionResult ExpectMessage(std::string_view message,
                                             Duration timeout = kDefaultTimeout);
    // The server closes the connection before sending anything more.
    ::testing::AssertionResult ExpectClosed(Duration timeout = kDefaultTimeout);
    // Reads and throws away everything until the server closes the connection. The number of
    // bytes discarded is added to *discarded when given.
    ::testing::AssertionResult DrainUntilClosed(Duration timeout, size_t* discarded = nullptr);

    // Proves that nothing else is pending: asks for a user that cannot exist, whose answer must be
    // the very next message (status 14 before login, status 15 echoing the name after it).
    ::testing::AssertionResult Sync(Duration timeout = kDefaultTimeout);

    // Logs in under a nickname that is not registered, expecting the connection's own
    // announcement and then the empty success answer.
    ::testing::AssertionResult LoginAsGuest(std::string_view nickname,
                                            Duration timeout = kDefaultTimeout);

    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool PeerClosed() const { return peer_closed_; }

private:
    // Waits for more bytes; false on deadline, end of stream or error.
    bool ReceiveMore(Clock::time_point deadline);

    int fd_ = -1;
    bool peer_closed_ = false;
    std::string close_reason_;
    std::string buffer_;
    unsigned sync_counter_ = 0;
};

}  // namespace nelv::test
