// Registered nicknames (command 7): registration, reading and changing the profile, giving the
// registration up, and what each of them leaves in the user database file.
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

constexpr std::string_view kUdb = "NELV3SRV.UDB";
constexpr size_t kRecordSize = 466;

std::string RoomEvent(char value, std::string_view room, std::string_view actor,
                      std::string_view color, std::string_view data) {
    return std::string(1, value) + Fields({room, actor, color, data});
}

std::string Announcement(std::string_view nickname, std::string_view color, std::string_view status) {
    return Fields({nickname, color, status});
}

// Reads and drops everything up to the answer of a lookup probe: setup traffic that is not under
// test.
::testing::AssertionResult Drain(TestClient& client) {
    const std::string probe = "drain probe";
    if (!client.Send(23, 0, probe)) return ::testing::AssertionFailure() << "drain: could not send";
    while (auto got = client.Next()) {
        if (*got == ReplyBytes(23, 0, 15, probe) || *got == ReplyBytes(23, 0, 14)) {
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "drain: no answer to the probe";
}

// The six fields of command 7; the first is the nickname (15) or the current password.
std::string AccountFields(std::string_view nickname, std::string_view password = "",
                          std::string_view profile1 = "", std::string_view profile2 = "",
                          std::string_view profile3 = "", std::string_view flag = "") {
    return Fields({nickname, password, profile1, profile2, profile3, flag});
}

// Record i of the user database file, or a note of what is missing.
std::string RecordOf(const TestServer& server, size_t i) {
    auto udb = server.ReadFile(kUdb);
    if (!udb) return "(no file)";
    if (udb->size() < (i + 1) * kRecordSize) return "(file of " + std::to_string(udb->size()) + " bytes)";
    return udb->substr(i * kRecordSize, kRecordSize);
}

size_t FileSize(const TestServer& server) {
    auto udb = server.ReadFile(kUdb);
    return udb ? udb->size() : 0;
}

// The record the test expects, with the two times taken from `actual`.
std::string WithTimesOf(RecordEntry entry, const std::string& actual) {
    entry.registeredAt = ImageDouble(actual, 448);
    entry.lastLoginAt = ImageDouble(actual, 456);
    return RecordImage(entry);
}

RecordEntry Entry(std::string nickname, int32_t password) {
    RecordEntry entry;
    entry.nickname = std::move(nickname);
    entry.password = password;
    return entry;
}

TEST(Registration, LinksTheConnectionOnlyForItsExactNickname) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient anon, bob, cat, eve;
    ASSERT_TRUE(anon.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(bob.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(bob.LoginAsGuest("Bob"));
    ASSERT_TRUE(anon.Expect(11, 19, 0, Announcement("Bob", "000000", "0")));
    ASSERT_TRUE(bob.Send(18, 0, "00ff00"));
    ASSERT_TRUE(bob.Expect(11, 19, 0, Announcement("Bob", "00ff00", "0")));
    ASSERT_TRUE(anon.Expect(11, 19, 0, Announcement("Bob", "00ff00", "0")));
    ASSERT_TRUE(cat.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(cat.LoginAsGuest("Cat"));
    ASSERT_TRUE(eve.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(eve.LoginAsGuest("Eve"));
    for (TestClient* c : {&anon, &bob, &cat}) ASSERT_TRUE(Drain(*c));

    // Own exact nickname: the record takes the connection's colour and a login time, and the
    // connection is linked to it at once.
    ASSERT_TRUE(bob.Send(7, 15, AccountFields("Bob", "12", "p1", "p2", "p3", "1")));
    EXPECT_TRUE(bob.Expect(7, 15, 0));
    std::string record = RecordOf(server, 0);
    RecordEntry bob_entry = Entry("Bob", 12);
    bob_entry.profile1 = "p1";
    bob_entry.profile2 = "p2";
    bob_entry.profile3 = "p3";
    bob_entry.color = 65280;
    bob_entry.loginInvisible = 1;
    EXPECT_EQ(Escape(record), Escape(WithTimesOf(bob_entry, record)));
    EXPECT_GT(ImageDouble(record, 448), 40000.0);
    EXPECT_EQ(ImageDouble(record, 456), ImageDouble(record, 448));
    ASSERT_TRUE(bob.Send(7, 16, AccountFields("12")));
    EXPECT_TRUE(bob.Expect(7, 16, 0, Fields({"p1", "p2", "p3", "1"})));

    // Another letter case: registered for someone else, colour 0, never logged in, not linked.
    // Without a registration password any password text is accepted; letters are stored as 0.
    ASSERT_TRUE(cat.Send(7, 15, AccountFields("CAT", "abc")));
    EXPECT_TRUE(cat.Expect(7, 15, 0));
    record = RecordOf(server, 1);
    EXPECT_EQ(Escape(record), Escape(WithTimesOf(Entry("CAT", 0), record)));
    EXPECT_EQ(ImageDouble(record, 456), 0.0);
    ASSERT_TRUE(cat.Send(7, 16, AccountFields("0")));  // not linked: no answer

    // Without a login: registered, not linked (the profile still needs a login).
    ASSERT_TRUE(anon.Send(7, 15, AccountFields("Dan", "-5", "", "", "", "1abc")));
    EXPECT_TRUE(anon.Expect(7, 15, 0));
    record = RecordOf(server, 2);
    RecordEntry dan_entry = Entry("Dan", -5);
    dan_entry.loginInvisible = 1;
    EXPECT_EQ(Escape(record), Escape(WithTimesOf(dan_entry, record)));
    EXPECT_EQ(ImageDouble(record, 456), 0.0);
    ASSERT_TRUE(anon.Send(7, 16, AccountFields("-5")));
    EXPECT_TRUE(anon.Expect(7, 0, 14));

    // Refusals, in the order of the checks; none of them writes anything.
    const struct {
        std::string nickname;
        uint8_t status;
    } refusals[] = {
        {"a b", 1}, {"", 1}, {std::string(21, 'n'), 1}, {"bob", 6}, {"Cat", 6},
        {"EVE", 5},  // online under another connection, in other letter case
    };
    for (const auto& refusal : refusals) {
        ASSERT_TRUE(anon.Send(7, 15, AccountFields(refusal.nickname, "1")));
        EXPECT_TRUE(anon.Expect(7, 15, refusal.status)) << refusal.nickname;
    }
    // Sub-codes other than the four are ignored.
    ASSERT_TRUE(anon.Send(7, 19, AccountFields("Fay", "1")));
    EXPECT_EQ(FileSize(server), 3 * kRecordSize);

    // Nobody else is told of any of it.
    for (TestClient* c : {&anon, &bob, &cat, &eve}) EXPECT_TRUE(c->Sync());
}

TEST(Registration, RegistrationPasswordMustBeSpelledPlainly) {
    TestServer server;
    server.SetIni("[Users]\nRegistration password=42\n");
    ASSERT_TRUE(server.Start());
    TestClient anon;
    ASSERT_TRUE(anon.ConnectAndGreet(server.Port()));
    for (std::string_view wrong : {"042", "+42", " 42", "$2A", "", "43"}) {
        ASSERT_TRUE(anon.Send(7, 15, AccountFields("Amy", wrong)));
        EXPECT_TRUE(anon.Expect(7, 15, 4)) << wrong;
    }
    EXPECT_EQ(FileSize(server), 0u);
    // Six wrong ones: this address is refused unseen for a minute now.
    ASSERT_TRUE(anon.Send(7, 15, AccountFields("Amy", "42")));
    EXPECT_TRUE(anon.Expect(7, 15, 4));
    TestClient other;
    ASSERT_TRUE(other.ConnectAndGreet(server.Port(), From("127.0.0.2")));
    ASSERT_TRUE(other.Send(7, 15, AccountFields("Amy", "42")));
    EXPECT_TRUE(other.Expect(7, 15, 0));
    const std::string record = RecordOf(server, 0);
    EXPECT_EQ(Escape(record), Escape(WithTimesOf(Entry("Amy", 42), record)));
}

TEST(Registration, ProfileIsReadChangedAndGivenUp) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient bob, ben, anon;
    ASSERT_TRUE(bob.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(bob.LoginAsGuest("Bob"));
    ASSERT_TRUE(ben.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(ben.LoginAsGuest("Ben"));
    ASSERT_TRUE(anon.ConnectAndGreet(server.Port()));
    // Bob owns Lounge, Ben is a member there.
    ASSERT_TRUE(bob.Send(0, 0, "Lounge"));
    ASSERT_TRUE(Drain(bob));  // the room exists before Ben asks for it
    ASSERT_TRUE(ben.Send(0, 0, "Lounge"));
    ASSERT_TRUE(Drain(ben));
    ASSERT_TRUE(Drain(bob));
    ASSERT_TRUE(Drain(anon));

    // Texts longer than their fields are cut; the full profile is 419 characters.
    const std::string p1(90, 'a'), p2(90, 'b'), p3(300, 'c');
    ASSERT_TRUE(bob.Send(7, 15, AccountFields("Bob", "5", p1, p2, p3, "1")));
    EXPECT_TRUE(bob.Expect(7, 15, 0));
    ASSERT_TRUE(anon.Send(7, 15, AccountFields("Zed", "9")));
    EXPECT_TRUE(anon.Expect(7, 15, 0));
    const std::string profile =
        Fields({p1.substr(0, 80), p2.substr(0, 80), p3.substr(0, 255), "1"});
    ASSERT_EQ(profile.size(), 419u);
    ASSERT_TRUE(bob.Send(7, 16, AccountFields("5")));
    EXPECT_TRUE(bob.Expect(7, 16, 0, profile));
    for (std::string_view wrong : {"05", "+5", " 5", "6", ""}) {
        ASSERT_TRUE(bob.Send(7, 16, AccountFields(wrong)));
        EXPECT_TRUE(bob.Expect(7, 16, 4)) << wrong;
        ASSERT_TRUE(bob.Send(7, 17, AccountFields(wrong, "5", "x", "y", "z", "0")));
        EXPECT_TRUE(bob.Expect(7, 17, 4)) << wrong;
        ASSERT_TRUE(bob.Send(7, 18, AccountFields(wrong)));
        EXPECT_TRUE(bob.Expect(7, 18, 4)) << wrong;
    }
    const std::string registered = RecordOf(server, 0);

    // A change rewrites password, texts and flag; an empty password becomes 0.
    ASSERT_TRUE(bob.Send(7, 17, AccountFields("5", "", "new1", "", "new3", "0")));
    EXPECT_TRUE(bob.Expect(7, 17, 0));
    RecordEntry changed = Entry("Bob", 0);
    changed.profile1 = "new1";
    changed.profile3 = "new3";
    std::string record = RecordOf(server, 0);
    EXPECT_EQ(Escape(record), Escape(WithTimesOf(changed, registered)));
    ASSERT_TRUE(bob.Send(7, 16, AccountFields("5")));
    EXPECT_TRUE(bob.Expect(7, 16, 4));
    ASSERT_TRUE(bob.Send(7, 16, AccountFields("0")));
    EXPECT_TRUE(bob.Expect(7, 16, 0, Fields({"new1", "", "new3", "0"})));

    // Giving it up changes only the first byte in the file; an ordinary nickname's rooms and the
    // other users hear nothing of it.
    ASSERT_TRUE(bob.Send(7, 18, AccountFields("0")));
    EXPECT_TRUE(bob.Expect(7, 18, 0));
    std::string freed = record;
    freed[0] = '\0';
    EXPECT_EQ(Escape(RecordOf(server, 0)), Escape(freed));
    EXPECT_TRUE(ben.Sync());
    EXPECT_TRUE(anon.Sync());

    // Unregistered now: the profile commands go unanswered.
    for (uint8_t sub : {16, 17, 18}) ASSERT_TRUE(bob.Send(7, sub, AccountFields("0")));
    EXPECT_TRUE(bob.Sync());

    // Registering again takes the freed first slot and links again.
    ASSERT_TRUE(bob.Send(7, 15, AccountFields("Bob", "7")));
    EXPECT_TRUE(bob.Expect(7, 15, 0));
    EXPECT_EQ(FileSize(server), 2 * kRecordSize);
    EXPECT_EQ(RecordOf(server, 0).substr(0, 4), std::string("\x03" "Bob"));
    EXPECT_EQ(RecordOf(server, 1).substr(0, 4), std::string("\x03" "Zed"));
    ASSERT_TRUE(bob.Send(7, 16, AccountFields("7")));
    EXPECT_TRUE(bob.Expect(7, 16, 0, Fields({"", "", "", "0"})));
}

TEST(Registration, GivingUpAPrivilegedNicknameAnnouncesTheDrop) {
    RecordEntry boss = Entry("Boss", 99);
    boss.color = 0xFF0000;
    boss.privileged = 1;
    TestServer server;
    server.SetUserDatabase(RecordImage(boss));
    ASSERT_TRUE(server.Start());
    TestClient ben, chief;
    ASSERT_TRUE(ben.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(ben.LoginAsGuest("Ben"));
    ASSERT_TRUE(chief.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(chief.Send(26, 0, Fields({"Boss", "99"})));
    for (TestClient* c : {&ben, &chief}) {
        ASSERT_TRUE(c->Expect(11, 19, 0, Announcement("Boss", "FF0000", "3")));
    }
    ASSERT_TRUE(chief.Expect(26, 0, 0, "FF0000"));

    // Boss owns Lounge (shown as "3", the privilege outranks ownership) with Ben in it, and Den
    // alone.
    ASSERT_TRUE(chief.Send(0, 0, "Lounge"));
    ASSERT_TRUE(chief.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    ASSERT_TRUE(chief.Expect(14, 2, 0, RoomEvent('\0', "Lounge", "Boss", "FF0000", "3")));
    const std::string lounge1 = Fields({"Lounge", "", "FFFFFF", "1", "0", "0", "0", "0"});
    for (TestClient* c : {&chief, &ben}) ASSERT_TRUE(c->Expect(19, 19, 0, lounge1));
    ASSERT_TRUE(ben.Send(0, 0, "Lounge"));
    ASSERT_TRUE(ben.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    ASSERT_TRUE(ben.Expect(14, 0, 0, RoomEvent('\0', "Lounge", "Boss", "FF0000", "3")));
    ASSERT_TRUE(ben.Expect(14, 2, 0, RoomEvent('\0', "Lounge", "Ben", "000000", "0")));
    ASSERT_TRUE(chief.Expect(14, 2, 0, RoomEvent('\0', "Lounge", "Ben", "000000", "0")));
    const std::string lounge2 = Fields({"Lounge", "", "FFFFFF", "2", "0", "0", "0", "0"});
    for (TestClient* c : {&chief, &ben}) ASSERT_TRUE(c->Expect(19, 19, 0, lounge2));
    ASSERT_TRUE(chief.Send(0, 0, "Den"));
    ASSERT_TRUE(chief.Expect(0, 0, 0, Fields({"Den", "FFFFFF"})));
    ASSERT_TRUE(chief.Expect(14, 2, 0, RoomEvent('\0', "Den", "Boss", "FF0000", "3")));
    const std::string den = Fields({"Den", "", "FFFFFF", "1", "0", "0", "0", "0"});
    for (TestClient* c : {&chief, &ben}) ASSERT_TRUE(c->Expect(19, 19, 0, den));
    const std::string after_login = RecordOf(server, 0);

    // One status event per room in join order, without an actor and with the room standing that
    // is left; then the new standing for everyone; then the answer.
    ASSERT_TRUE(chief.Send(7, 18, AccountFields("99")));
    const std::string lounge_event = RoomEvent('\x0c', "Lounge", "", "", Fields({"Boss", "2"}));
    EXPECT_TRUE(chief.Expect(14, 11, 0, lounge_event));
    EXPECT_TRUE(chief.Expect(14, 11, 0, RoomEvent('\x0c', "Den", "", "", Fields({"Boss", "2"}))));
    EXPECT_TRUE(ben.Expect(14, 11, 0, lounge_event));
    for (TestClient* c : {&chief, &ben}) {
        EXPECT_TRUE(c->Expect(11, 19, 0, Announcement("Boss", "FF0000", "0")));
    }
    EXPECT_TRUE(chief.Expect(7, 18, 0));
    std::string freed = after_login;
    freed[0] = '\0';
    EXPECT_EQ(Escape(RecordOf(server, 0)), Escape(freed));

    // Now an ordinary guest: no profile, no privilege in a lookup.
    ASSERT_TRUE(ben.Send(23, 0, "boss"));
    auto lookup = ben.Next();
    ASSERT_TRUE(lookup);
    EXPECT_TRUE(lookup->starts_with(ReplyBytes(23, 0, 0, Fields({"Boss", "FF0000", "0", ""}))))
        << DescribeMessage(*lookup);
    EXPECT_TRUE(lookup->ends_with(Fields({"", "", "", "", ""}))) << DescribeMessage(*lookup);
    EXPECT_TRUE(chief.Sync());
    EXPECT_TRUE(ben.Sync());
}

}  // namespace
}  // namespace nelv::test
