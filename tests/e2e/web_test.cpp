// The web listener of a running server: its page, and WebSocket clients that
// are ordinary chat connections (admission, talk with TCP clients, shutdown).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

// A WebSocket client over a plain socket; every read has a deadline.
class WebClient {
public:
    ~WebClient() {
        if (fd_ >= 0) close(fd_);
    }
    bool Connect(uint16_t port, const char* from = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{AF_INET, 0, {inet_addr(from)}, {}};
        sockaddr_in server{AF_INET, htons(port), {inet_addr("127.0.0.1")}, {}};
        return bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
               connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    bool Write(std::string_view bytes) { return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    // The head of the HTTP response, up to the blank line.
    std::optional<std::string> Head() {
        std::size_t end;
        while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!More()) return std::nullopt;
        }
        std::string head = buffer_.substr(0, end + 4);
        buffer_.erase(0, end + 4);
        return head;
    }
    bool Upgrade(uint16_t port, const char* from = "127.0.0.1") {
        return Connect(port, from) &&
               Write("GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n") &&
               Head().value_or("").rfind("HTTP/1.1 101 ", 0) == 0;
    }
    // Sends one chat message as a masked binary frame.
    bool Send(uint8_t command, uint8_t sub, std::string_view payload = {}) {
        std::string message{char(command), char(sub)};
        message += payload;
        std::string frame{'\x82'};
        if (message.size() < 126) {
            frame += char(0x80 | message.size());
        } else {
            frame += {'\xFE', char(message.size() >> 8), char(message.size() & 0xFF)};
        }
        frame += std::string(4, '\0');  // a zero mask leaves the bytes as they are
        return Write(frame + message);
    }
    // The next frame as opcode and payload.
    std::optional<std::pair<int, std::string>> Frame() {
        while (true) {
            if (buffer_.size() >= 2) {
                std::size_t length = buffer_[1] & 0x7F, at = 2;
                if (length == 126 && buffer_.size() >= 4) {
                    length = (std::size_t(uint8_t(buffer_[2])) << 8) | uint8_t(buffer_[3]);
                    at = 4;
                }
                if (length < 127 && buffer_.size() >= at + length) {
                    std::pair<int, std::string> frame{buffer_[0] & 0x0F, buffer_.substr(at, length)};
                    buffer_.erase(0, at + length);
                    return frame;
                }
            }
            if (!More()) return std::nullopt;
        }
    }
    // The next `n` bytes as they come (what is left of them at the end).
    std::string Read(std::size_t n) {
        while (buffer_.size() < n && More()) {
        }
        std::string bytes = buffer_.substr(0, n);
        buffer_.erase(0, bytes.size());
        return bytes;
    }
    // The next binary message that `wanted` accepts; others are skipped.
    std::optional<std::string> Until(const std::function<bool(const std::string&)>& wanted) {
        while (auto frame = Frame()) {
            if (frame->first == 2 && wanted(frame->second)) return frame->second;
        }
        return std::nullopt;
    }

private:
    bool More() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(kDefaultTimeout.count())) != 1) return false;
        char chunk[65536];
        ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, std::size_t(n));
        return true;
    }
    int fd_ = -1;
    std::string buffer_;
};

struct WebCase {
    const char* name;
    const char* ini;  // besides the web port
    std::function<void(TestServer&, uint16_t webPort)> run;
};

const WebCase kCases[] = {
    {"ThePageIsServed", "",
     [](TestServer&, uint16_t webPort) {
         WebClient browser;
         ASSERT_TRUE(browser.Connect(webPort));
         ASSERT_TRUE(browser.Write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
         const std::string head = browser.Head().value_or("");
         EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n", 0), 0u) << head;
     }},
    {"WebAndTcpClientsTalkInOneRoom", "",
     [](TestServer& server, uint16_t webPort) {
         TestClient tcp;
         ASSERT_TRUE(tcp.ConnectAndGreet(server.Port()));
         ASSERT_TRUE(tcp.LoginAsGuest("Tcp"));
         WebClient web;
         ASSERT_TRUE(web.Upgrade(webPort));
         EXPECT_EQ(web.Frame(), (std::pair<int, std::string>{2, std::string(kGreeting)}));
         ASSERT_TRUE(web.Send(26, 0, Fields({"Webby", ""})));
         ASSERT_TRUE(web.Until([](const std::string& m) { return m == ReplyBytes(26, 0, 0); }));
         ASSERT_TRUE(web.Send(0, 0, "Mixed"));
         ASSERT_TRUE(web.Until([](const std::string& m) { return m.rfind(ReplyBytes(0, 0, 0), 0) == 0; }));
         ASSERT_TRUE(tcp.Send(0, 0, "Mixed"));
         ASSERT_TRUE(Drain(tcp));
         ASSERT_TRUE(web.Send(3, 0, Fields({"Mixed", "from the browser"})));
         const std::string fromWeb = RoomEvent(1, '\0', "Mixed", "Webby", "000000", "from the browser");
         auto tcpGets = [&tcp](const std::string& wanted) {
             while (auto m = tcp.Next()) {
                 if (*m == wanted) return true;
             }
             return false;
         };
         EXPECT_TRUE(tcpGets(fromWeb));
         ASSERT_TRUE(tcp.Send(3, 0, Fields({"Mixed", "from the terminal"})));
         const std::string fromTcp = RoomEvent(1, '\0', "Mixed", "Tcp", "000000", "from the terminal");
         EXPECT_TRUE(web.Until([&](const std::string& m) { return m == fromTcp; }));
         // And privately, both ways.
         ASSERT_TRUE(web.Send(24, 0, Fields({"Tcp", "psst"})));
         const std::string privately = ReplyBytes(5, 0, 0, std::string(1, '\0') + Fields({"Webby", "000000", "psst"}));
         EXPECT_TRUE(tcpGets(privately));
         ASSERT_TRUE(tcp.Send(24, 0, Fields({"Webby", "pssst"})));
         EXPECT_TRUE(web.Until([](const std::string& m) { return m == ReplyBytes(5, 0, 0, std::string(1, '\0') + Fields({"Tcp", "000000", "pssst"})); }));
     }},
    {"ShutdownNoticeIsFollowedByANormalClose", "",
     [](TestServer& server, uint16_t webPort) {
         WebClient web;
         ASSERT_TRUE(web.Upgrade(webPort));
         ASSERT_TRUE(web.Frame());
         server.Signal(SIGTERM);
         EXPECT_EQ(web.Frame(), (std::pair<int, std::string>{2, ReplyBytes(15, 0, 13)}));
         EXPECT_EQ(web.Frame(), (std::pair<int, std::string>{8, "\x03\xE8"}));
         EXPECT_EQ(server.WaitForExit(), 0);
     }},
    {"TheAddressLimitCountsWebClients", "[Users]\nMaximum number of connections per address=1\n",
     [](TestServer& server, uint16_t webPort) {
         TestClient tcp;
         ASSERT_TRUE(tcp.ConnectAndGreet(server.Port(), From("127.0.0.5")));
         WebClient web;
         ASSERT_TRUE(web.Upgrade(webPort, "127.0.0.5"));
         EXPECT_EQ(web.Frame(), (std::pair<int, std::string>{2, ReplyBytes(15, 0, 3)}));
         EXPECT_EQ(web.Frame(), (std::pair<int, std::string>{8, "\x03\xE8"}));
     }},
};

// One request (after an upgrade when `upgrade` is set) and how the answer starts.
struct Exchange {
    const char* name;
    bool upgrade;
    std::string sent;
    std::string answer;
};
std::string Masked(std::string_view first, std::string_view payload) {
    std::string frame(first);
    frame += char(0x80 | payload.size());  // short payloads only
    return frame + std::string(4, '\0') + std::string(payload);
}
const Exchange kExchanges[] = {
    {"MissingFile", false, "GET /missing.html HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
    {"OtherMethod", false, "DELETE / HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
    {"Malformed", false, "HELLO\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
    {"HugeHeaders", false, "GET / HTTP/1.1\r\nHost: h\r\nX: " + std::string(9000, 'x') + "\r\n\r\n",
     "HTTP/1.1 431 Request Header Fields Too Large\r\n"},
    {"ForeignOrigin", false,
     "GET /chat HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nOrigin: http://elsewhere\r\n"
     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
     "HTTP/1.1 403 Forbidden\r\n"},
    {"PingIsAnswered", true, Masked("\x89", "beat"), "\x8A\x04" "beat"},
    {"TextIsRefused", true, Masked("\x81", "hi"), "\x88\x02\x03\xEB"},
    {"UnmaskedIsRefused", true, "\x82\x02hi", "\x88\x02\x03\xEA"},
    {"OverTheLimit", true, std::string("\x82\xFF\0\0\0\0\0\x01\0\x01", 10), "\x88\x02\x03\xF1"},
    {"CloseIsAnswered", true, Masked("\x88", "\x03\xE8"), "\x88\x02\x03\xE8"},
};

// Starts `server` with `ini` and a web listener on a port of its own; returns that port.
uint16_t StartWithWeb(TestServer& server, const std::string& ini) {
    const uint16_t webPort = PickFreePort();
    uint16_t chatPort;
    do chatPort = PickFreePort();
    while (chatPort == webPort);
    server.SetPort(chatPort);
    server.SetIni(ini + "[Web]\nPort=" + std::to_string(webPort) + "\nBindTo=127.0.0.1\n");
    EXPECT_TRUE(server.Start());
    return webPort;
}

TEST(WebRules, OverARealSocket) {
    TestServer server;
    const uint16_t webPort = StartWithWeb(server, "");
    for (const Exchange& e : kExchanges) {
        WebClient client;
        if (e.upgrade) {
            ASSERT_TRUE(client.Upgrade(webPort)) << e.name;
            ASSERT_TRUE(client.Frame()) << e.name;  // the greeting
        } else {
            ASSERT_TRUE(client.Connect(webPort)) << e.name;
        }
        ASSERT_TRUE(client.Write(e.sent)) << e.name;
        EXPECT_EQ(client.Read(e.answer.size()), e.answer) << e.name;
    }
}

class WebTest : public ::testing::TestWithParam<WebCase> {};

TEST_P(WebTest, Serves) {
    TestServer server;
    const uint16_t webPort = StartWithWeb(server, GetParam().ini);
    GetParam().run(server, webPort);
}

INSTANTIATE_TEST_SUITE_P(Browsers, WebTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace nelv::test
