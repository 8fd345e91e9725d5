// The idle sweep and the CUI text, run in-process against real chat
// connections over socket pairs, with the clock under the test's control.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/clock.h"
#include "base/server_config.h"
#include "base/server_lock.h"
#include "protocol/chat_connection.h"
#include "server/maintenance.h"

namespace nelv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// The far end of one chat connection served in this process.
class Peer {
public:
    Peer() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fd_ = fds[1];
        auto user = std::make_shared<protocol::TActUser>();
        user->Attach(fds[0], htonl(0x7F000001));
        EXPECT_EQ(net::StartConnectionThread(user), 0);
    }
    ~Peer() { close(fd_); }

    void Send(std::string bytes) {
        bytes.push_back('\x1F');
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Next message, or nullopt at the deadline or end of stream.
    std::optional<std::string> Next(std::chrono::milliseconds timeout = 5000ms) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto pos = buffer_.find('\x1F'); pos != std::string::npos) {
                std::string message = buffer_.substr(0, pos);
                buffer_.erase(0, pos + 1);
                return message;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    bool Closed(std::chrono::milliseconds timeout = 5000ms) {
        while (Next(timeout)) {
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return false;
        char c;
        return read(fd_, &c, 1) == 0;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

std::size_t OnlineCount() {
    ServerLockGuard lock;
    return protocol::OnlineUsers().size();
}

bool WaitForOnlineCount(std::size_t count) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (OnlineCount() == count) return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

class MaintenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitForOnlineCount(0));
        SetClockForTests([this] { return now_; });
        Config().TimeoutMinutes = 15;
    }
    void TearDown() override {
        // Peers are closed by now; let their connection threads finish.
        EXPECT_TRUE(WaitForOnlineCount(0));
        SetClockForTests({});
        Config() = ServerConfig{};
    }
    double now_ = 45000.5;
};

TEST_F(MaintenanceTest, IdleSweepDropsOnlyAfterTheTimeoutHasStrictlyPassed) {
    Peer idle;
    ASSERT_EQ(idle.Next(), std::string("\x08\x00\x00" "3.263", 8));
    ASSERT_TRUE(WaitForOnlineCount(1));

    // Exactly the time-out later the connection stays.
    server::IdleSweep(now_ + 15 * kMinute);
    idle.Send(std::string("\x17\x00?", 3));  // lookup before login: answered with status 14
    EXPECT_EQ(idle.Next(), std::string("\x17\x00\x0E", 3));

    // That request renewed the activity time; a minute past the time-out drops it.
    now_ += 1.0 / 86400;
    server::IdleSweep(now_ + 16 * kMinute);
    EXPECT_EQ(idle.Next(), std::string("\x0F\x00\x0B", 3));
    EXPECT_TRUE(idle.Closed());
    EXPECT_TRUE(WaitForOnlineCount(0));
}

TEST_F(MaintenanceTest, NoTimeoutNeverDrops) {
    Config().TimeoutMinutes = 0;
    Peer peer;
    ASSERT_TRUE(peer.Next());
    server::IdleSweep(now_ + 100000);
    peer.Send(std::string("\x17\x00?", 3));
    EXPECT_EQ(peer.Next(), std::string("\x17\x00\x0E", 3));
}

TEST_F(MaintenanceTest, CuiTextListsVisibleUsersInConnectOrder) {
    // Each greeting is awaited before the next connection starts, so the
    // connection order is fixed.
    Peer alice;
    ASSERT_TRUE(alice.Next());
    Peer ghost;
    ASSERT_TRUE(ghost.Next());
    Peer bob;
    ASSERT_TRUE(bob.Next());
    const std::string loggedIn("\x1A\x00\x00", 3);
    alice.Send(std::string("\x1A\x00" "Alice\x01", 8));
    EXPECT_EQ(alice.Next(), "\x0B\x13\x00" "Alice\x01" "000000\x01" "0"s);
    EXPECT_EQ(alice.Next(), loggedIn);
    bob.Send(std::string("\x1A\x00" "Bob\x01", 6));
    EXPECT_EQ(bob.Next(), "\x0B\x13\x00" "Alice\x01" "000000\x01" "0"s);  // announced before Bob came
    EXPECT_EQ(bob.Next(), "\x0B\x13\x00" "Bob\x01" "000000\x01" "0"s);
    EXPECT_EQ(bob.Next(), loggedIn);
    ServerLockGuard lock;
    // The never-logged-in connection is invisible and left out.
    EXPECT_EQ(server::CuiText(), "Alice 000000\r\nBob 000000\r\n");
}

}  // namespace
}  // namespace nelv
