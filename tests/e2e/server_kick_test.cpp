// Throwing users off the server: who may, what the target's rooms and the target hear, and the
// temporary bar on the target's address.
#include <signal.h>

#include <string>

#include "e2e/chat_test_helpers.h"
#include "e2e/moderation_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

constexpr std::string_view kBossColor = "123456";

// Boss is privileged (password 1234), Plain is registered without privilege (password 99).
std::string Database() {
    RecordEntry boss;
    boss.nickname = "Boss";
    boss.password = 1234;
    boss.color = 0x123456;
    boss.privileged = 1;
    RecordEntry plain;
    plain.nickname = "Plain";
    plain.password = 99;
    return RecordImage(boss) + RecordImage(plain);
}

::testing::AssertionResult LogInBoss(TestClient& boss, const TestServer& server) {
    return LogIn(boss, server.Port(), "Boss", "127.0.0.1", "1234", kBossColor);
}

std::string RemovedBy(std::string_view room, std::string_view remover, std::string_view color,
                      std::string_view target) {
    return RoomEvent(6, '\0', room, remover, color, target);
}

TEST(ServerKick, OnlyPrivilegedUsersMayKick) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient boss, plain, gus;
    ASSERT_TRUE(LogInBoss(boss, server));
    ASSERT_TRUE(LogIn(plain, server.Port(), "Plain", {}, "99", "000000"));
    ASSERT_TRUE(LogIn(gus, server.Port(), "Gus"));

    // Refused before the payload is read: the same empty answer whatever it names.
    ASSERT_TRUE(gus.Send(22, 0, "Plain"));
    EXPECT_TRUE(ExpectSkippingBroadcasts(gus, ReplyBytes(22, 0, 17)));
    ASSERT_TRUE(plain.Send(22, 0, Fields({"Nobody", "5"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(plain, ReplyBytes(22, 0, 17)));
    ASSERT_TRUE(boss.Send(22, 0, Fields({"Nobody", "5"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(boss, ReplyBytes(22, 0, 15, "Nobody")));
    EXPECT_TRUE(NothingElse({&boss, &plain, &gus}));
}

TEST(ServerKick, TargetInTwoRoomsIsRemovedAndItsAddressBarred) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient boss, tom, wes;
    ASSERT_TRUE(LogInBoss(boss, server));
    ASSERT_TRUE(LogIn(tom, server.Port(), "Tom", "127.0.0.2"));
    ASSERT_TRUE(LogIn(wes, server.Port(), "Wes", "127.0.0.3"));
    ASSERT_TRUE(EnterRoom(tom, "Tom", "Red", {}, '2'));
    ASSERT_TRUE(EnterRoom(wes, "Wes", "Red", {&tom}));
    ASSERT_TRUE(EnterRoom(tom, "Tom", "Blue", {}, '2'));

    // Each of the target's rooms is told, in join order, before the target learns who removed it.
    ASSERT_TRUE(boss.Send(22, 0, Fields({"tom", "10"})));
    EXPECT_TRUE(ExpectSkippingBroadcasts(tom, RemovedBy("Red", "Boss", kBossColor, "Tom")));
    EXPECT_TRUE(ExpectSkippingBroadcasts(tom, RemovedBy("Blue", "Boss", kBossColor, "Tom")));
    EXPECT_TRUE(tom.Expect(15, 0, 10, "Boss"));
    EXPECT_TRUE(tom.ExpectClosed());
    EXPECT_TRUE(ExpectSkippingBroadcasts(boss, ReplyBytes(22, 0, 0, "Tom")));
    // The departure itself is announced by the ordinary disconnect.
    EXPECT_TRUE(ExpectSkippingBroadcasts(wes, RemovedBy("Red", "Boss", kBossColor, "Tom")));
    EXPECT_TRUE(ExpectSkippingBroadcasts(wes, RoomEvent(3, '\0', "Red", "Tom", kGuestColor, "")));

    // The address stays barred while the ban lasts, for every new connection from it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TestClient again;
        ASSERT_TRUE(again.Connect(server.Port(), From("127.0.0.2")));
        EXPECT_TRUE(again.Expect(15, 0, 9)) << "attempt " << attempt;
        EXPECT_TRUE(again.ExpectClosed()) << "attempt " << attempt;
    }
    TestClient elsewhere;
    EXPECT_TRUE(elsewhere.ConnectAndGreet(server.Port(), From("127.0.0.4")));
    EXPECT_TRUE(NothingElse({&boss, &wes}));
}

TEST(ServerKick, BansOfNoLengthLastUntilTheNextConnect) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient boss;
    ASSERT_TRUE(LogInBoss(boss, server));

    // Zero, negative and unreadable lengths give bans that have expired already; a trailing
    // separator gives no ban at all. Each time the address gets straight back in.
    const std::string lengths[] = {"0", "-5", "ten", ""};
    int round = 0;
    for (const std::string& length : lengths) {
        const std::string nick = "Zed" + std::to_string(++round);
        TestClient zed;
        ASSERT_TRUE(LogIn(zed, server.Port(), nick, "127.0.0.5")) << nick;
        ASSERT_TRUE(boss.Send(22, 0, nick + kFieldSeparator + length));
        EXPECT_TRUE(ExpectSkippingBroadcasts(zed, ReplyBytes(15, 0, 10, "Boss"))) << nick;
        EXPECT_TRUE(zed.ExpectClosed()) << nick;
        EXPECT_TRUE(ExpectSkippingBroadcasts(boss, ReplyBytes(22, 0, 0, nick))) << nick;
    }
    TestClient last;
    EXPECT_TRUE(last.ConnectAndGreet(server.Port(), From("127.0.0.5")));

    // A privileged user may remove itself: the notice, then the confirmation, then the close.
    ASSERT_TRUE(boss.Send(22, 0, "Boss"));
    EXPECT_TRUE(ExpectSkippingBroadcasts(boss, ReplyBytes(15, 0, 10, "Boss")));
    EXPECT_TRUE(boss.Expect(22, 0, 0, "Boss"));
    EXPECT_TRUE(boss.ExpectClosed());
}

TEST(ServerKick, WhatTheTargetSentBeforeTheKickWasHandledIsStillHandled) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient boss, bea, cal;
    ASSERT_TRUE(LogInBoss(boss, server));
    ASSERT_TRUE(LogIn(bea, server.Port(), "Bea", "127.0.0.2"));
    ASSERT_TRUE(LogIn(cal, server.Port(), "Cal", "127.0.0.3"));

    // Both arrive while the server stands still: Boss's chunk of lookups ending in the kick
    // first, then Bea's private message. They take turns, so Bea's message goes out.
    std::string chunk;
    for (int i = 0; i < 40; ++i) chunk += std::string("\x17\x00" "Nobody", 8) + kTerminator;
    chunk += std::string("\x16\x00", 2) + Fields({"Bea", "1"}) + kTerminator;
    server.Signal(SIGSTOP);
    ASSERT_TRUE(boss.SendRaw(chunk));
    ASSERT_TRUE(bea.Send(24, 0, Fields({"Cal", "before the kick"})));
    server.Signal(SIGCONT);
    const std::string text = "before the kick";
    EXPECT_TRUE(ExpectSkippingBroadcasts(
        cal, ReplyBytes(5, 0, 0, std::string(1, '\0') + Fields({"Bea", kGuestColor, text}))));
    EXPECT_TRUE(ExpectSkippingBroadcasts(bea, ReplyBytes(24, 0, 0, Fields({"Cal", kGuestColor, text}))));
    EXPECT_TRUE(ExpectSkippingBroadcasts(bea, ReplyBytes(15, 0, 10, "Boss")));
    EXPECT_TRUE(bea.ExpectClosed());
}

}  // namespace
}  // namespace nelv::test
