// Room moderation seen from the clients: operator rights and ownership, kicks, mutes and
// address bans, with the room events every member hears and the refusals the sender gets.
#include <string>

#include "e2e/chat_test_helpers.h"
#include "e2e/moderation_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr std::string_view kRoom = "Lounge";

// Event 11: a member's standing changed; the data is its nickname and its rank afterwards.
std::string Standing(char value, std::string_view actor, std::string_view nick, char rank) {
    return RoomEvent(11, value, kRoom, actor, actor.empty() ? "" : kGuestColor,
                     Fields({nick, std::string(1, rank)}));
}

std::string ByGuest(uint8_t code, char value, std::string_view actor, std::string_view data) {
    return RoomEvent(code, value, kRoom, actor, kGuestColor, data);
}

std::string Refused(uint8_t command) { return ReplyBytes(command, 0, 17, kRoom); }

TEST(Moderation, OperatorRightsAndOwnership) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient owen, amy, ben;
    ASSERT_TRUE(LogIn(owen, server.Port(), "Owen"));
    ASSERT_TRUE(LogIn(amy, server.Port(), "Amy"));
    ASSERT_TRUE(LogIn(ben, server.Port(), "Ben"));
    ASSERT_TRUE(EnterRoom(owen, "Owen", kRoom, {}, '2'));
    ASSERT_TRUE(EnterRoom(amy, "Amy", kRoom, {&owen}));
    ASSERT_TRUE(EnterRoom(ben, "Ben", kRoom, {&owen, &amy}));
    const auto all = {&owen, &amy, &ben};

    // An unknown sub-code is only announced, with the sub-code as value; no right is needed.
    ASSERT_TRUE(amy.Send(12, '5', Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, Standing('\x35', "Amy", "Ben", '0')));

    ASSERT_TRUE(amy.Send(12, '1', Fields({kRoom, "Ben"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, Refused(12)));

    // The target is named in the event as it is spelled, not as the request wrote it. Granting
    // again changes nothing but is announced again.
    ASSERT_TRUE(owen.Send(12, '1', Fields({"LOUNGE", "amy"})));
    EXPECT_TRUE(AllSee(all, Standing(7, "Owen", "Amy", '1')));
    ASSERT_TRUE(owen.Send(12, '1', Fields({kRoom, "Amy"})));
    EXPECT_TRUE(AllSee(all, Standing(7, "Owen", "Amy", '1')));

    // An operator may grant but not revoke.
    ASSERT_TRUE(amy.Send(12, '1', Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, Standing(7, "Amy", "Ben", '1')));
    ASSERT_TRUE(amy.Send(12, '0', Fields({kRoom, "Ben"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, Refused(12)));

    ASSERT_TRUE(owen.Send(12, '0', Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, Standing(8, "Owen", "Ben", '0')));
    ASSERT_TRUE(owen.Send(12, '0', Fields({kRoom, "Ben"})));  // not an operator any more: silent
    ASSERT_TRUE(owen.Send(12, '0', Fields({kRoom, "Owen"})));  // the owner's own rights: refused
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, Refused(12)));
    ASSERT_TRUE(owen.Send(12, '1', Fields({kRoom, "Nobody"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, ReplyBytes(12, 0, 15, Fields({kRoom, "Nobody"}))));
    ASSERT_TRUE(ben.Send(12, '1', Fields({"Elsewhere", "Amy"})));  // not in that room: silent
    EXPECT_TRUE(NothingElse(all));

    // Handing over: first the former owner's new rank without an actor, then the new owner's.
    ASSERT_TRUE(owen.Send(12, '2', Fields({kRoom, "Ben"})));
    for (TestClient* client : all) {
        EXPECT_TRUE(ExpectSkippingBroadcasts(*client, Standing(10, "", "Owen", '1')));
        EXPECT_TRUE(ExpectSkippingBroadcasts(*client, Standing(9, "Owen", "Ben", '2')));
    }
    // Only the owner hands over; the former owner is an operator now and may no longer revoke.
    ASSERT_TRUE(owen.Send(12, '2', Fields({kRoom, "Amy"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, Refused(12)));
    ASSERT_TRUE(owen.Send(12, '0', Fields({kRoom, "Amy"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, Refused(12)));
    ASSERT_TRUE(ben.Send(12, '0', Fields({kRoom, "Owen"})));
    EXPECT_TRUE(AllSee(all, Standing(8, "Ben", "Owen", '0')));

    // Handing ownership to oneself sends both events and changes nothing.
    ASSERT_TRUE(ben.Send(12, '2', Fields({kRoom, "Ben"})));
    for (TestClient* client : all) {
        EXPECT_TRUE(ExpectSkippingBroadcasts(*client, Standing(10, "", "Ben", '2')));
        EXPECT_TRUE(ExpectSkippingBroadcasts(*client, Standing(9, "Ben", "Ben", '2')));
    }
    EXPECT_TRUE(NothingElse(all));
}

TEST(Moderation, KickAndMute) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient owen, amy, ben, cal;
    ASSERT_TRUE(LogIn(owen, server.Port(), "Owen"));
    ASSERT_TRUE(LogIn(amy, server.Port(), "Amy"));
    ASSERT_TRUE(LogIn(ben, server.Port(), "Ben"));
    ASSERT_TRUE(LogIn(cal, server.Port(), "Cal"));
    ASSERT_TRUE(EnterRoom(owen, "Owen", kRoom, {}, '2'));
    ASSERT_TRUE(EnterRoom(amy, "Amy", kRoom, {&owen}));
    ASSERT_TRUE(EnterRoom(ben, "Ben", kRoom, {&owen, &amy}));
    ASSERT_TRUE(EnterRoom(cal, "Cal", kRoom, {&owen, &amy, &ben}));
    ASSERT_TRUE(owen.Send(12, '1', Fields({kRoom, "Amy"})));
    ASSERT_TRUE(AllSee({&owen, &amy, &ben, &cal}, Standing(7, "Owen", "Amy", '1')));

    // Kick refusals: an ordinary member, anybody against the owner, an unknown member.
    ASSERT_TRUE(ben.Send(16, 0, Fields({kRoom, "Cal"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(ben, Refused(16)));
    ASSERT_TRUE(amy.Send(16, 0, Fields({kRoom, "Owen"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, Refused(16)));
    ASSERT_TRUE(owen.Send(16, 0, Fields({kRoom, "Owen"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, Refused(16)));
    ASSERT_TRUE(amy.Send(16, 0, Fields({kRoom, "Nobody"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, ReplyBytes(16, 0, 15, Fields({kRoom, "Nobody"}))));

    // Everybody, the target too, hears the kick with the target as written; the others then
    // hear it leave, and the target is told who kicked it out of which room, as written.
    ASSERT_TRUE(amy.Send(16, 0, Fields({"lounge", "cAL"})));
    EXPECT_TRUE(AllSee({&owen, &amy, &ben, &cal}, ByGuest(9, '\0', "Amy", "cAL")));
    EXPECT_TRUE(AllSee({&owen, &amy, &ben}, ByGuest(3, '\0', "Cal", "")));
    EXPECT_TRUE(ExpectSkippingBroadcasts(
        cal, ReplyBytes(5, 2, 0, std::string(1, '\0') + Fields({"Amy", kGuestColor, "lounge"}))));
    EXPECT_TRUE(NothingElse({&owen, &amy, &ben, &cal}));
    const auto all = {&owen, &amy, &ben};

    // Toggling twice mutes and unmutes; explicit on and off are silent when nothing changes.
    ASSERT_TRUE(owen.Send(20, 0, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '1', "Owen", "Ben")));
    ASSERT_TRUE(ben.Send(3, 0, Fields({kRoom, "hello"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(ben, ReplyBytes(3, 0, 18, kRoom)));
    ASSERT_TRUE(owen.Send(20, 0, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '0', "Owen", "Ben")));
    ASSERT_TRUE(owen.Send(20, 22, Fields({kRoom, "Ben"})));
    ASSERT_TRUE(owen.Send(20, 21, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '1', "Owen", "Ben")));
    ASSERT_TRUE(owen.Send(20, 21, Fields({kRoom, "Ben"})));
    ASSERT_TRUE(owen.Send(20, 22, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '0', "Owen", "Ben")));
    // Any other sub-code changes nothing and announces the current state.
    ASSERT_TRUE(amy.Send(20, 5, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '0', "Amy", "Ben")));

    // Operators may mute neither themselves nor the owner; ordinary members nobody.
    ASSERT_TRUE(amy.Send(20, 0, Fields({kRoom, "Amy"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, Refused(20)));
    ASSERT_TRUE(amy.Send(20, 0, Fields({kRoom, "Owen"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, Refused(20)));
    ASSERT_TRUE(ben.Send(20, 0, Fields({kRoom, "Amy"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(ben, Refused(20)));
    ASSERT_TRUE(ben.Send(20, 0, Fields({kRoom, "Nobody"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(ben, ReplyBytes(20, 0, 15, Fields({kRoom, "Nobody"}))));

    // The owner may mute itself, and then cannot speak either.
    ASSERT_TRUE(owen.Send(20, 0, Fields({kRoom, "Owen"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '1', "Owen", "Owen")));
    ASSERT_TRUE(owen.Send(3, 13, Fields({kRoom, "hello"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(owen, ReplyBytes(3, 0, 18, kRoom)));

    // A muted member stays muted when it leaves and comes back on the same connection.
    ASSERT_TRUE(amy.Send(20, 21, Fields({kRoom, "Ben"})));
    EXPECT_TRUE(AllSee(all, ByGuest(8, '1', "Amy", "Ben")));
    ASSERT_TRUE(ben.Send(17, 0, kRoom));
    EXPECT_TRUE(AllSee({&owen, &amy}, ByGuest(3, '\0', "Ben", "")));
    ASSERT_TRUE(EnterRoom(ben, "Ben", kRoom, {&owen, &amy}));
    ASSERT_TRUE(ben.Send(3, 0, Fields({kRoom, "back"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(ben, ReplyBytes(3, 0, 18, kRoom)));
    EXPECT_TRUE(NothingElse(all));
}

TEST(Moderation, KickedLastOtherMemberLeavesTheRoomStanding) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient owen, amy;
    ASSERT_TRUE(LogIn(owen, server.Port(), "Owen"));
    ASSERT_TRUE(LogIn(amy, server.Port(), "Amy"));
    ASSERT_TRUE(EnterRoom(owen, "Owen", kRoom, {}, '2'));
    ASSERT_TRUE(EnterRoom(amy, "Amy", kRoom, {&owen}));
    ASSERT_TRUE(owen.Send(12, '1', Fields({kRoom, "Amy"})));
    ASSERT_TRUE(AllSee({&owen, &amy}, Standing(7, "Owen", "Amy", '1')));

    // The owner leaves; the operator left behind kicks itself, which empties the room.
    ASSERT_TRUE(owen.Send(17, 0, kRoom));
    ASSERT_TRUE(ExpectSkippingBroadcasts(amy, ByGuest(3, '\0', "Owen", "")));
    ASSERT_TRUE(amy.Send(16, 0, Fields({kRoom, "Amy"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(amy, ByGuest(9, '\0', "Amy", "Amy")));
    EXPECT_TRUE(amy.Expect(19, 20, 0, kRoom));  // the room is gone
    EXPECT_TRUE(ExpectSkippingBroadcasts(
        amy, ReplyBytes(5, 2, 0, std::string(1, '\0') + Fields({"Amy", kGuestColor, kRoom}))));

    // A new room of that name has a fresh owner.
    ASSERT_TRUE(EnterRoom(owen, "Owen", kRoom, {}, '2'));
    EXPECT_TRUE(NothingElse({&owen, &amy}));
}

TEST(Moderation, AddressBanRefusesJoinsFromThatAddress) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient owen, uma, tess, vic;
    ASSERT_TRUE(LogIn(owen, server.Port(), "Owen", "127.0.0.1"));
    ASSERT_TRUE(LogIn(uma, server.Port(), "Uma", "127.0.0.3"));
    ASSERT_TRUE(LogIn(tess, server.Port(), "Tess", "127.0.0.2"));
    ASSERT_TRUE(LogIn(vic, server.Port(), "Vic", "127.0.0.2"));
    ASSERT_TRUE(EnterRoom(owen, "Owen", kRoom, {}, '2'));
    ASSERT_TRUE(EnterRoom(uma, "Uma", kRoom, {&owen}));

    ASSERT_TRUE(uma.Send(21, 21, Fields({kRoom, "Tess"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(uma, Refused(21)));
    ASSERT_TRUE(vic.Send(21, 21, Fields({kRoom, "Tess"})));  // not in the room: silent

    // The target need not be in the room; the event names it as it is spelled.
    ASSERT_TRUE(owen.Send(21, 21, Fields({kRoom, "tess"})));
    EXPECT_TRUE(AllSee({&owen, &uma}, ByGuest(5, '1', "Owen", "Tess")));
    ASSERT_TRUE(owen.Send(21, 21, Fields({kRoom, "Tess"})));  // banned already: silent

    // Both users behind the banned address are refused, and the members hear nothing of it.
    ASSERT_TRUE(tess.Send(0, 0, kRoom));
    EXPECT_TRUE(ExpectSkippingBroadcasts(tess, ReplyBytes(0, 0, 7, kRoom)));
    ASSERT_TRUE(vic.Send(0, 0, "LOUNGE"));
    EXPECT_TRUE(ExpectSkippingBroadcasts(vic, ReplyBytes(0, 0, 7, kRoom)));
    EXPECT_TRUE(NothingElse({&owen, &uma, &tess, &vic}));

    // Lifting the ban by toggling lets the address in again.
    ASSERT_TRUE(owen.Send(21, 0, Fields({kRoom, "Vic"})));
    EXPECT_TRUE(AllSee({&owen, &uma}, ByGuest(5, '0', "Owen", "Vic")));
    ASSERT_TRUE(owen.Send(21, 22, Fields({kRoom, "Vic"})));  // not banned: silent
    ASSERT_TRUE(EnterRoom(tess, "Tess", kRoom, {&owen, &uma}));

    // A ban removes nobody, and may hit the sender's own address.
    ASSERT_TRUE(owen.Send(21, 0, Fields({kRoom, "Owen"})));
    EXPECT_TRUE(AllSee({&owen, &uma, &tess}, ByGuest(5, '1', "Owen", "Owen")));
    EXPECT_TRUE(NothingElse({&owen, &uma, &tess, &vic}));
}

}  // namespace
}  // namespace nelv::test
