// Messages from one user to another: private messages (24), texts with the sender's address
// (2) and invitations (1), and how they warn the sender about an away target.
#include <string>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

// A command-5 delivery as the target receives it.
std::string Delivery(uint8_t kind, std::string_view from, std::string_view color,
                     std::string_view content) {
    return ReplyBytes(5, kind, 0, std::string(1, '\0') + Fields({from, color, content}));
}

TEST(PrivateMessages, EchoAndDelivery) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    ASSERT_TRUE(crowd.Add("Ann"));
    ASSERT_TRUE(crowd.Add("Bob", From("127.0.0.2")));
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];

    ASSERT_TRUE(ann.Send(24, 0, Fields({"Nobody", "hello"})));
    EXPECT_TRUE(ann.Expect(24, 0, 15, "Nobody"));

    // The echo repeats the name as written and the sender's colour; the target learns the
    // sender's own nickname. Separators in the text stay inside it.
    ASSERT_TRUE(ann.Send(18, 0, "00ff00"));
    ASSERT_TRUE(crowd.AllExpect(ReplyBytes(11, 19, 0, Fields({"Ann", "00ff00", "0"}))));
    ASSERT_TRUE(ann.Send(24, 3, Fields({"bOB", "hi", "there", ""})));
    EXPECT_TRUE(ann.Expect(24, 0, 0, Fields({"bOB", "00ff00", "hi", "there", ""})));
    EXPECT_TRUE(bob.ExpectMessage(Delivery(0, "Ann", "00ff00", Fields({"hi", "there", ""}))));

    // To oneself: the echo first, then the delivery.
    ASSERT_TRUE(bob.Send(24, 0, Fields({"Bob", "memo"})));
    EXPECT_TRUE(bob.Expect(24, 0, 0, Fields({"Bob", "000000", "memo"})));
    EXPECT_TRUE(bob.ExpectMessage(Delivery(0, "Bob", "000000", "memo")));

    // A text with the address: no confirmation, the target sees where it came from.
    ASSERT_TRUE(bob.Send(2, 0, Fields({"ANN", "call me"})));
    EXPECT_TRUE(ann.ExpectMessage(Delivery(3, "Bob", "000000", Fields({"127.0.0.2", "call me"}))));
    ASSERT_TRUE(bob.Send(2, 0, Fields({"Nobody", "x"})));
    EXPECT_TRUE(bob.Expect(2, 0, 15, "Nobody"));
    EXPECT_TRUE(Settle(bob));
    EXPECT_TRUE(Settle(ann));
}

TEST(PrivateMessages, AwayTargetIsAnnouncedFirstAndStillReached) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    ASSERT_TRUE(crowd.Add("Ann"));
    ASSERT_TRUE(crowd.Add("Bob"));
    TestClient& ann = crowd[0];
    TestClient& bob = crowd[1];
    ASSERT_TRUE(ann.Send(0, 0, "Den"));
    ASSERT_TRUE(Drain(ann));
    ASSERT_TRUE(Drain(bob));

    ASSERT_TRUE(bob.Send(13, 0, "gone fishing"));
    ASSERT_TRUE(crowd.AllExpect(ReplyBytes(11, 19, 0, Fields({"Bob", "000000", "4"}))));

    ASSERT_TRUE(ann.Send(24, 0, Fields({"bob", "are you there?"})));
    EXPECT_TRUE(ann.Expect(24, 6, 0, Fields({"Bob", "gone fishing", ""})));
    EXPECT_TRUE(ann.Expect(24, 0, 0, Fields({"bob", "000000", "are you there?"})));
    EXPECT_TRUE(bob.ExpectMessage(Delivery(0, "Ann", "000000", "are you there?")));

    ASSERT_TRUE(ann.Send(2, 0, Fields({"Bob", "note"})));
    EXPECT_TRUE(ann.Expect(2, 6, 0, Fields({"Bob", "gone fishing", ""})));
    EXPECT_TRUE(bob.ExpectMessage(Delivery(3, "Ann", "000000", Fields({"127.0.0.1", "note"}))));

    // The invitation's warning names the room too.
    ASSERT_TRUE(ann.Send(1, 0, Fields({"den", "Bob"})));
    EXPECT_TRUE(ann.Expect(1, 6, 0, Fields({"Bob", "gone fishing", "den"})));
    EXPECT_TRUE(ann.Expect(1, 0, 0, Fields({"den", "Bob"})));
    EXPECT_TRUE(bob.ExpectMessage(Delivery(1, "Ann", "000000", "den")));
    EXPECT_TRUE(Settle(ann));
    EXPECT_TRUE(Settle(bob));
}

}  // namespace
}  // namespace nelv::test
