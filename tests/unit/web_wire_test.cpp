// The web wire as a pure core: requests and frames in, what it emits and
// hands to the chat out. One table row per case.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/web_wire.h"

namespace nelv::net {
namespace {

namespace fs = std::filesystem;

struct Recorder : WebWire::Sink {
    std::string emitted;
    std::vector<std::string> messages;
    std::vector<std::string> upgrades;  // the client address of each
    bool closed = false;
    bool admit = true;
    void Emit(std::string_view bytes) override { emitted += bytes; }
    bool Upgraded(std::uint32_t address) override {
        upgrades.push_back(AddressText(address));
        return admit;
    }
    void Message(std::string_view message) override { messages.emplace_back(message); }
    void Close() override { closed = true; }
    std::size_t Unsent() const override { return 0; }
    std::string AddressText(std::uint32_t address) const {
        char text[INET_ADDRSTRLEN];
        in_addr a{address};
        return inet_ntop(AF_INET, &a, text, sizeof text);
    }
};

// A client frame: masked, with the given first byte (FIN and opcode).
std::string ClientFrame(std::uint8_t first, std::string_view payload, bool masked = true) {
    std::string frame = WebFrameHeader(first & 0x0F, payload.size());
    frame[0] = static_cast<char>(first);
    if (!masked) return frame + std::string(payload);
    frame[1] = static_cast<char>(frame[1] | 0x80);
    const char mask[4] = {1, 2, 3, 4};
    frame.append(mask, 4);
    for (std::size_t i = 0; i < payload.size(); ++i) frame.push_back(static_cast<char>(payload[i] ^ mask[i % 4]));
    return frame;
}

const std::string kUpgrade =
    "GET /chat HTTP/1.1\r\nHost: chat.test:8080\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
const std::string kUpgraded = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

struct WireCase {
    const char* name;
    std::string input;        // everything the client sends
    std::string emittedStart;  // what the wire emits starts with this
    std::vector<std::string> messages;
    bool closed;
    std::string emittedEnd = {};  // ... and ends with this
};

const std::string kFile = "<p>hello</p>";

const WireCase kCases[] = {
    {"FileWithTypeAndLength", "GET / HTTP/1.1\r\nHost: a\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 12\r\nETag: ", {}, false, kFile},
    {"HeadHasNoBody", "HEAD /index.html HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK\r\n", {}, false,
     "Cache-Control: no-cache\r\n\r\n"},
    {"Http10ClosesAfterTheAnswer", "GET /app.js HTTP/1.0\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: text/javascript; charset=utf-8\r\n", {}, true, "Connection: close\r\n\r\n1;"},
    {"TwoRequestsInARow", "GET /app.js HTTP/1.1\r\nHost: a\r\n\r\nGET /nothing HTTP/1.1\r\nHost: a\r\n\r\n",
     "HTTP/1.1 200 OK\r\n", {}, false, "404 Not Found\n"},
    {"ClimbingOutIsNotFound", "GET /../secret.txt HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 404 Not Found\r\n", {}, false},
    {"EncodedClimbingOutIsNotFound", "GET /%2e%2e/secret.txt HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 404 Not Found\r\n",
     {}, false},
    {"ALinkOutOfTheRootIsNotFollowed", "GET /link.txt HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 404 Not Found\r\n", {},
     false},
    {"OtherMethodsAreRefused", "POST / HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n",
     {}, true},
    {"MalformedRequestLine", "GET /\r\nHost: a\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n", {}, true},
    {"Http11WithoutHost", "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n", {}, true},
    {"HeadersOverTheLimit", "GET / HTTP/1.1\r\nHost: a\r\nX: " + std::string(9000, 'x'),
     "HTTP/1.1 431 Request Header Fields Too Large\r\n", {}, true},
    {"UpgradeAndMessages", kUpgrade + "\r\n" + ClientFrame(0x82, std::string("\x1A\0Web|", 6)) + ClientFrame(0x82, ""),
     kUpgraded, {std::string("\x1A\0Web|", 6), ""}, false},
    {"OwnOriginIsAllowed", kUpgrade + "Origin: https://CHAT.test:8080\r\n\r\n", kUpgraded, {}, false},
    {"ListedOriginIsAllowed", kUpgrade + "Origin: http://friend.test\r\n\r\n", kUpgraded, {}, false},
    {"OtherOriginIsForbidden", kUpgrade + "Origin: http://evil.test\r\n\r\n", "HTTP/1.1 403 Forbidden\r\n", {}, true},
    {"WrongVersion", "GET /chat HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 8\r\n\r\n",
     "HTTP/1.1 426 Upgrade Required\r\nSec-WebSocket-Version: 13\r\n", {}, true},
    {"FragmentsAreJoinedAroundAPing",
     kUpgrade + "\r\n" + ClientFrame(0x02, "ab") + ClientFrame(0x89, "p") + ClientFrame(0x80, "cd"),
     kUpgraded + "\x8A\x01p", {"abcd"}, false},
    {"TextIsRefused", kUpgrade + "\r\n" + ClientFrame(0x81, "hi"), kUpgraded + "\x88\x02\x03\xEB", {}, true},
    {"UnmaskedIsAProtocolError", kUpgrade + "\r\n" + ClientFrame(0x82, "hi", false), kUpgraded + "\x88\x02\x03\xEA", {},
     true},
    {"ReservedBitIsAProtocolError", kUpgrade + "\r\n" + ClientFrame(0xC2, "hi"), kUpgraded + "\x88\x02\x03\xEA", {},
     true},
    {"LongPingIsAProtocolError", kUpgrade + "\r\n" + ClientFrame(0x89, std::string(126, 'p')),
     kUpgraded + "\x88\x02\x03\xEA", {}, true},
    {"ContinuationWithoutStart", kUpgrade + "\r\n" + ClientFrame(0x80, "x"), kUpgraded + "\x88\x02\x03\xEA", {}, true},
    {"MessageOverTheLimit", kUpgrade + "\r\n" + ClientFrame(0x02, std::string(40'000, 'x')) +
                                ClientFrame(0x80, std::string(30'000, 'y')),
     kUpgraded + "\x88\x02\x03\xF1", {}, true},
    {"CloseIsAnsweredWithItsCode", kUpgrade + "\r\n" + ClientFrame(0x88, "\x03\xE8") + ClientFrame(0x82, "late"),
     kUpgraded + "\x88\x02\x03\xE8", {}, true},
};

class WebWireTest : public ::testing::TestWithParam<WireCase> {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("web_wire_test_" + std::to_string(getpid()));
        fs::create_directories(root_ / "site");
        std::ofstream(root_ / "site" / "index.html") << kFile;
        std::ofstream(root_ / "site" / "app.js") << "1;";
        std::ofstream(root_ / "secret.txt") << "secret";
        fs::create_symlink(root_ / "secret.txt", root_ / "site" / "link.txt");
        settings_.root = (root_ / "site").string();
        settings_.allowedOrigins = {"http://friend.test"};
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    WebSettings settings_;
};

TEST_P(WebWireTest, Answers) {
    const WireCase& c = GetParam();
    WebWire wire(settings_, htonl(0x7F000001));
    Recorder sink;
    // Byte by byte: whatever the chunks, the result is the same.
    for (char byte : c.input) wire.Take(std::string_view(&byte, 1), sink, 1 << 20);
    EXPECT_EQ(sink.emitted.substr(0, c.emittedStart.size()), c.emittedStart);
    if (!c.emittedEnd.empty()) {
        ASSERT_GE(sink.emitted.size(), c.emittedEnd.size());
        EXPECT_EQ(sink.emitted.substr(sink.emitted.size() - c.emittedEnd.size()), c.emittedEnd);
    }
    EXPECT_EQ(sink.messages, c.messages);
    EXPECT_EQ(sink.closed, c.closed);
}

TEST_F(WebWireTest, AnUnchangedFileIsNotSentAgain) {
    WebWire wire(settings_, 0);
    Recorder sink;
    wire.Take("GET / HTTP/1.1\r\nHost: a\r\n\r\n", sink, 1 << 20);
    const auto at = sink.emitted.find("ETag: ") + 6;
    const std::string tag = sink.emitted.substr(at, sink.emitted.find("\r\n", at) - at);
    sink.emitted.clear();
    wire.Take("GET / HTTP/1.1\r\nHost: a\r\nIf-None-Match: " + tag + "\r\n\r\n", sink, 1 << 20);
    EXPECT_EQ(sink.emitted.rfind("HTTP/1.1 304 Not Modified\r\n", 0), 0u) << sink.emitted;
    EXPECT_EQ(sink.emitted.find(kFile), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Requests, WebWireTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(WebWire, ForwardedAddressOnlyFromATrustedProxy) {
    WebSettings settings;
    settings.trustedProxies = {"A127.0.0.1"};
    const std::string request = kUpgrade + "X-Forwarded-For: 10.1.1.1, 192.0.2.7\r\n\r\n";
    for (auto [peer, seen] : {std::pair{0x7F000001u, "192.0.2.7"}, std::pair{0x7F000002u, "127.0.0.2"}}) {
        WebWire wire(settings, htonl(peer));
        Recorder sink;
        wire.Take(request, sink, 0);
        EXPECT_EQ(sink.upgrades, std::vector<std::string>{seen});
    }
}

TEST(WebWire, GoodbyeIsOneNormalCloseAfterAnUpgrade) {
    WebSettings settings;
    WebWire wire(settings, 0);
    Recorder sink;
    EXPECT_EQ(wire.Goodbye(), "");  // plain HTTP has no close frame
    wire.Take(kUpgrade + "\r\n", sink, 0);
    EXPECT_EQ(wire.Goodbye(), "\x88\x02\x03\xE8");
    EXPECT_EQ(wire.Goodbye(), "");
}

TEST(WebWire, FrameLengthsUseTheShortestForm) {
    EXPECT_EQ(WebFrameHeader(2, 125), "\x82\x7D");
    EXPECT_EQ(WebFrameHeader(2, 126), std::string("\x82\x7E\x00\x7E", 4));
    EXPECT_EQ(WebFrameHeader(2, 65536), std::string("\x82\x7F\0\0\0\0\0\x01\0\0", 10));
}

}  // namespace
}  // namespace nelv::net
