#include <algorithm>
#include "support/test_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nelv::test {
namespace {

constexpr size_t kShownBytes = 200;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits until the socket is ready for the given poll events or the deadline passes.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

std::string Seconds(Duration d) {
    return std::to_string(d.count() / 1000.0).substr(0, 5) + " s";
}

}  // namespace

std::string Fields(std::initializer_list<std::string_view> fields) {
    std::string out;
    bool first = true;
    for (std::string_view f : fields) {
        if (!first) out += kFieldSeparator;
        out += f;
        first = false;
    }
    return out;
}

std::string ReplyBytes(uint8_t command, uint8_t sub, uint8_t status, std::string_view payload) {
    std::string out;
    out += static_cast<char>(command);
    out += static_cast<char>(sub);
    out += static_cast<char>(status);
    out += payload;
    return out;
}

std::string Escape(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    size_t shown = bytes.size() > kShownBytes ? kShownBytes : bytes.size();
    for (size_t i = 0; i < shown; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    if (shown < bytes.size()) {
        out += "... (" + std::to_string(bytes.size()) + " bytes in all)";
    }
    return out;
}

std::string DescribeMessage(std::string_view message) {
    if (message.size() < 3) return "\"" + Escape(message) + "\"";
    auto byte = [&](size_t i) { return std::to_string(static_cast<unsigned char>(message[i])); };
    return "[" + byte(0) + "," + byte(1) + "," + byte(2) + "] \"" + Escape(message.substr(3)) +
           "\"";
}

TestClient::~TestClient() { Close(); }

void TestClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

::testing::AssertionResult TestClient::Connect(uint16_t port, const ClientOptions& options,
                                               Duration timeout) {
    Close();
    buffer_.clear();
    peer_closed_ = false;
    close_reason_.clear();
    // Close-on-exec keeps this socket out of server processes started later by the same test.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return ::testing::AssertionFailure() << "socket: " << std::strerror(errno);
    if (options.receive_buffer > 0) {
        int size = options.receive_buffer;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!options.source_address.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, options.source_address.c_str(), &local.sin_addr) != 1) {
            return ::testing::AssertionFailure()
                   << "bad source address " << options.source_address;
        }
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return ::testing::AssertionFailure()
                   << "bind to " << options.source_address << ": " << std::strerror(errno);
        }
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A blocking connect with a send time-out: a non-blocking one could report the server's
    // reset of a refused connection as a failure to connect, although the closing notice has
    // arrived and is waiting to be read.
    timeval limit{static_cast<time_t>(timeout.count() / 1000),
                  static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int rc;
    do {
        rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EISCONN) rc = 0;
    if (rc != 0) {
        int err = errno;
        Close();
        return ::testing::AssertionFailure()
               << "connect to 127.0.0.1:" << port << ": " << std::strerror(err);
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestClient::ConnectAndGreet(uint16_t port, const ClientOptions& options,
                                                       Duration timeout) {
    auto connected = Connect(port, options, timeout);
    if (!connected) return connected;
    auto greeted = ExpectMessage(kGreeting, timeout);
    if (!greeted) return ::testing::AssertionFailure() << "greeting: " << greeted.message();
    return greeted;
}

bool TestClient::SendRaw(std::string_view bytes, Duration timeout) {
    if (fd_ < 0) return false;
    auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(fd_, POLLOUT, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

bool TestClient::Send(uint8_t command, uint8_t sub, std::string_view payload, Duration timeout) {
    std::string bytes;
    bytes += static_cast<char>(command);
    bytes += static_cast<char>(sub);
    bytes += payload;
    bytes += kTerminator;
    return SendRaw(bytes, timeout);
}

bool TestClient::ReceiveMore(Clock::time_point deadline) {
    if (fd_ < 0 || peer_closed_) return false;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            buffer_.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n == 0) {
            peer_closed_ = true;
            close_reason_ = "end of stream";
            return false;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitReady(fd_, POLLIN, deadline)) return false;
            continue;
        }
        peer_closed_ = true;
        close_reason_ = std::strerror(errno);
        return false;
    }
}

bool TestClient::ReadAvailable(size_t limit) {
    if (fd_ < 0 || peer_closed_) return false;
    char chunk[65536];
    while (limit > 0) {
        ssize_t n = ::recv(fd_, chunk, std::min(limit, sizeof chunk), MSG_DONTWAIT);
        if (n > 0) {
            buffer_.append(chunk, static_cast<size_t>(n));
            limit -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        peer_closed_ = true;
        close_reason_ = n == 0 ? "end of stream" : std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::string> TestClient::NextBuffered() {
    size_t end = buffer_.find(kTerminator);
    if (end == std::string::npos) return std::nullopt;
    std::string message = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return message;
}

std::optional<std::string> TestClient::Next(Duration timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t end = buffer_.find(kTerminator);
        if (end != std::string::npos) {
            std::string message = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return message;
        }
        if (!ReceiveMore(deadline)) return std::nullopt;
    }
}

::testing::AssertionResult TestClient::ExpectMessage(std::string_view message, Duration timeout) {
    auto got = Next(timeout);
    if (!got) {
        auto failure = ::testing::AssertionFailure() << "expected " << DescribeMessage(message);
        if (peer_closed_) {
            failure << " but the connection was closed (" << close_reason_ << ")";
        } else {
            failure << " but nothing came within " << Seconds(timeout);
        }
        if (!buffer_.empty()) failure << "; unterminated bytes: \"" << Escape(buffer_) << "\"";
        return failure;
    }
    if (*got != message) {
        return ::testing::AssertionFailure()
               << "expected " << DescribeMessage(message) << " but got " << DescribeMessage(*got);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestClient::Expect(uint8_t command, uint8_t sub, uint8_t status,
                                              std::string_view payload, Duration timeout) {
    return ExpectMessage(ReplyBytes(command, sub, status, payload), timeout);
}

::testing::AssertionResult TestClient::ExpectClosed(Duration timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t end = buffer_.find(kTerminator);
        if (end != std::string::npos) {
            return ::testing::AssertionFailure()
                   << "expected the connection to be closed but got "
                   << DescribeMessage(std::string_view(buffer_).substr(0, end));
        }
        if (!ReceiveMore(deadline)) {
            if (peer_closed_) {
                if (buffer_.empty()) return ::testing::AssertionSuccess();
                return ::testing::AssertionFailure()
                       << "closed, but after the unterminated bytes \"" << Escape(buffer_) << "\"";
            }
            return ::testing::AssertionFailure()
                   << "the connection is still open after " << Seconds(timeout);
        }
    }
}

::testing::AssertionResult TestClient::DrainUntilClosed(Duration timeout, size_t* discarded) {
    auto deadline = Clock::now() + timeout;
    size_t total = 0;
    for (;;) {
        total += buffer_.size();
        buffer_.clear();
        if (!ReceiveMore(deadline)) break;
    }
    if (discarded) *discarded += total;
    if (peer_closed_) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the connection is still open after "
                                         << Seconds(timeout) << " (" << total << " bytes read)";
}

::testing::AssertionResult TestClient::Sync(Duration timeout) {
    // Blanks make the name invalid as a nickname, and it does not start with a blank as the
    // placeholder names of connections that have not logged in do, so no user can have it.
    std::string probe = "sync probe " + std::to_string(++sync_counter_);
    if (!Send(23, 0, probe, timeout)) {
        return ::testing::AssertionFailure() << "sync: could not send the probe";
    }
    auto got = Next(timeout);
    if (!got) {
        auto failure = ::testing::AssertionFailure() << "sync: no answer to the probe, ";
        if (peer_closed_) return failure << "the connection was closed (" << close_reason_ << ")";
        return failure << "nothing came within " << Seconds(timeout);
    }
    if (*got == ReplyBytes(23, 0, 14) || *got == ReplyBytes(23, 0, 15, probe)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "sync: expected the answer to the probe but got " << DescribeMessage(*got);
}

::testing::AssertionResult TestClient::LoginAsGuest(std::string_view nickname, Duration timeout) {
    if (!Send(26, 0, Fields({nickname, ""}), timeout)) {
        return ::testing::AssertionFailure() << "login: could not send";
    }
    std::string announcement = std::string(nickname) + kFieldSeparator + "000000" +
                               kFieldSeparator + "0";
    auto announced = Expect(11, 19, 0, announcement, timeout);
    if (!announced) return ::testing::AssertionFailure() << "login: " << announced.message();
    auto answered = Expect(26, 0, 0, "", timeout);
    if (!answered) return ::testing::AssertionFailure() << "login: " << answered.message();
    return answered;
}

}  // namespace nelv::test
