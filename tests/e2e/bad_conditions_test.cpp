// The server under bad conditions: a user database that cannot grow, an
// event log that cannot be written, a CUI file whose directory goes away.
// Each time it says so on the console, serves on, and damages nothing.
#include <filesystem>
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

// The console lines that start with `prefix`, once there are at least
// `expected` of them (the console is read apart from the sockets).
std::size_t CountLines(TestServer& server, std::string_view prefix, std::size_t expected) {
    auto count = [&](const std::vector<std::string>& lines) {
        std::size_t n = 0;
        for (const std::string& line : lines) n += line.starts_with(prefix);
        return n;
    };
    server.WaitForConsole([&](const auto& lines) { return count(lines) >= expected; });
    return count(server.ConsoleLines());
}

TEST(BadConditions, UserDatabaseThatCannotGrow) {
    RecordEntry alice, bob;
    alice.nickname = "Alice";
    bob.nickname = "Bob";
    const std::string database = RecordImage(alice) + RecordImage(bob);
    TestServer server;
    server.SetUserDatabase(database);
    // Room for the event log of this test, and for part of one more record only.
    server.SetFileSizeLimit(static_cast<long>(database.size()) + 200);
    ASSERT_TRUE(server.Start());

    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(client.Send(7, 15, Fields({"Carol", "5", "", "", "", "0"})));
    EXPECT_TRUE(client.Expect(7, 15, 0));  // the reply of a good write
    ASSERT_TRUE(server.WaitForLine(
        "WARNING: Record 2 of the user database could not be written (" + server.PathOf("NELV3SRV.UDB") +
        ": write failed: File too large)."))
        << server.ConsoleText();
    EXPECT_EQ(CountLines(server, "WARNING: Record", 1), 1u);
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), database);  // whole records only, as before
    // The server goes on, and knows the new nickname until it stops.
    ASSERT_TRUE(client.Send(7, 15, Fields({"carol", "5", "", "", "", "0"})));
    EXPECT_TRUE(client.Expect(7, 15, 6));
    EXPECT_TRUE(client.Sync());
}

TEST(BadConditions, EventLogThatCannotBeWritten) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient first;
    ASSERT_TRUE(first.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(server.WaitForEventLog("Incoming user connection"));
    // A directory where the log file was: not even root can append to it.
    const auto name = server.EventLogName();
    ASSERT_TRUE(name);
    std::filesystem::rename(server.PathOf(*name), server.PathOf("old.log"));
    std::filesystem::create_directory(server.PathOf(*name));

    ASSERT_TRUE(first.LoginAsGuest("Alice"));  // two events: wants to, and did, log in
    EXPECT_TRUE(first.Sync());
    EXPECT_EQ(CountLines(server, "Could not write the Log file.", 2), 2u) << server.ConsoleText();
    TestClient second;
    EXPECT_TRUE(second.ConnectAndGreet(server.Port()));
    EXPECT_TRUE(second.Sync());
}

TEST(BadConditions, CuiFileWhoseDirectoryDisappears) {
    TestServer server;
    const std::string dir = server.PathOf("cui");
    std::filesystem::create_directory(dir);
    server.SetIni("[General]\nCUI file=" + dir + "/users.txt\n");
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.WaitForFile("cui/users.txt", true));
    std::filesystem::remove_all(dir);

    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    EXPECT_TRUE(client.LoginAsGuest("Alice"));
    server.Signal(SIGTERM);  // deleting the file that is gone fails quietly
    EXPECT_TRUE(client.Expect(15, 0, 13));
    EXPECT_EQ(server.WaitForExit(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir));

    // Gone before the start, the file cannot be written and the server says so.
    TestServer later;
    later.SetIni("[General]\nCUI file=" + dir + "/users.txt\n");
    ASSERT_TRUE(later.Start());
    EXPECT_TRUE(later.WaitForLine("WARNING: Could not write to CUI file at " + dir + "/users.txt"));
    TestClient other;
    EXPECT_TRUE(other.ConnectAndGreet(later.Port()));
}

}  // namespace
}  // namespace nelv::test
