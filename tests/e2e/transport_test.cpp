// The byte stream of a connection: cutting it into messages, and the bounds that protect the
// server from peers that never finish a message or never read their answers.
#include <initializer_list>
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr size_t kMiB = 1024 * 1024;

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_TRUE(client_.ConnectAndGreet(server_.Port()));
    }

    TestServer server_;
    TestClient client_;
};

TEST_F(TransportTest, SeveralMessagesInOneChunkAreHandledInOrder) {
    ASSERT_TRUE(client_.SendRaw(Bytes({3, 0, 0x1F, 4, 0, 0x1F, 6, 0, 0x1F})));
    EXPECT_TRUE(client_.Expect(3, 0, 14));
    EXPECT_TRUE(client_.Expect(4, 0, 14));
    EXPECT_TRUE(client_.Expect(6, 0, 14));
    EXPECT_TRUE(client_.Sync());
}

TEST_F(TransportTest, MessageSplitOverSeveralWritesIsHandledOnce) {
    for (const std::string& part : {Bytes({6}), Bytes({0}), std::string("ro"), std::string("om"),
                                    Bytes({0x1F})}) {
        ASSERT_TRUE(client_.SendRaw(part));
    }
    EXPECT_TRUE(client_.Expect(6, 0, 14));
    EXPECT_TRUE(client_.Sync());
}

TEST_F(TransportTest, ShortMessagesAreIgnoredAndPartialOnesWait) {
    // A lone command byte and an empty message are dropped; the trailing 4 waits for its end.
    ASSERT_TRUE(client_.SendRaw(Bytes({8, 0x1F, 0x1F, 26, 0x1F, 3, 0, 0x1F, 4})));
    EXPECT_TRUE(client_.Expect(3, 0, 14));
    ASSERT_TRUE(client_.SendRaw(Bytes({0, 0x1F})));
    EXPECT_TRUE(client_.Expect(4, 0, 14));
    EXPECT_TRUE(client_.Sync());
}

TEST_F(TransportTest, ZeroBytesAreOrdinaryMessageBytes) {
    ASSERT_TRUE(client_.SendRaw(Bytes({0, 0, 0x1F})));
    EXPECT_TRUE(client_.Expect(0, 0, 14));
    ASSERT_TRUE(client_.LoginAsGuest("Zero"));
    std::string name("a\0b\0", 4);
    ASSERT_TRUE(client_.Send(23, 0, name));
    EXPECT_TRUE(client_.Expect(23, 0, 15, name));
    EXPECT_TRUE(client_.Sync());
}

TEST_F(TransportTest, LargeMessageBelowTheBoundIsHandled) {
    ASSERT_TRUE(client_.LoginAsGuest("Large"));
    // The command, value and terminator bytes fit beside the name within the 64 KiB bound.
    std::string name(64 * 1024 - 8, 'n');
    ASSERT_TRUE(client_.Send(23, 0, name));
    EXPECT_TRUE(client_.Expect(23, 0, 15, name));
    EXPECT_TRUE(client_.Sync());
}

TEST_F(TransportTest, PeerThatNeverEndsAMessageIsDisconnected) {
    TestClient flooder;
    ASSERT_TRUE(flooder.ConnectAndGreet(server_.Port()));
    // The send may fail part-way once the server has had enough.
    flooder.SendRaw(std::string(kMiB + 4096, 'A'));
    EXPECT_TRUE(flooder.ExpectClosed());
    EXPECT_TRUE(client_.Sync());
    TestClient newcomer;
    EXPECT_TRUE(newcomer.ConnectAndGreet(server_.Port()));
}

TEST(Transport, PeerThatAsksWithoutReadingIsHeldBackWithoutStallingOthers) {
    // Every answer to command 8 carries the whole welcome text, about 256 KiB here.
    std::string welcome;
    while (welcome.size() < 256 * 1024) welcome += std::string(98, 'w') + "\r\n";
    TestServer server;
    server.SetWelcome(welcome);
    ASSERT_TRUE(server.Start());

    TestClient bystander, hog;
    ASSERT_TRUE(bystander.ConnectAndGreet(server.Port()));
    ClientOptions tiny;
    tiny.receive_buffer = 4096;
    ASSERT_TRUE(hog.ConnectAndGreet(server.Port(), tiny));

    // About 25 MiB of answers in all: far more than the output bound plus what the kernel may
    // buffer on the way (its send buffer can grow to a few MiB).
    constexpr int kRequests = 100;
    std::string requests;
    for (int i = 0; i < kRequests; ++i) requests += Bytes({8, 0, 0x1F});
    ASSERT_TRUE(hog.SendRaw(requests));

    // While the hog reads nothing, its requests wait and everyone else is served.
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(bystander.Sync(Duration{5000}));
    // Once it reads, every answer arrives: it was held back, not cut off.
    for (int i = 0; i < kRequests; ++i) {
        for (uint8_t sub : {1, 4, 5}) {
            auto message = hog.Next(Duration{20000});
            ASSERT_TRUE(message) << "answer " << i;
            ASSERT_EQ(message->substr(0, 2), Bytes({10, sub})) << "answer " << i;
        }
    }
    EXPECT_TRUE(hog.Sync());
    EXPECT_TRUE(bystander.Sync());
}

}  // namespace
}  // namespace nelv::test
