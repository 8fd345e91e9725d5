// Admission of chat connections (user limit, address rules), the greeting, and what a client
// that has not logged in may do.
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

TEST(Admission, GreetsWithTheVersion) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    EXPECT_TRUE(client.ExpectMessage(std::string_view("\x08\x00\x00" "3.263", 8)));
    EXPECT_TRUE(client.Sync());
}

TEST(Admission, CommandsThatNeedALoginAreRefusedBeforeIt) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));

    // The refusal always carries sub-code 0, whatever the request's sub-code and payload.
    const uint8_t commands[] = {0, 1, 2, 3, 4, 6, 9, 12, 13, 16, 17, 18, 20, 21, 22, 23, 24};
    for (uint8_t command : commands) {
        ASSERT_TRUE(client.Send(command, 21, Fields({"room", "text"})));
        EXPECT_TRUE(client.Expect(command, 0, 14)) << "command " << int(command);
    }
    for (uint8_t sub : {16, 17, 18}) {
        ASSERT_TRUE(client.Send(7, sub, Fields({"a", "b", "c", "d", "e", "f"})));
        EXPECT_TRUE(client.Expect(7, 0, 14)) << "command 7 sub-code " << int(sub);
    }
    EXPECT_TRUE(client.Sync());
}

TEST(Admission, UnknownCommandsGetNoAnswer) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    for (int command : {5, 10, 11, 14, 15, 19, 25, 27, 128, 255}) {
        ASSERT_TRUE(client.Send(static_cast<uint8_t>(command), 0, "x"));
    }
    // Account sub-codes other than register and the three profile ones are ignored too.
    ASSERT_TRUE(client.Send(7, 0, "x"));
    ASSERT_TRUE(client.Send(7, 19, "x"));
    EXPECT_TRUE(client.Sync());
}

TEST(Admission, UserLimitRefusesTheConnectionOverIt) {
    TestServer server;
    server.SetIni("[Users]\nMaximum number of users=2\n");
    ASSERT_TRUE(server.Start());
    TestClient first, second, third;
    ASSERT_TRUE(first.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(second.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(first.LoginAsGuest("First"));
    ASSERT_TRUE(second.Expect(11, 19, 0, Fields({"First", "000000", "0"})));
    ASSERT_TRUE(third.Connect(server.Port()));
    EXPECT_TRUE(third.Expect(15, 0, 3));
    EXPECT_TRUE(third.ExpectClosed());

    // The refused connection and a departed one free their places again.
    ASSERT_TRUE(server.WaitForEventLog("Closed user connection for 127.0.0.1 ( "));
    first.Close();
    ASSERT_TRUE(server.WaitForEventLog(
        "Closed user connection for 127.0.0.1 (First) - User connections: 1"));
    EXPECT_TRUE(second.Expect(11, 20, 0, "First"));
    TestClient fourth;
    EXPECT_TRUE(fourth.ConnectAndGreet(server.Port()));
    EXPECT_TRUE(second.Sync());
}

TEST(Admission, AddressRulesRefuseDeniedPeers) {
    TestServer server;
    server.SetIni("[Users]\nIPList=A127.0.0.3, D127.0.0.*\n");
    ASSERT_TRUE(server.Start());
    TestClient allowed, denied, other;
    EXPECT_TRUE(allowed.ConnectAndGreet(server.Port(), From("127.0.0.3")));
    ASSERT_TRUE(denied.Connect(server.Port(), From("127.0.0.2")));
    EXPECT_TRUE(denied.Expect(15, 0, 7));
    EXPECT_TRUE(denied.ExpectClosed());
    ASSERT_TRUE(other.Connect(server.Port(), From("127.0.0.1")));
    EXPECT_TRUE(other.Expect(15, 0, 7));
    EXPECT_TRUE(other.ExpectClosed());
    EXPECT_TRUE(allowed.Sync());
}

TEST(Admission, EveryFailedCheckSendsItsNotice) {
    TestServer server;
    server.SetIni("[Users]\nMaximum number of users=1\nIPList=D127.0.0.2\n");
    ASSERT_TRUE(server.Start());
    TestClient first, second;
    ASSERT_TRUE(first.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(second.Connect(server.Port(), From("127.0.0.2")));
    EXPECT_TRUE(second.Expect(15, 0, 3));
    EXPECT_TRUE(second.Expect(15, 0, 7));
    EXPECT_TRUE(second.ExpectClosed());
    EXPECT_TRUE(first.Sync());
}

TEST(Admission, GuestLoginIsAnswered) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(client.Sync());  // before login: status 14
    ASSERT_TRUE(client.LoginAsGuest("Guest"));
    EXPECT_TRUE(client.Sync());  // after login: status 15 with the name
}

}  // namespace
}  // namespace nelv::test
