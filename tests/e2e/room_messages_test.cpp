// Talking in a room (command 3): who receives a message, in what form, and who is refused.
#include <string>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

TEST(RoomMessages, ReachEveryMemberWhole) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    for (const char* nick : {"Ann", "Bob", "Cid"}) ASSERT_TRUE(crowd.Add(nick));
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];
    TestClient& cid = crowd[2];
    ASSERT_TRUE(ann.Send(0, 0, "Talk"));
    ASSERT_TRUE(Drain(ann));
    ASSERT_TRUE(bob.Send(0, 0, "Talk"));
    ASSERT_TRUE(Drain(bob));  // Bob's join is handled before the others' probes
    for (std::size_t i = 0; i < crowd.size(); ++i) ASSERT_TRUE(Drain(crowd[i])) << i;

    auto said = [](std::string_view nick, char kind, std::string_view text) {
        return RoomEvent(1, kind, "Talk", nick, "000000", text);
    };

    // Separators, a zero byte and 8-bit bytes in the text arrive unchanged; the room name may be
    // written in any letters, the event carries the room's own.
    const std::string text = std::string("one\x01two\x01\x01three\x02 ") + '\0' + "\xE9\xFF";
    ASSERT_TRUE(bob.Send(3, 0, Fields({"TALK", text})));
    EXPECT_TRUE(ann.ExpectMessage(said("Bob", '\0', text)));
    EXPECT_TRUE(bob.ExpectMessage(said("Bob", '\0', text)));

    // The kind travels as the value byte; an empty text makes an event with empty data.
    ASSERT_TRUE(ann.Send(3, 7, "talk\x01"));
    EXPECT_TRUE(ann.ExpectMessage(said("Ann", 7, "")));
    EXPECT_TRUE(bob.ExpectMessage(said("Ann", 7, "")));

    // Kind 13 needs operator rights: the owner may, an ordinary member is refused under 13.
    ASSERT_TRUE(ann.Send(3, 13, Fields({"Talk", "notice"})));
    EXPECT_TRUE(ann.ExpectMessage(said("Ann", 13, "notice")));
    EXPECT_TRUE(bob.ExpectMessage(said("Ann", 13, "notice")));
    ASSERT_TRUE(bob.Send(3, 13, Fields({"tALK", "notice"})));
    EXPECT_TRUE(bob.Expect(3, 13, 17, "tALK"));

    // Not a member, an empty payload, or a room left: no answer and no event.
    ASSERT_TRUE(cid.Send(3, 0, Fields({"Talk", "let me in"})));
    ASSERT_TRUE(cid.Send(3, 0, ""));
    ASSERT_TRUE(bob.Send(3, 0, ""));
    EXPECT_TRUE(Settle(cid));
    ASSERT_TRUE(bob.Send(17, 0, "Talk"));
    ASSERT_TRUE(Drain(bob));
    ASSERT_TRUE(bob.Send(3, 0, Fields({"Talk", "still here?"})));
    EXPECT_TRUE(Settle(bob));
    ASSERT_TRUE(ann.ExpectMessage(RoomEvent(3, '\0', "Talk", "Bob", "000000", "")));
    ASSERT_TRUE(ann.Expect(19, 19, 0, UserRoomInfo("Talk", 1)));
    EXPECT_TRUE(Settle(ann));
}

}  // namespace
}  // namespace nelv::test
