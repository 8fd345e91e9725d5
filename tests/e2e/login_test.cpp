// Logging in and changing nickname, seen from the clients, the event log and the user database
// file: every refusal with its status and log lines, registered nicknames with their password,
// colour and flags, and what a rename tells the rooms and the other users.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

constexpr std::size_t kRecordSize = 466;
constexpr std::size_t kLastLoginAtOffset = 456;
constexpr std::string_view kNoColor = "000000";

// The registered nicknames every test here starts with.
std::string UserDatabase() {
    RecordEntry alice;
    alice.nickname = "Alice";
    alice.password = 42;
    alice.color = 16711680;
    alice.registeredAt = 40000.25;
    RecordEntry disabled;
    disabled.nickname = "Dis";
    disabled.password = 5;
    disabled.enabled = 0;
    RecordEntry negative;
    negative.nickname = "Neg";
    negative.password = -7;
    negative.color = 0xFF80;
    RecordEntry ghost;
    ghost.nickname = "Ghost";
    ghost.password = 0;
    ghost.color = 0xAB12CD;
    ghost.loginInvisible = 1;
    return RecordImage(alice) + RecordImage(disabled) + RecordImage(negative) + RecordImage(ghost);
}

// The events of the log in order, without their time stamps.
std::vector<std::string> LogEvents(const TestServer& server) {
    std::vector<std::string> events;
    const std::string text = server.ReadEventLog().value_or("");
    std::size_t pos = 0, end;
    while ((end = text.find("\r\n", pos)) != std::string::npos) {
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        // "[yyyy.mm.dd hh:nn:ss] " comes first.
        events.push_back(line.size() >= 22 && line[0] == '[' && line[20] == ']' ? line.substr(22)
                                                                                 : "?" + line);
    }
    if (pos < text.size()) events.push_back("unterminated: " + text.substr(pos));
    return events;
}

// The events logged since `from` events were there.
std::vector<std::string> LogEventsSince(const TestServer& server, std::size_t from) {
    auto events = LogEvents(server);
    if (from > events.size()) return {};
    return {events.begin() + static_cast<std::ptrdiff_t>(from), events.end()};
}

using Events = std::vector<std::string>;

std::string Wants(std::string_view nick, std::string_view from = "127.0.0.1") {
    return std::string(from) + " wants to log in as " + std::string(nick);
}
std::string Invalid(std::string_view nick) { return "Nickname is invalid (" + std::string(nick) + ")"; }
std::string InUse(std::string_view nick) {
    return "Nickname is already in use (" + std::string(nick) + ")";
}
std::string LoggedIn(std::string_view nick) {
    return "127.0.0.1 successfully logged in as " + std::string(nick);
}

std::string Announcement(std::string_view nick, std::string_view color, char status = '0') {
    return ReplyBytes(11, 19, 0, Fields({nick, color, std::string(1, status)}));
}

// Command 14 code 10 as a member receives it.
std::string RenameEvent(std::string_view room, std::string_view newNick, std::string_view color,
                        std::string_view oldNick, char status) {
    std::string payload(1, '\0');
    payload += Fields({room, newNick, color, oldNick, std::string(1, status)});
    return ReplyBytes(14, 10, 0, payload);
}

// Reads everything up to the answer of a lookup that cannot succeed, so that whatever was sent
// to the client before it is consumed.
::testing::AssertionResult Drain(TestClient& client) {
    static unsigned counter = 0;
    const std::string probe = "drain probe " + std::to_string(++counter);
    if (!client.Send(23, 0, probe)) return ::testing::AssertionFailure() << "drain: could not send";
    while (auto got = client.Next()) {
        if (*got == ReplyBytes(23, 0, 14) || *got == ReplyBytes(23, 0, 15, probe)) {
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "drain: the probe was not answered";
}

// Sends a login and expects exactly the answer `status`, with nothing before it.
::testing::AssertionResult Refused(TestClient& client, std::string_view payload, uint8_t status) {
    if (!client.Send(26, 0, payload)) return ::testing::AssertionFailure() << "could not send";
    return client.Expect(26, 0, status);
}

// The local date-time as a day count since 1899-12-30, worked out from the calendar date.
double LocalDayValue() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    const auto date = year{tm.tm_year + 1900} / month{static_cast<unsigned>(tm.tm_mon + 1)} /
                      day{static_cast<unsigned>(tm.tm_mday)};
    const double days = static_cast<double>(
        (sys_days{date} - sys_days{year{1899} / December / day{30}}).count());
    return days + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.SetUserDatabase(UserDatabase());
    }
    TestServer server_;
};

TEST_F(LoginTest, RefusalsLeaveTheConnectionAsItWas) {
    ASSERT_TRUE(server_.Start());
    TestClient client, watcher;
    ASSERT_TRUE(watcher.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(watcher.LoginAsGuest("Watcher"));
    ASSERT_TRUE(client.ConnectAndGreet(server_.Port()));
    const std::size_t before = LogEvents(server_).size();

    const std::string twentyOne(21, 'n');
    EXPECT_TRUE(Refused(client, Fields({twentyOne, ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({"", "42"}), 1));
    EXPECT_TRUE(Refused(client, "", 1));
    EXPECT_TRUE(Refused(client, Fields({"Two words", ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({" Lead", ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({"No\xA0" "break", ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({"Line\r\nBreak", ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({std::string("Nul\0Byte", 8), ""}), 1));
    EXPECT_TRUE(Refused(client, Fields({"Watcher", ""}), 5));
    EXPECT_TRUE(Refused(client, Fields({"wATCHER", "1"}), 5));
    // A registered nickname: only the plain decimal text of its number is its password.
    for (const char* wrong : {"042", "+42", " 42", "42 ", "", "forty-two"}) {
        EXPECT_TRUE(Refused(client, Fields({"Alice", wrong}), 4)) << wrong;
    }
    EXPECT_TRUE(Refused(client, "Alice", 4));  // no password field at all
    EXPECT_TRUE(Refused(client, Fields({"neg", "7"}), 4));
    // The password is checked before the account is found disabled. (From
    // another address: this one has guessed too often by now.)
    TestClient other;
    ASSERT_TRUE(other.ConnectAndGreet(server_.Port(), From("127.0.0.2")));
    const std::size_t beforeOther = LogEvents(server_).size();
    EXPECT_TRUE(Refused(other, Fields({"Dis", "6"}), 4));
    EXPECT_TRUE(Refused(other, Fields({"DIS", "5"}), 20));
    EXPECT_TRUE(Refused(client, Fields({"DIS", "5"}), 4));  // refused unseen
    EXPECT_TRUE(server_.WaitForLine("WARNING: Too many wrong passwords from 127.0.0.1")) << server_.ConsoleText();
    EXPECT_TRUE(client.Sync());  // status 14: still not logged in
    EXPECT_TRUE(watcher.Sync());  // and nobody heard of any of it

    // Refusals 1 and 5 name the nickname; control bytes appear escaped, one event per line.
    const Events expected = {
        Wants(twentyOne), Invalid(twentyOne),
        Wants(""), Invalid(""),
        Wants(""), Invalid(""),
        Wants("Two words"), Invalid("Two words"),
        Wants(" Lead"), Invalid(" Lead"),
        Wants("No\xA0" "break"), Invalid("No\xA0" "break"),
        Wants("Line\\x0D\\x0ABreak"), Invalid("Line\\x0D\\x0ABreak"),
        Wants("Nul\\x00Byte"), Invalid("Nul\\x00Byte"),
        Wants("Watcher"), InUse("Watcher"),
        Wants("wATCHER"), InUse("wATCHER"),
        Wants("Alice"), Wants("Alice"), Wants("Alice"), Wants("Alice"), Wants("Alice"),
        Wants("Alice"), Wants("Alice"),
        Wants("neg"),
    };
    auto events = LogEventsSince(server_, before);
    const auto incoming = std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.starts_with("Incoming user connection from 127.0.0.2");
    });
    ASSERT_NE(incoming, events.end());
    events.erase(incoming);
    const Events fromOther = {Wants("Dis", "127.0.0.2"), Wants("DIS", "127.0.0.2"), Wants("DIS")};
    EXPECT_EQ(LogEventsSince(server_, beforeOther), fromOther);
    events.resize(events.size() - fromOther.size());
    EXPECT_EQ(events, expected);

    // The longest nickname, and bytes above 0x7F other than 0xA0, are fine.
    const std::string twenty = std::string(19, 'n') + "\xE9";
    const std::size_t beforeLogin = LogEvents(server_).size();
    ASSERT_TRUE(client.Send(26, 0, Fields({twenty, "anything"})));
    EXPECT_TRUE(client.ExpectMessage(Announcement(twenty, kNoColor)));
    EXPECT_TRUE(client.Expect(26, 0, 0));
    EXPECT_TRUE(watcher.ExpectMessage(Announcement(twenty, kNoColor)));

    // Logged in, the same refusals apply, its own name in any case included.
    EXPECT_TRUE(Refused(client, Fields({twenty, ""}), 5));
    EXPECT_TRUE(Refused(client, Fields({std::string(19, 'N') + "\xC9", ""}), 5));
    EXPECT_TRUE(Refused(client, Fields({"Alice", "41"}), 4));
    EXPECT_TRUE(Refused(client, Fields({twentyOne, ""}), 1));
    EXPECT_TRUE(client.Sync());  // status 15: logged in, under the same name
    EXPECT_TRUE(watcher.Sync());
    const Events afterRename = {
        Wants(twenty), LoggedIn(twenty),
        Wants(twenty), InUse(twenty),
        Wants(std::string(19, 'N') + "\xC9"), InUse(std::string(19, 'N') + "\xC9"),
        Wants("Alice"),
        Wants(twentyOne), Invalid(twentyOne),
    };
    EXPECT_EQ(LogEventsSince(server_, beforeLogin), afterRename);
}

TEST_F(LoginTest, RegisteredNicknamesBringTheirColourAndStampTheLogin) {
    ASSERT_TRUE(server_.Start());
    TestClient alice, neg, guest;
    ASSERT_TRUE(alice.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(neg.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(guest.ConnectAndGreet(server_.Port()));
    const std::string fileBefore = server_.ReadFile("NELV3SRV.UDB").value_or("");
    ASSERT_EQ(fileBefore.size(), 4 * kRecordSize);

    const double before = LocalDayValue();
    ASSERT_TRUE(alice.Send(26, 0, Fields({"alice", "42"})));
    // The name is taken as sent, the colour from the record.
    for (TestClient* c : {&alice, &neg, &guest}) {
        EXPECT_TRUE(c->ExpectMessage(Announcement("alice", "FF0000")));
    }
    EXPECT_TRUE(alice.Expect(26, 0, 0, "FF0000"));
    const double after = LocalDayValue();

    const std::string fileAfter = server_.ReadFile("NELV3SRV.UDB").value_or("");
    ASSERT_EQ(fileAfter.size(), fileBefore.size());
    const double stamp = ImageDouble(fileAfter, kLastLoginAtOffset);
    const double second = 1.0 / 86400.0;
    EXPECT_GE(stamp, before - 2 * second);
    EXPECT_LE(stamp, after + 2 * second);
    // Nothing else of the file changed.
    for (std::size_t i = 0; i < fileAfter.size(); ++i) {
        if (i >= kLastLoginAtOffset && i < kLastLoginAtOffset + 8) continue;
        ASSERT_EQ(fileAfter[i], fileBefore[i]) << "byte " << i;
    }

    // A negative password matches its rendering with the minus sign; the colour keeps its zeros.
    ASSERT_TRUE(neg.Send(26, 0, Fields({"Neg", "-7"})));
    for (TestClient* c : {&alice, &neg, &guest}) {
        EXPECT_TRUE(c->ExpectMessage(Announcement("Neg", "00FF80")));
    }
    EXPECT_TRUE(neg.Expect(26, 0, 0, "00FF80"));
    EXPECT_NE(ImageDouble(server_.ReadFile("NELV3SRV.UDB").value_or(""), kRecordSize * 2 +
                                                                          kLastLoginAtOffset),
              0.0);

    // An unregistered nickname ignores the password field, whatever it holds.
    ASSERT_TRUE(guest.Send(26, 0, "Guest"));
    for (TestClient* c : {&alice, &neg, &guest}) {
        EXPECT_TRUE(c->ExpectMessage(Announcement("Guest", kNoColor)));
    }
    EXPECT_TRUE(guest.Expect(26, 0, 0));

    const Events expected = {
        Wants("alice"), LoggedIn("alice"), Wants("Neg"), LoggedIn("Neg"),
        Wants("Guest"), LoggedIn("Guest"),
    };
    const Events events = LogEvents(server_);
    ASSERT_GE(events.size(), expected.size());
    EXPECT_EQ(Events(events.end() - static_cast<std::ptrdiff_t>(expected.size()), events.end()),
              expected);
    for (TestClient* c : {&alice, &neg, &guest}) EXPECT_TRUE(c->Sync());
}

TEST_F(LoginTest, OnlyRegisteredNicknamesWhenConfigured) {
    server_.SetIni("[Users]\nOnly registered users=1\n");
    ASSERT_TRUE(server_.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server_.Port()));
    const std::size_t before = LogEvents(server_).size();
    EXPECT_TRUE(Refused(client, Fields({"Guest", ""}), 2));
    EXPECT_TRUE(Refused(client, Fields({"Bad name", ""}), 1));  // validity is checked first
    EXPECT_TRUE(Refused(client, Fields({"Alice", "1"}), 4));
    EXPECT_TRUE(client.Sync());
    ASSERT_TRUE(client.Send(26, 0, Fields({"ALICE", "42"})));
    EXPECT_TRUE(client.ExpectMessage(Announcement("ALICE", "FF0000")));
    EXPECT_TRUE(client.Expect(26, 0, 0, "FF0000"));
    // Renaming to an unregistered nickname is refused as well, and the user keeps its name.
    EXPECT_TRUE(Refused(client, Fields({"Guest", ""}), 2));
    EXPECT_TRUE(client.Sync());
    const Events expected = {
        Wants("Guest"), Wants("Bad name"), Invalid("Bad name"), Wants("Alice"),
        Wants("ALICE"), LoggedIn("ALICE"), Wants("Guest"),
    };
    EXPECT_EQ(LogEventsSince(server_, before), expected);
}

// Records as an edited or older file may hold them: a freed slot, a nickname registered twice,
// and bytes the server itself never writes.
TEST(LoginRecords, FreeSlotsDuplicatesAndOddBytes) {
    RecordEntry freed;
    freed.nickname = "Bob";
    freed.password = 9;
    std::string freedImage = RecordImage(freed);
    freedImage[0] = '\0';
    RecordEntry first, second, wide;
    first.nickname = "Alice";
    first.password = 42;
    second.nickname = "ALICE";
    second.password = 43;
    wide.nickname = "ABCDEFGHIJKLMNOPQRST";
    wide.password = 1;
    wide.color = 0x1234567;
    wide.privileged = 2;
    wide.loginInvisible = 0;
    std::string wideImage = RecordImage(wide);
    wideImage[0] = static_cast<char>(25);  // longer than the field can hold

    TestServer server;
    server.SetIni("[Users]\nOnly registered users=1\n");
    server.SetUserDatabase(freedImage + RecordImage(first) + RecordImage(second) + wideImage);
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));

    EXPECT_TRUE(Refused(client, Fields({"Bob", "9"}), 2));  // a freed slot is nobody's
    EXPECT_TRUE(Refused(client, Fields({"alice", "43"}), 4));  // the first record decides
    ASSERT_TRUE(client.Send(26, 0, Fields({"ABCDEFGHIJKLMNOPQRST", "1"})));
    // Seven hexadecimal digits are cut to six; any non-zero privilege byte ranks "3".
    EXPECT_TRUE(client.ExpectMessage(Announcement("ABCDEFGHIJKLMNOPQRST", "123456", '3')));
    EXPECT_TRUE(client.Expect(26, 0, 0, "123456"));
    ASSERT_TRUE(client.Send(26, 0, Fields({"alice", "42"})));
    EXPECT_TRUE(client.Expect(11, 20, 0, "ABCDEFGHIJKLMNOPQRST"));
    EXPECT_TRUE(client.ExpectMessage(Announcement("alice", "000000")));
    EXPECT_TRUE(client.Expect(26, 0, 0, "000000"));
    EXPECT_TRUE(client.Sync());

    // Only the first Alice record was stamped; the freed slot kept every byte.
    const std::string file = server.ReadFile("NELV3SRV.UDB").value_or("");
    ASSERT_EQ(file.size(), 4 * kRecordSize);
    EXPECT_EQ(file.substr(0, kRecordSize), freedImage);
    EXPECT_NE(ImageDouble(file, kRecordSize + kLastLoginAtOffset), 0.0);
    EXPECT_EQ(file.substr(2 * kRecordSize, kRecordSize), RecordImage(second));
}

TEST_F(LoginTest, VisibleRenameTellsRoomsFirstThenEveryone) {
    ASSERT_TRUE(server_.Start());
    TestClient ann, bob, idle;
    ASSERT_TRUE(ann.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(ann.LoginAsGuest("Ann"));
    ASSERT_TRUE(bob.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(bob.LoginAsGuest("Bob"));
    ASSERT_TRUE(idle.ConnectAndGreet(server_.Port()));  // never logs in, still hears it all
    ASSERT_TRUE(ann.Send(0, 0, "Lounge"));  // Ann creates and owns both rooms
    ASSERT_TRUE(ann.Send(0, 0, "Den"));
    ASSERT_TRUE(Drain(ann));
    ASSERT_TRUE(bob.Send(0, 0, "lounge"));
    ASSERT_TRUE(Drain(bob));
    ASSERT_TRUE(Drain(ann));
    ASSERT_TRUE(Drain(idle));

    ASSERT_TRUE(ann.Send(26, 0, Fields({"Anna", "ignored"})));
    EXPECT_TRUE(ann.ExpectMessage(RenameEvent("Lounge", "Anna", kNoColor, "Ann", '2')));
    EXPECT_TRUE(ann.ExpectMessage(RenameEvent("Den", "Anna", kNoColor, "Ann", '2')));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Lounge", "Anna", kNoColor, "Ann", '2')));
    for (TestClient* c : {&ann, &bob, &idle}) {
        EXPECT_TRUE(c->Expect(11, 20, 0, "Ann"));
        EXPECT_TRUE(c->ExpectMessage(Announcement("Anna", kNoColor)));
    }
    EXPECT_TRUE(ann.Expect(26, 0, 0));
    for (TestClient* c : {&ann, &bob, &idle}) EXPECT_TRUE(c->Sync());

    // Renamed to a registered nickname, the user takes the record's colour, and the room event
    // already carries it. Bob's standing in the room is that of an ordinary member.
    ASSERT_TRUE(bob.Send(26, 0, Fields({"Alice", "42"})));
    EXPECT_TRUE(ann.ExpectMessage(RenameEvent("Lounge", "Alice", "FF0000", "Bob", '0')));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Lounge", "Alice", "FF0000", "Bob", '0')));
    for (TestClient* c : {&ann, &bob, &idle}) {
        EXPECT_TRUE(c->Expect(11, 20, 0, "Bob"));
        EXPECT_TRUE(c->ExpectMessage(Announcement("Alice", "FF0000")));
    }
    EXPECT_TRUE(bob.Expect(26, 0, 0, "FF0000"));

    // Away from the account again: the colour stays, the answer carries none.
    ASSERT_TRUE(bob.Send(26, 0, Fields({"Bert", ""})));
    EXPECT_TRUE(ann.ExpectMessage(RenameEvent("Lounge", "Bert", "FF0000", "Alice", '0')));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Lounge", "Bert", "FF0000", "Alice", '0')));
    for (TestClient* c : {&ann, &bob, &idle}) {
        EXPECT_TRUE(c->Expect(11, 20, 0, "Alice"));
        EXPECT_TRUE(c->ExpectMessage(Announcement("Bert", "FF0000")));
    }
    EXPECT_TRUE(bob.Expect(26, 0, 0));
    for (TestClient* c : {&ann, &bob, &idle}) EXPECT_TRUE(c->Sync());

    // The old names are free again, and the rooms list the members under their new names.
    TestClient late;
    ASSERT_TRUE(late.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(late.Send(26, 0, Fields({"ann", ""})));
    for (TestClient* c : {&ann, &bob, &idle, &late}) {
        EXPECT_TRUE(c->ExpectMessage(Announcement("ann", kNoColor)));
    }
    EXPECT_TRUE(late.Expect(26, 0, 0));
    ASSERT_TRUE(late.Send(0, 0, "Lounge"));
    EXPECT_TRUE(late.Expect(0, 0, 0, Fields({"Lounge", "FFFFFF"})));
    std::string present(1, '\0');
    present += Fields({"Lounge", "Anna", kNoColor, "2"});
    EXPECT_TRUE(late.Expect(14, 0, 0, present));
    present = std::string(1, '\0') + Fields({"Lounge", "Bert", "FF0000", "0"});
    EXPECT_TRUE(late.Expect(14, 0, 0, present));

    const Events events = LogEvents(server_);
    for (const auto& line : {LoggedIn("Anna"), LoggedIn("Alice"), LoggedIn("Bert")}) {
        EXPECT_NE(std::find(events.begin(), events.end(), line), events.end()) << line;
    }
}

TEST_F(LoginTest, InvisibleAccountsAreNeverAnnounced) {
    ASSERT_TRUE(server_.Start());
    TestClient ghost, bob, idle;
    ASSERT_TRUE(bob.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(bob.LoginAsGuest("Bob"));
    ASSERT_TRUE(ghost.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(idle.ConnectAndGreet(server_.Port()));
    ASSERT_TRUE(ghost.Send(26, 0, Fields({"ghost", "0"})));
    // No announcement, not even to itself; only the answer with the record's colour.
    EXPECT_TRUE(ghost.Expect(26, 0, 0, "AB12CD"));
    EXPECT_TRUE(ghost.Sync());
    EXPECT_TRUE(bob.Sync());
    EXPECT_TRUE(idle.Sync());
    EXPECT_TRUE(server_.WaitForEventLog(LoggedIn("ghost")));

    ASSERT_TRUE(bob.Send(0, 0, "Hideout"));
    ASSERT_TRUE(Drain(bob));
    ASSERT_TRUE(ghost.Send(0, 0, "Hideout"));
    ASSERT_TRUE(Drain(ghost));
    ASSERT_TRUE(Drain(bob));
    ASSERT_TRUE(Drain(idle));

    // An invisible user's rename reaches its rooms only, and it stays invisible, even under a
    // nickname without the flag.
    ASSERT_TRUE(ghost.Send(26, 0, Fields({"Shade", ""})));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Hideout", "Shade", "AB12CD", "ghost", '0')));
    EXPECT_TRUE(ghost.ExpectMessage(RenameEvent("Hideout", "Shade", "AB12CD", "ghost", '0')));
    EXPECT_TRUE(ghost.Expect(26, 0, 0));
    ASSERT_TRUE(ghost.Send(26, 0, Fields({"Shadow", ""})));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Hideout", "Shadow", "AB12CD", "Shade", '0')));
    EXPECT_TRUE(ghost.ExpectMessage(RenameEvent("Hideout", "Shadow", "AB12CD", "Shade", '0')));
    EXPECT_TRUE(ghost.Expect(26, 0, 0));
    for (TestClient* c : {&ghost, &bob, &idle}) EXPECT_TRUE(c->Sync());

    // A visible user renaming to the invisible account says goodbye and is not announced again.
    ASSERT_TRUE(bob.Send(26, 0, Fields({"GHOST", "0"})));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Hideout", "GHOST", "AB12CD", "Bob", '2')));
    EXPECT_TRUE(ghost.ExpectMessage(RenameEvent("Hideout", "GHOST", "AB12CD", "Bob", '2')));
    for (TestClient* c : {&ghost, &bob, &idle}) EXPECT_TRUE(c->Expect(11, 20, 0, "Bob"));
    EXPECT_TRUE(bob.Expect(26, 0, 0, "AB12CD"));
    for (TestClient* c : {&ghost, &bob, &idle}) EXPECT_TRUE(c->Sync());
    // Now invisible, its next rename is silent too.
    ASSERT_TRUE(bob.Send(26, 0, Fields({"Bob", ""})));
    EXPECT_TRUE(bob.ExpectMessage(RenameEvent("Hideout", "Bob", "AB12CD", "GHOST", '2')));
    EXPECT_TRUE(ghost.ExpectMessage(RenameEvent("Hideout", "Bob", "AB12CD", "GHOST", '2')));
    EXPECT_TRUE(bob.Expect(26, 0, 0));
    for (TestClient* c : {&ghost, &bob, &idle}) EXPECT_TRUE(c->Sync());
}

}  // namespace
}  // namespace nelv::test
