// User lookup (command 23): what is shown of online users, of registered nicknames and of both,
// and who sees network addresses.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

RecordEntry Entry(std::string nickname, int32_t password, int32_t color) {
    RecordEntry entry;
    entry.nickname = std::move(nickname);
    entry.password = password;
    entry.color = color;
    return entry;
}

// Boss (privileged), a free slot, Off (never online here), Dis (disabled), Hid (logs in
// invisible).
std::string Database() {
    RecordEntry boss = Entry("Boss", 1, 0xab12cd);
    boss.profile1 = "Chief";
    boss.profile2 = "of";
    boss.profile3 = "staff";
    boss.privileged = 1;
    RecordEntry freed = Entry("", 5, 0x123456);
    freed.profile1 = "left behind";
    RecordEntry off = Entry("Off", 2, 0xFF80);
    off.profile1 = "p1";
    off.profile2 = "p2";
    off.profile3 = "p3";
    RecordEntry dis = Entry("Dis", 3, 0x10);
    dis.enabled = 0;
    RecordEntry hid = Entry("Hid", 4, 0xFF);
    hid.loginInvisible = 1;
    return RecordImage(boss) + RecordImage(freed) + RecordImage(off) + RecordImage(dis) +
           RecordImage(hid);
}

// The ten fields of a successful lookup of `name`, or a failure with what came instead.
::testing::AssertionResult Lookup(TestClient& asker, std::string_view name,
                                  std::vector<std::string>* fields) {
    if (!asker.Send(23, 0, name)) return ::testing::AssertionFailure() << "could not send";
    auto reply = asker.Next();
    if (!reply) return ::testing::AssertionFailure() << "no answer to the lookup of " << name;
    if (!reply->starts_with(ReplyBytes(23, 0, 0))) {
        return ::testing::AssertionFailure() << "lookup of " << name << ": " << DescribeMessage(*reply);
    }
    fields->clear();
    std::string payload = reply->substr(3);
    size_t start = 0;
    for (size_t pos; (pos = payload.find(kFieldSeparator, start)) != std::string::npos; start = pos + 1) {
        fields->push_back(payload.substr(start, pos - start));
    }
    fields->push_back(payload.substr(start));
    if (fields->size() != 10) {
        return ::testing::AssertionFailure() << "lookup of " << name << " gave " << fields->size()
                                             << " fields: " << DescribeMessage(*reply);
    }
    return ::testing::AssertionSuccess();
}

using Row = std::vector<std::string>;

TEST(Lookup, RegisteredNicknamesThatAreNotOnline) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient gus, dis;
    ASSERT_TRUE(gus.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(gus.LoginAsGuest("Gus"));
    ASSERT_TRUE(dis.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(dis.Send(26, 0, Fields({"Dis", "3"})));
    ASSERT_TRUE(dis.Expect(26, 0, 20));

    Row fields;
    // The spelling and colour of the record; nothing of a connection.
    ASSERT_TRUE(Lookup(gus, "off", &fields));
    EXPECT_EQ(fields, Row({"Off", "00FF80", "", "", "", "", "p1", "p2", "p3", "0"}));
    ASSERT_TRUE(Lookup(gus, "DIS", &fields));
    EXPECT_EQ(fields, Row({"Dis", "000010", "", "", "", "", "", "", "", "0"}));
    ASSERT_TRUE(Lookup(gus, "boss", &fields));
    EXPECT_EQ(fields, Row({"Boss", "AB12CD", "", "", "", "", "Chief", "of", "staff", "1"}));

    // Free slots are nobody, not even under the empty name.
    ASSERT_TRUE(gus.Send(23, 0, ""));
    EXPECT_TRUE(gus.Expect(23, 0, 15, ""));
    ASSERT_TRUE(gus.Send(23, 0, "Nobody"));
    EXPECT_TRUE(gus.Expect(23, 0, 15, "Nobody"));
    EXPECT_TRUE(gus.Sync());
}

TEST(Lookup, OnlineUsersAndWhoSeesTheirAddress) {
    TestServer server;
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());
    TestClient gus, boss, hid;
    ASSERT_TRUE(gus.ConnectAndGreet(server.Port(), From("127.0.0.2")));
    ASSERT_TRUE(gus.LoginAsGuest("Gus"));
    ASSERT_TRUE(gus.Send(18, 0, "00ff00"));
    ASSERT_TRUE(gus.Expect(11, 19, 0, Fields({"Gus", "00ff00", "0"})));
    ASSERT_TRUE(gus.Send(13, 0, "brb"));
    ASSERT_TRUE(gus.Expect(11, 19, 0, Fields({"Gus", "00ff00", "4"})));
    ASSERT_TRUE(boss.ConnectAndGreet(server.Port(), From("127.0.0.1")));
    ASSERT_TRUE(boss.Send(26, 0, Fields({"Boss", "1"})));
    for (TestClient* c : {&gus, &boss}) {
        ASSERT_TRUE(c->Expect(11, 19, 0, Fields({"Boss", "AB12CD", "3"})));
    }
    ASSERT_TRUE(boss.Expect(26, 0, 0, "AB12CD"));
    // A login-invisible account is not announced, yet it can be looked up like anyone.
    ASSERT_TRUE(hid.ConnectAndGreet(server.Port(), From("127.0.0.3")));
    ASSERT_TRUE(hid.Send(26, 0, Fields({"Hid", "4"})));
    ASSERT_TRUE(hid.Expect(26, 0, 0, "0000FF"));
    ASSERT_TRUE(gus.Sync());
    ASSERT_TRUE(boss.Sync());

    Row fields;
    // A guest, asked by a privileged user: its state and address, no record.
    ASSERT_TRUE(Lookup(boss, "gus", &fields));
    EXPECT_EQ(fields[0], "Gus");
    EXPECT_EQ(fields[1], "00ff00");
    EXPECT_EQ(fields[2], "1");
    EXPECT_EQ(fields[3], "brb");
    EXPECT_EQ(fields[5], "127.0.0.2");
    EXPECT_EQ(Row(fields.begin() + 6, fields.end()), Row({"", "", "", ""}));
    // Oneself: the lookup itself is the last message, so no idle time; no address for a guest.
    ASSERT_TRUE(Lookup(gus, "GUS", &fields));
    EXPECT_EQ(fields, Row({"Gus", "00ff00", "1", "brb", "0", "", "", "", "", ""}));
    // A privileged user looking itself up sees its own address.
    ASSERT_TRUE(Lookup(boss, "Boss", &fields));
    EXPECT_EQ(fields, Row({"Boss", "AB12CD", "0", "", "0", "127.0.0.1", "Chief", "of", "staff", "1"}));

    // Online and registered: the record's colour in upper case, even when set in lower case.
    ASSERT_TRUE(boss.Send(18, 0, "ab12ce"));
    for (TestClient* c : {&gus, &boss, &hid}) {
        ASSERT_TRUE(c->Expect(11, 19, 0, Fields({"Boss", "ab12ce", "3"})));
    }
    ASSERT_TRUE(Lookup(gus, "BOSS", &fields));
    EXPECT_EQ(fields[0], "Boss");
    EXPECT_EQ(fields[1], "AB12CE");
    EXPECT_EQ(fields[5], "");
    EXPECT_EQ(fields[9], "1");

    ASSERT_TRUE(Lookup(gus, "hid", &fields));
    EXPECT_EQ(fields[0], "Hid");
    EXPECT_EQ(fields[1], "0000FF");
    EXPECT_EQ(fields[5], "");
    ASSERT_TRUE(Lookup(boss, "hid", &fields));
    EXPECT_EQ(fields[5], "127.0.0.3");

    // The idle time counts seconds since the user's last message: Hid stays silent while the
    // asker polls until it is no longer 0 (from half a second on, as it is rounded).
    std::string idle = "0";
    const auto deadline = Clock::now() + kDefaultTimeout;
    while (idle == "0" && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(Lookup(gus, "Hid", &fields));
        idle = fields[4];
    }
    EXPECT_TRUE(idle == "1" || idle == "2") << idle;
    EXPECT_TRUE(hid.Sync());
}

}  // namespace
}  // namespace nelv::test
