// The server information burst (command 8): chat name and welcome text, banners, the visible
// rooms with the system rooms of the configuration first, and the visible users.
#include <string>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

std::string Entries(std::initializer_list<std::string> entries) {
    std::string text;
    for (const std::string& entry : entries) text += entry + kEntrySeparator;
    return text;
}

TEST(ServerInfo, BurstBeforeLoginListsSystemRoomsAndUsers) {
    TestServer server;
    server.SetIni(
        "[General]\nChatname=Test Chat\n"
        "[System rooms]\n"
        "Lobby=00FF00,Welcome, all\n"
        "Games=GGGGGG,Games\n"
        "Plain=abcdef\n"
        "Long=1234567\n"
        "Red=red,Chat\n"
        "[Banners]\nA=x\nUpdate interval=30\nB=y\n");
    server.SetWelcome("Line one\r\nLine two\r\n");
    ASSERT_TRUE(server.Start());

    const std::string lobby = RoomInfo("Lobby", "Welcome, all", "00FF00", 0, 0, true, false, false);
    const std::string games = RoomInfo("Games", "Games", "FFFFFF", 0, 0, true, false, false);
    const std::string plain = RoomInfo("Plain", "", "abcdef", 0, 0, true, false, false);
    const std::string longColor = RoomInfo("Long", "", "FFFFFF", 0, 0, true, false, false);
    const std::string red = RoomInfo("Red", "Chat", "FFFFFF", 0, 0, true, false, false);

    Crowd crowd(server);
    ASSERT_TRUE(crowd.Add(""));
    TestClient& guest = crowd[0];
    auto expectBurst = [&](const std::string& rooms, const std::string& users) {
        ASSERT_TRUE(guest.Send(8, 0));
        EXPECT_TRUE(guest.Expect(10, 1, 0, "Test Chat\x01Line one\r\nLine two\r\n"));
        EXPECT_TRUE(guest.Expect(10, 3, 0, "30:A=x\r\nB=y\r\n"));
        EXPECT_TRUE(guest.Expect(10, 4, 0, rooms));
        EXPECT_TRUE(guest.Expect(10, 5, 0, users));
    };
    expectBurst(Entries({lobby, games, plain, longColor, red}), "");

    // User rooms follow the system rooms; a system room with members shows their count.
    ASSERT_TRUE(crowd.Add("Ann"));
    ASSERT_TRUE(crowd.Add("Bob"));
    TestClient& ann = crowd[1];
    TestClient& bob = crowd[2];
    ASSERT_TRUE(bob.Send(0, 0, "Zed"));
    ASSERT_TRUE(Drain(bob));
    EXPECT_TRUE(guest.Expect(19, 19, 0, UserRoomInfo("Zed", 1)));
    EXPECT_TRUE(ann.Expect(19, 19, 0, UserRoomInfo("Zed", 1)));
    // The first one in a system room is no owner.
    ASSERT_TRUE(ann.Send(0, 0, "plain"));
    EXPECT_TRUE(ann.Expect(0, 0, 0, Fields({"Plain", "abcdef"})));
    EXPECT_TRUE(ann.ExpectMessage(RoomEvent(2, '\0', "Plain", "Ann", "000000", "0")));
    const std::string plainWithAnn = RoomInfo("Plain", "", "abcdef", 1, 0, true, false, false);
    EXPECT_TRUE(crowd.AllExpect(ReplyBytes(19, 19, 0, plainWithAnn)));
    expectBurst(Entries({lobby, games, plainWithAnn, longColor, red, UserRoomInfo("Zed", 1)}),
                Entries({Fields({"Ann", "000000", "0"}), Fields({"Bob", "000000", "0"})}));

    // Login needs no further step: a logged-in client gets the same answer.
    ASSERT_TRUE(ann.Send(8, 3, "ignored"));
    EXPECT_TRUE(ann.Expect(10, 1, 0, "Test Chat\x01Line one\r\nLine two\r\n"));
    ASSERT_TRUE(Drain(ann));
}

TEST(ServerInfo, NoBannersWithoutAPositiveIntervalAndNoWelcomeFile) {
    TestServer server;
    server.SetIni("[Banners]\nUpdate interval=-5\nA=x\n");
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(client.Send(8, 0));
    EXPECT_TRUE(client.Expect(10, 1, 0, "My NELV Chat\x01"));
    EXPECT_TRUE(client.Expect(10, 4, 0, ""));
    EXPECT_TRUE(client.Expect(10, 5, 0, ""));
    EXPECT_TRUE(client.Sync());
}

}  // namespace
}  // namespace nelv::test
