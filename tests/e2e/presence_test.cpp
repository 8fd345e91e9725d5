// How users are shown to each other: invisibility (command 9), away and back (command 13) and
// colour (command 18), with their broadcasts, room events and the record of a registered user.
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

// The payload of a room event: value byte, room, actor nickname, actor colour, data.
std::string RoomEvent(char value, std::string_view room, std::string_view actor,
                      std::string_view color, std::string_view data) {
    return std::string(1, value) + Fields({room, actor, color, data});
}

std::string Announcement(std::string_view nickname, std::string_view color, std::string_view status) {
    return Fields({nickname, color, status});
}

// Joins a room nobody is in, so the joiner becomes its owner; `others` hear of the new room.
::testing::AssertionResult CreateRoom(TestClient& joiner, std::string_view nickname,
                                      std::string_view color, std::string_view room,
                                      std::initializer_list<TestClient*> others) {
    if (!joiner.Send(0, 0, room)) return ::testing::AssertionFailure() << "join: could not send";
    const std::string info = Fields({room, "", "FFFFFF", "1", "0", "0", "0", "0"});
    for (auto result : {joiner.Expect(0, 0, 0, Fields({room, "FFFFFF"})),
                        joiner.Expect(14, 2, 0, RoomEvent('\0', room, nickname, color, "2")),
                        joiner.Expect(19, 19, 0, info)}) {
        if (!result) return result;
    }
    for (TestClient* other : others) {
        if (auto result = other->Expect(19, 19, 0, info); !result) return result;
    }
    return ::testing::AssertionSuccess();
}

TEST(Presence, InvisibilityIsSwitchedAndAnnounced) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient ann, ben, lurker;
    ASSERT_TRUE(ann.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(ben.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(lurker.ConnectAndGreet(server.Port()));  // never logs in, still hears everything
    ASSERT_TRUE(ann.LoginAsGuest("Ann"));
    ASSERT_TRUE(ben.Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
    ASSERT_TRUE(lurker.Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
    ASSERT_TRUE(ben.LoginAsGuest("Ben"));
    ASSERT_TRUE(ann.Expect(11, 19, 0, Announcement("Ben", "000000", "0")));
    ASSERT_TRUE(lurker.Expect(11, 19, 0, Announcement("Ben", "000000", "0")));

    auto expect_gone = [&] {
        for (TestClient* c : {&ann, &ben, &lurker}) EXPECT_TRUE(c->Expect(11, 20, 0, "Ann"));
        EXPECT_TRUE(ann.Expect(9, '1', 0));
    };
    auto expect_back = [&] {
        for (TestClient* c : {&ann, &ben, &lurker}) {
            EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
        }
        EXPECT_TRUE(ann.Expect(9, '0', 0));
    };

    ASSERT_TRUE(ann.Send(9, 0));  // toggle: invisible
    expect_gone();
    ASSERT_TRUE(ann.Send(9, 21));  // already invisible: nothing at all
    ASSERT_TRUE(ann.Sync());
    ASSERT_TRUE(ann.Send(9, 5));  // any other sub-code announces the current state again
    expect_gone();
    ASSERT_TRUE(ann.Send(9, 0));  // toggle: visible
    expect_back();
    ASSERT_TRUE(ann.Send(9, 22));  // already visible: nothing at all
    ASSERT_TRUE(ann.Sync());
    ASSERT_TRUE(ann.Send(9, 5));
    expect_back();
    ASSERT_TRUE(ann.Send(9, 21));
    expect_gone();
    ASSERT_TRUE(ann.Send(9, 22));
    expect_back();
    for (TestClient* c : {&ann, &ben, &lurker}) EXPECT_TRUE(c->Sync());
}

TEST(Presence, AwayAndBackReachRoomsAndEveryone) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient ann, ben, cid;
    ASSERT_TRUE(ann.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(ben.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(cid.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(ann.LoginAsGuest("Ann"));
    ASSERT_TRUE(ben.Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
    ASSERT_TRUE(cid.Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
    ASSERT_TRUE(ben.LoginAsGuest("Ben"));
    ASSERT_TRUE(ann.Expect(11, 19, 0, Announcement("Ben", "000000", "0")));
    ASSERT_TRUE(cid.Expect(11, 19, 0, Announcement("Ben", "000000", "0")));
    ASSERT_TRUE(cid.LoginAsGuest("Cid"));
    ASSERT_TRUE(ann.Expect(11, 19, 0, Announcement("Cid", "000000", "0")));
    ASSERT_TRUE(ben.Expect(11, 19, 0, Announcement("Cid", "000000", "0")));

    // Ann owns Lounge; Ben is an ordinary member; Cid is in no room.
    ASSERT_TRUE(CreateRoom(ann, "Ann", "000000", "Lounge", {&ben, &cid}));
    ASSERT_TRUE(ben.Send(0, 0, "Lounge"));
    ASSERT_TRUE(ben.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    ASSERT_TRUE(ben.Expect(14, 0, 0, RoomEvent('\0', "Lounge", "Ann", "000000", "2")));
    ASSERT_TRUE(ben.Expect(14, 2, 0, RoomEvent('\0', "Lounge", "Ben", "000000", "0")));
    ASSERT_TRUE(ann.Expect(14, 2, 0, RoomEvent('\0', "Lounge", "Ben", "000000", "0")));
    const std::string info = Fields({"Lounge", "", "FFFFFF", "2", "0", "0", "0", "0"});
    for (TestClient* c : {&ann, &ben, &cid}) ASSERT_TRUE(c->Expect(19, 19, 0, info));

    // Away: the room event first (the away text and "4"), then the announcement with "4".
    ASSERT_TRUE(ann.Send(13, 0, "Lunch"));
    for (TestClient* c : {&ann, &ben}) {
        EXPECT_TRUE(c->Expect(14, 4, 0, RoomEvent('1', "Lounge", "Ann", "000000", Fields({"Lunch", "4"}))));
    }
    for (TestClient* c : {&ann, &ben, &cid}) {
        EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Ann", "000000", "4")));
    }
    // A second away request replaces the text.
    ASSERT_TRUE(ann.Send(13, 21, "Meeting"));
    for (TestClient* c : {&ann, &ben}) {
        EXPECT_TRUE(c->Expect(14, 4, 0, RoomEvent('1', "Lounge", "Ann", "000000", Fields({"Meeting", "4"}))));
    }
    for (TestClient* c : {&ann, &ben, &cid}) {
        EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Ann", "000000", "4")));
    }
    // Back ignores its payload, still carries the old text, and shows the room standing again.
    ASSERT_TRUE(ann.Send(13, 22, "ignored"));
    for (TestClient* c : {&ann, &ben}) {
        EXPECT_TRUE(c->Expect(14, 4, 0, RoomEvent('0', "Lounge", "Ann", "000000", Fields({"Meeting", "2"}))));
    }
    for (TestClient* c : {&ann, &ben, &cid}) {
        EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Ann", "000000", "0")));
    }
    // Back when not away: nothing.
    ASSERT_TRUE(ann.Send(13, 22));
    // The away text is gone after coming back.
    ASSERT_TRUE(ben.Send(23, 0, "Ann"));
    auto lookup = ben.Next();
    ASSERT_TRUE(lookup);
    EXPECT_TRUE(lookup->starts_with(ReplyBytes(23, 0, 0, Fields({"Ann", "000000", "0", "", ""}))))
        << DescribeMessage(*lookup);

    // Someone in no room going away: only the announcement.
    ASSERT_TRUE(cid.Send(13, 0, "Out"));
    for (TestClient* c : {&ann, &ben, &cid}) {
        EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Cid", "000000", "4")));
    }

    // An invisible user's away reaches its rooms, and nobody else.
    ASSERT_TRUE(ann.Send(9, 21));
    for (TestClient* c : {&ann, &ben, &cid}) EXPECT_TRUE(c->Expect(11, 20, 0, "Ann"));
    EXPECT_TRUE(ann.Expect(9, '1', 0));
    ASSERT_TRUE(ann.Send(13, 0, "Hiding"));
    for (TestClient* c : {&ann, &ben}) {
        EXPECT_TRUE(c->Expect(14, 4, 0, RoomEvent('1', "Lounge", "Ann", "000000", Fields({"Hiding", "4"}))));
    }
    for (TestClient* c : {&ann, &ben, &cid}) EXPECT_TRUE(c->Sync());
}

TEST(Presence, ColourChangesTheConnectionAndTheRecord) {
    RecordEntry entry;
    entry.nickname = "Reg";
    entry.password = 7;
    entry.color = 0x123456;
    const std::string original = RecordImage(entry);
    TestServer server;
    server.SetUserDatabase(original);
    ASSERT_TRUE(server.Start());
    TestClient reg, gus;
    ASSERT_TRUE(reg.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(gus.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(gus.LoginAsGuest("Gus"));
    ASSERT_TRUE(reg.Expect(11, 19, 0, Announcement("Gus", "000000", "0")));
    ASSERT_TRUE(reg.Send(26, 0, Fields({"Reg", "7"})));
    for (TestClient* c : {&gus, &reg}) ASSERT_TRUE(c->Expect(11, 19, 0, Announcement("Reg", "123456", "0")));
    ASSERT_TRUE(reg.Expect(26, 0, 0, "123456"));
    ASSERT_TRUE(CreateRoom(reg, "Reg", "123456", "Lounge", {&gus}));
    const std::string after_login = *server.ReadFile("NELV3SRV.UDB");

    // Kept as sent (lower case) on the connection; stored as a number in the record before the
    // room hears of it.
    ASSERT_TRUE(reg.Send(18, 0, "00ff00"));
    EXPECT_TRUE(reg.Expect(14, 7, 0, RoomEvent('\0', "Lounge", "Reg", "00ff00", "")));
    for (TestClient* c : {&reg, &gus}) EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Reg", "00ff00", "0")));
    std::string expected = after_login;
    expected.replace(443, 4, std::string("\x00\xff\x00\x00", 4));
    const auto udb = server.ReadFile("NELV3SRV.UDB");
    ASSERT_TRUE(udb);
    EXPECT_EQ(Escape(*udb), Escape(expected));
    EXPECT_EQ(ImageInt32(*udb, 443), 65280);

    // Not six hexadecimal digits: nothing is sent and nothing is written.
    for (std::string_view bad : {"0FF00", "GGGGGG", "00FF000", "", " 0FF00", "-0FF00"}) {
        ASSERT_TRUE(reg.Send(18, 0, bad));
    }
    EXPECT_TRUE(reg.Sync());
    EXPECT_TRUE(gus.Sync());
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), expected);

    // A guest's colour lives on the connection only.
    ASSERT_TRUE(gus.Send(18, 0, "AbCdEf"));
    for (TestClient* c : {&gus, &reg}) EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Gus", "AbCdEf", "0")));
    EXPECT_TRUE(reg.Sync());
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), expected);

    // The colour outlives the connection.
    reg.Close();
    EXPECT_TRUE(gus.Expect(19, 20, 0, "Lounge"));
    EXPECT_TRUE(gus.Expect(11, 20, 0, "Reg"));
    ASSERT_TRUE(server.WaitForEventLog("Closed user connection for 127.0.0.1 (Reg)"));
    TestClient again;
    ASSERT_TRUE(again.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(again.Send(26, 0, Fields({"reg", "7"})));
    EXPECT_TRUE(again.Expect(11, 19, 0, Announcement("reg", "00FF00", "0")));
    EXPECT_TRUE(again.Expect(26, 0, 0, "00FF00"));
}

}  // namespace
}  // namespace nelv::test
