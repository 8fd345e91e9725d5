// Rooms seen from the clients: joining and leaving with their events and broadcasts, refusals
// for full and closed rooms, invited joins, the limit on user rooms, and room settings.
#include <string>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr std::string_view kNoColor = "000000";

// A member's record in join and presence events.
std::string Joined(std::string_view room, std::string_view nick, char status) {
    return RoomEvent(2, '\0', room, nick, kNoColor, std::string(1, status));
}
std::string Present(std::string_view room, std::string_view nick, char status) {
    return RoomEvent(0, '\0', room, nick, kNoColor, std::string(1, status));
}
std::string Left(std::string_view room, std::string_view nick) {
    return RoomEvent(3, '\0', room, nick, kNoColor, "");
}
std::string Refused(std::string_view room, std::string_view nick) {
    return RoomEvent(13, '\0', room, "", "", nick);
}
std::string InfoBroadcast(std::string_view info) { return ReplyBytes(19, 19, 0, info); }

// Client `who` of the crowd creates a room nobody is in and becomes its owner.
::testing::AssertionResult CreateRoom(Crowd& crowd, std::size_t who, std::string_view nick,
                                      std::string_view room) {
    TestClient& client = crowd[who];
    if (!client.Send(0, 0, room)) return ::testing::AssertionFailure() << "could not send";
    if (auto r = client.Expect(0, 0, 0, Fields({room, "FFFFFF"})); !r) return r;
    if (auto r = client.ExpectMessage(Joined(room, nick, '2')); !r) return r;
    return crowd.AllExpect(InfoBroadcast(UserRoomInfo(room, 1)));
}

TEST(Rooms, JoinAndLeaveAnnounceMembersInOrder) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    ASSERT_TRUE(crowd.Add("Ann"));
    ASSERT_TRUE(crowd.Add("Bob"));
    ASSERT_TRUE(crowd.Add("Cid"));
    ASSERT_TRUE(crowd.Add(""));  // never logs in, still hears every broadcast
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];
    TestClient& cid = crowd[2];

    ASSERT_TRUE(CreateRoom(crowd, 0, "Ann", "Lounge"));

    // Named in other letters, the room keeps the name it was created with.
    ASSERT_TRUE(bob.Send(0, 7, "LOUNGE"));
    EXPECT_TRUE(bob.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    EXPECT_TRUE(bob.ExpectMessage(Present("Lounge", "Ann", '2')));
    EXPECT_TRUE(bob.ExpectMessage(Joined("Lounge", "Bob", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Joined("Lounge", "Bob", '0')));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 2))));

    ASSERT_TRUE(cid.Send(0, 0, "lounge"));
    EXPECT_TRUE(cid.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    EXPECT_TRUE(cid.ExpectMessage(Present("Lounge", "Ann", '2')));
    EXPECT_TRUE(cid.ExpectMessage(Present("Lounge", "Bob", '0')));
    EXPECT_TRUE(cid.ExpectMessage(Joined("Lounge", "Cid", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Joined("Lounge", "Cid", '0')));
    EXPECT_TRUE(bob.ExpectMessage(Joined("Lounge", "Cid", '0')));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 3))));

    // Joining again, asking about or leaving a room one is not in: no answer at all.
    ASSERT_TRUE(ann.Send(0, 0, "lounge"));
    ASSERT_TRUE(bob.Send(6, 0, "Elsewhere"));
    ASSERT_TRUE(bob.Send(17, 0, "Elsewhere"));
    ASSERT_TRUE(bob.Send(0, 0, ""));  // no pending invitation
    EXPECT_TRUE(Settle(ann));
    EXPECT_TRUE(Settle(bob));

    // Only the owner may change the room.
    ASSERT_TRUE(ann.Send(6, 0, "LOUNGE"));
    EXPECT_TRUE(ann.Expect(6, '1', 0, UserRoomInfo("Lounge", 3)));
    ASSERT_TRUE(bob.Send(6, 0, "Lounge"));
    EXPECT_TRUE(bob.Expect(6, '0', 0, UserRoomInfo("Lounge", 3)));

    // The owner leaves: the others hear it, and nobody takes over.
    ASSERT_TRUE(ann.Send(17, 0, "lounge"));
    EXPECT_TRUE(bob.ExpectMessage(Left("Lounge", "Ann")));
    EXPECT_TRUE(cid.ExpectMessage(Left("Lounge", "Ann")));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 2))));
    ASSERT_TRUE(ann.Send(0, 0, "Lounge"));
    EXPECT_TRUE(ann.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    EXPECT_TRUE(ann.ExpectMessage(Present("Lounge", "Bob", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Present("Lounge", "Cid", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Joined("Lounge", "Ann", '0')));
    EXPECT_TRUE(bob.ExpectMessage(Joined("Lounge", "Ann", '0')));
    EXPECT_TRUE(cid.ExpectMessage(Joined("Lounge", "Ann", '0')));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 3))));
    ASSERT_TRUE(ann.Send(6, 0, "Lounge"));
    EXPECT_TRUE(ann.Expect(6, '0', 0, UserRoomInfo("Lounge", 3)));

    // The last one out destroys the room: a removal notice for everyone, no leave event.
    ASSERT_TRUE(bob.Send(17, 0, "Lounge"));
    EXPECT_TRUE(cid.ExpectMessage(Left("Lounge", "Bob")));
    EXPECT_TRUE(ann.ExpectMessage(Left("Lounge", "Bob")));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 2))));
    ASSERT_TRUE(cid.Send(17, 0, "Lounge"));
    EXPECT_TRUE(ann.ExpectMessage(Left("Lounge", "Cid")));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Lounge", 1))));
    ASSERT_TRUE(ann.Send(17, 0, "Lounge"));
    EXPECT_TRUE(crowd.AllExpect(ReplyBytes(19, 20, 0, "Lounge")));
    EXPECT_TRUE(Settle(ann));

    // The name is free again: a new room under the new spelling, with a new owner.
    ASSERT_TRUE(CreateRoom(crowd, 1, "Bob", "lounge"));
    ASSERT_TRUE(cid.Send(0, 0, "Lounge"));
    EXPECT_TRUE(cid.Expect(0, 0, 0, Fields({"lounge", "FFFFFF"})));
    EXPECT_TRUE(cid.ExpectMessage(Present("lounge", "Bob", '2')));
    EXPECT_TRUE(cid.ExpectMessage(Joined("lounge", "Cid", '0')));
    EXPECT_TRUE(bob.ExpectMessage(Joined("lounge", "Cid", '0')));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("lounge", 2))));

    // A connection that ends leaves its rooms before it is announced as gone.
    bob.Close();
    for (std::size_t i : {0, 2, 3}) {
        if (i == 2) {
            EXPECT_TRUE(cid.ExpectMessage(Left("lounge", "Bob")));
        }
        EXPECT_TRUE(crowd[i].ExpectMessage(InfoBroadcast(UserRoomInfo("lounge", 1)))) << i;
        EXPECT_TRUE(crowd[i].Expect(11, 20, 0, "Bob")) << i;
    }
    cid.Close();
    for (std::size_t i : {0, 3}) {
        EXPECT_TRUE(crowd[i].Expect(19, 20, 0, "lounge")) << i;
        EXPECT_TRUE(crowd[i].Expect(11, 20, 0, "Cid")) << i;
    }
    EXPECT_TRUE(Settle(ann));
}

TEST(Rooms, FullAndClosedRoomsAdmitOnlyTheInvited) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    for (const char* nick : {"Ann", "Bob", "Cid", "Dan"}) ASSERT_TRUE(crowd.Add(nick));
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];
    TestClient& cid = crowd[2];
    TestClient& dan = crowd[3];

    ASSERT_TRUE(CreateRoom(crowd, 0, "Ann", "Box"));
    const std::string limitOne = RoomInfo("Box", "", "FFFFFF", 1, 1, false, false, false);
    ASSERT_TRUE(ann.Send(4, 0x20, Fields({"Box", "", "", "1", "", ""})));
    EXPECT_TRUE(ann.ExpectMessage(RoomEvent(12, 0x20, "Box", "Ann", kNoColor, limitOne)));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(limitOne)));

    // Full: the refused user is named to the members, nobody else hears of it.
    ASSERT_TRUE(bob.Send(0, 0, "box"));
    EXPECT_TRUE(bob.Expect(0, 0, 3, "Box"));
    EXPECT_TRUE(ann.ExpectMessage(Refused("Box", "Bob")));
    for (std::size_t i = 0; i < crowd.size(); ++i) EXPECT_TRUE(Settle(crowd[i])) << i;

    // Invitations that do not apply.
    ASSERT_TRUE(bob.Send(1, 0, Fields({"Box", "Cid"})));  // not a member himself
    ASSERT_TRUE(ann.Send(1, 0, Fields({"box", "ANN"})));  // already a member
    EXPECT_TRUE(Settle(bob));
    EXPECT_TRUE(Settle(ann));
    ASSERT_TRUE(ann.Send(1, 0, Fields({"Box", "Nobody"})));
    EXPECT_TRUE(ann.Expect(1, 0, 15, Fields({"Box", "Nobody"})));

    // The invited user gets in past the limit by joining with an empty name.
    ASSERT_TRUE(ann.Send(1, 9, Fields({"Box", "bob"})));
    EXPECT_TRUE(ann.Expect(1, 0, 0, Fields({"Box", "bob"})));
    EXPECT_TRUE(bob.Expect(5, 1, 0, std::string(1, '\0') + Fields({"Ann", "000000", "Box"})));
    ASSERT_TRUE(bob.Send(0, 0, ""));
    EXPECT_TRUE(bob.Expect(0, 0, 0, Fields({"Box", "FFFFFF"})));
    EXPECT_TRUE(bob.ExpectMessage(Present("Box", "Ann", '2')));
    EXPECT_TRUE(bob.ExpectMessage(Joined("Box", "Bob", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Joined("Box", "Bob", '0')));
    EXPECT_TRUE(crowd.AllExpect(
        InfoBroadcast(RoomInfo("Box", "", "FFFFFF", 2, 1, false, false, false))));

    // A member without rights may not invite.
    ASSERT_TRUE(bob.Send(1, 0, Fields({"BOX", "Cid"})));
    EXPECT_TRUE(bob.Expect(1, 0, 17, "BOX"));

    // The invitation was used up.
    ASSERT_TRUE(bob.Send(17, 0, "Box"));
    EXPECT_TRUE(ann.ExpectMessage(Left("Box", "Bob")));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(limitOne)));
    ASSERT_TRUE(bob.Send(0, 0, ""));
    EXPECT_TRUE(Settle(bob));

    // Closed, without a limit.
    const std::string closed = RoomInfo("Box", "", "FFFFFF", 1, 0, false, true, false);
    ASSERT_TRUE(ann.Send(4, 0xA0, Fields({"Box", "", "", "0", "1", ""})));
    EXPECT_TRUE(ann.ExpectMessage(RoomEvent(12, '\xA0', "Box", "Ann", kNoColor, closed)));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(closed)));
    ASSERT_TRUE(cid.Send(0, 0, "Box"));
    EXPECT_TRUE(cid.Expect(0, 0, 8, "Box"));
    EXPECT_TRUE(ann.ExpectMessage(Refused("Box", "Cid")));

    // An invitation written in other letters is granted as written; only a join with exactly
    // those letters is invited, and a refused join leaves it pending.
    ASSERT_TRUE(ann.Send(1, 0, Fields({"bOX", "cid"})));
    EXPECT_TRUE(ann.Expect(1, 0, 0, Fields({"bOX", "cid"})));
    EXPECT_TRUE(cid.Expect(5, 1, 0, std::string(1, '\0') + Fields({"Ann", "000000", "bOX"})));
    ASSERT_TRUE(cid.Send(0, 0, "Box"));
    EXPECT_TRUE(cid.Expect(0, 0, 8, "Box"));
    EXPECT_TRUE(ann.ExpectMessage(Refused("Box", "Cid")));
    ASSERT_TRUE(cid.Send(0, 0, "bOX"));
    EXPECT_TRUE(cid.Expect(0, 0, 0, Fields({"Box", "FFFFFF"})));
    EXPECT_TRUE(cid.ExpectMessage(Present("Box", "Ann", '2')));
    EXPECT_TRUE(cid.ExpectMessage(Joined("Box", "Cid", '0')));
    EXPECT_TRUE(ann.ExpectMessage(Joined("Box", "Cid", '0')));
    EXPECT_TRUE(crowd.AllExpect(
        InfoBroadcast(RoomInfo("Box", "", "FFFFFF", 2, 0, false, true, false))));

    // A second invitation replaces the first; a room destroyed since is created anew by the
    // invited join, which makes the joiner its owner.
    ASSERT_TRUE(CreateRoom(crowd, 0, "Ann", "Den"));
    ASSERT_TRUE(ann.Send(1, 0, Fields({"Box", "Dan"})));
    EXPECT_TRUE(ann.Expect(1, 0, 0, Fields({"Box", "Dan"})));
    EXPECT_TRUE(dan.Expect(5, 1, 0, std::string(1, '\0') + Fields({"Ann", "000000", "Box"})));
    ASSERT_TRUE(ann.Send(1, 0, Fields({"Den", "Dan"})));
    EXPECT_TRUE(ann.Expect(1, 0, 0, Fields({"Den", "Dan"})));
    EXPECT_TRUE(dan.Expect(5, 1, 0, std::string(1, '\0') + Fields({"Ann", "000000", "Den"})));
    ASSERT_TRUE(ann.Send(17, 0, "Den"));
    EXPECT_TRUE(crowd.AllExpect(ReplyBytes(19, 20, 0, "Den")));
    ASSERT_TRUE(dan.Send(0, 0, ""));
    EXPECT_TRUE(dan.Expect(0, 0, 0, Fields({"Den", "FFFFFF"})));
    EXPECT_TRUE(dan.ExpectMessage(Joined("Den", "Dan", '2')));
    EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(UserRoomInfo("Den", 1))));
    ASSERT_TRUE(dan.Send(0, 0, "Box"));
    EXPECT_TRUE(dan.Expect(0, 0, 8, "Box"));
    EXPECT_TRUE(ann.ExpectMessage(Refused("Box", "Dan")));
    EXPECT_TRUE(cid.ExpectMessage(Refused("Box", "Dan")));
    for (std::size_t i = 0; i < crowd.size(); ++i) EXPECT_TRUE(Settle(crowd[i])) << i;
}

// Every join of a name that does not exist yet, with the given limit on user rooms; the
// system room Lobby never counts.
class UserRoomLimit : public ::testing::Test {
protected:
    void StartWithLimit(const char* limit) {
        server_.SetIni(std::string("[General]\nMaximum number of user rooms=") + limit +
                       "\n[System rooms]\nLobby=00FF00,Hello\n");
        ASSERT_TRUE(server_.Start());
        ASSERT_TRUE(crowd_.Add("Ann"));
        ASSERT_TRUE(crowd_.Add("Bob"));
    }
    ::testing::AssertionResult Refused(std::size_t who, std::string_view room) {
        if (!crowd_[who].Send(0, 0, room)) return ::testing::AssertionFailure() << "send";
        if (auto r = crowd_[who].Expect(0, 0, 19); !r) return r;
        for (std::size_t i = 0; i < crowd_.size(); ++i) {
            if (auto r = Settle(crowd_[i]); !r) return r;
        }
        return ::testing::AssertionSuccess();
    }

    TestServer server_;
    Crowd crowd_{server_};
};

TEST_F(UserRoomLimit, ZeroAllowsOnlyExistingRooms) {
    StartWithLimit("0");
    ASSERT_TRUE(crowd_[0].Send(0, 0, "lobby"));
    EXPECT_TRUE(crowd_[0].Expect(0, 0, 0, Fields({"Lobby", "00FF00"})));
    EXPECT_TRUE(crowd_[0].ExpectMessage(Joined("Lobby", "Ann", '0')));
    EXPECT_TRUE(crowd_.AllExpect(
        InfoBroadcast(RoomInfo("Lobby", "Hello", "00FF00", 1, 0, true, false, false))));
    EXPECT_TRUE(Refused(0, "Lounge"));
    // Nobody has rights in a system room, so nobody can invite into it or change it.
    ASSERT_TRUE(crowd_[0].Send(1, 0, Fields({"Lobby", "Bob"})));
    EXPECT_TRUE(crowd_[0].Expect(1, 0, 17, "Lobby"));
    ASSERT_TRUE(crowd_[0].Send(4, 0x08, Fields({"LOBBY", "Topic"})));
    EXPECT_TRUE(crowd_[0].Expect(4, 0, 17, "LOBBY"));
    ASSERT_TRUE(crowd_[0].Send(6, 0, "Lobby"));
    EXPECT_TRUE(crowd_[0].Expect(6, '0', 0, RoomInfo("Lobby", "Hello", "00FF00", 1, 0, true, false, false)));
    EXPECT_TRUE(Refused(1, "Lounge"));
    // The last one out of a system room leaves it standing, empty.
    ASSERT_TRUE(crowd_[0].Send(17, 0, "Lobby"));
    EXPECT_TRUE(crowd_.AllExpect(
        InfoBroadcast(RoomInfo("Lobby", "Hello", "00FF00", 0, 0, true, false, false))));
    EXPECT_TRUE(Settle(crowd_[0]));
}

TEST_F(UserRoomLimit, NegativeMeansNoLimit) {
    StartWithLimit("-1");
    for (const char* room : {"R1", "R2", "R3", "R4"}) ASSERT_TRUE(CreateRoom(crowd_, 0, "Ann", room));
}

TEST_F(UserRoomLimit, TwoUserRoomsBesideTheSystemRooms) {
    StartWithLimit("2");
    ASSERT_TRUE(CreateRoom(crowd_, 0, "Ann", "R1"));
    ASSERT_TRUE(CreateRoom(crowd_, 1, "Bob", "R2"));
    EXPECT_TRUE(Refused(0, "R3"));
    // Joining an existing user room is not creating one.
    ASSERT_TRUE(crowd_[0].Send(0, 0, "R2"));
    EXPECT_TRUE(crowd_[0].Expect(0, 0, 0, Fields({"R2", "FFFFFF"})));
    ASSERT_TRUE(Drain(crowd_[0]));
    ASSERT_TRUE(Drain(crowd_[1]));
    // Once a user room is gone there is place for another.
    ASSERT_TRUE(crowd_[0].Send(17, 0, "R1"));
    EXPECT_TRUE(crowd_.AllExpect(ReplyBytes(19, 20, 0, "R1")));
    ASSERT_TRUE(CreateRoom(crowd_, 1, "Bob", "R3"));
    EXPECT_TRUE(Refused(1, "R4"));
}

TEST(Rooms, SettingsApplyTheSelectedFields) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    for (const char* nick : {"Ann", "Bob", "Cid", ""}) ASSERT_TRUE(crowd.Add(nick));
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];
    TestClient& cid = crowd[2];
    ASSERT_TRUE(CreateRoom(crowd, 0, "Ann", "Cfg"));
    ASSERT_TRUE(bob.Send(0, 0, "Cfg"));
    ASSERT_TRUE(Drain(bob));  // first, so that the join is handled before Ann's probe
    ASSERT_TRUE(Drain(ann));
    ASSERT_TRUE(cid.Expect(19, 19, 0, UserRoomInfo("Cfg", 2)));
    ASSERT_TRUE(crowd[3].Expect(19, 19, 0, UserRoomInfo("Cfg", 2)));

    // What the room should look like after each request.
    struct {
        std::string topic, color = "FFFFFF";
        int limit = 0;
        bool closed = false, hidden = false;
    } room;
    auto info = [&] {
        return RoomInfo("Cfg", room.topic, room.color, 2, room.limit, false, room.closed,
                        room.hidden);
    };
    struct Request {
        std::string topic{}, color{}, limit{}, closed{}, hidden{};
    };
    // One request from the owner (naming the room in other letters), then what the members and
    // everyone else must receive.
    auto change = [&](uint8_t bits, const Request& r) {
        SCOPED_TRACE("bits " + std::to_string(bits) + " topic " + Escape(r.topic) + " colour " +
                     r.color + " limit " + r.limit + " closed " + r.closed + " hidden " + r.hidden);
        ASSERT_TRUE(ann.Send(4, bits, Fields({"cfg", r.topic, r.color, r.limit, r.closed, r.hidden})));
        if ((bits & 0x40) && room.hidden) {
            EXPECT_TRUE(crowd.AllExpect(ReplyBytes(19, 20, 0, "Cfg")));
        }
        const std::string event =
            RoomEvent(12, static_cast<char>(bits), "Cfg", "Ann", kNoColor, info());
        EXPECT_TRUE(ann.ExpectMessage(event));
        EXPECT_TRUE(bob.ExpectMessage(event));
        if (!room.hidden) {
            EXPECT_TRUE(crowd.AllExpect(InfoBroadcast(info())));
        }
    };

    // Nothing selected: nothing changes, yet everyone is told.
    change(0, {"topic", "123456", "5", "1", "1"});
    room.topic = "Hi there";
    change(0x08, {"Hi there", "123456", "5", "1", "1"});
    room.color = "ff80aB";  // kept as written
    change(0x10, {"ignored", "ff80aB"});
    room.topic = "";
    change(0x18, {"", "12345"});  // a bad colour does not stop the other fields
    for (const char* bad : {"GHIJKL", "$12345", "1234567", " 12345"}) change(0x10, {"", bad});

    const std::pair<const char*, int> limits[] = {
        {"7", 7},     {"abc", 0},        {"-1", 65535}, {"70000", 4464}, {"$FFFF0010", 16},
        {" 12", 12},  {"12 ", 0},        {"+3", 3},     {"$", 0},        {"65535", 65535},
        {"", 0},
    };
    for (auto [text, value] : limits) {
        room.limit = value;
        change(0x20, {"", "", text});
    }

    // A flag field starting with neither 0 nor 1 turns the flag over.
    const std::pair<const char*, bool> closings[] = {
        {"1", true}, {"1abc", true}, {"", false}, {"x", true}, {"0", false}, {"2", true}, {"0", false},
    };
    for (auto [text, value] : closings) {
        room.closed = value;
        change(0x80, {"", "", "", text});
    }

    // Hiding tells everyone the room is gone, every time; meanwhile nothing is broadcast.
    room.hidden = true;
    change(0x40, {"", "", "", "", "1"});
    change(0x40, {"", "", "", "", "1abc"});
    room.topic = "secret";
    change(0x08, {"secret"});
    ASSERT_TRUE(cid.Send(8, 0));
    auto welcome = cid.Next();
    ASSERT_TRUE(welcome);
    EXPECT_TRUE(welcome->starts_with(std::string_view("\x0a\x01\x00", 3))) << Escape(*welcome);
    EXPECT_TRUE(cid.Expect(10, 4, 0, ""));  // the only room is hidden
    EXPECT_TRUE(cid.Expect(10, 5, 0,
                           Fields({"Ann", "000000", "0"}) + kEntrySeparator +
                               Fields({"Bob", "000000", "0"}) + kEntrySeparator +
                               Fields({"Cid", "000000", "0"}) + kEntrySeparator));
    room.hidden = false;
    change(0x40, {"", "", "", "", "0"});
    room.hidden = true;
    change(0x40, {"", "", "", "", ""});
    room.hidden = false;
    change(0x40, {"", "", "", "", "z"});

    // Everything at once, applied in the order topic, colour, limit, closed, hidden.
    room = {"All", "00ff00", 9, true, true};
    change(0xFF, {"All", "00ff00", "9", "1", "1"});

    // An ordinary member is refused with the room name as sent; a stranger hears nothing.
    ASSERT_TRUE(bob.Send(4, 0x08, Fields({"CFG", "mine"})));
    EXPECT_TRUE(bob.Expect(4, 0, 17, "CFG"));
    ASSERT_TRUE(cid.Send(4, 0x08, Fields({"Cfg", "mine"})));
    ASSERT_TRUE(cid.Send(6, 0, "Cfg"));
    EXPECT_TRUE(Settle(cid));

    // Leaving a hidden room that keeps members: only the members hear it.
    ASSERT_TRUE(bob.Send(17, 0, "Cfg"));
    EXPECT_TRUE(ann.ExpectMessage(Left("Cfg", "Bob")));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(Settle(crowd[i])) << i;
    // Destroying it still tells everyone.
    ASSERT_TRUE(ann.Send(17, 0, "Cfg"));
    EXPECT_TRUE(crowd.AllExpect(ReplyBytes(19, 20, 0, "Cfg")));
}

}  // namespace
}  // namespace nelv::test
