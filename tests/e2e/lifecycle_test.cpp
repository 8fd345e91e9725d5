// What a running server leaves behind and how it ends: the event log, the file of connected
// users, and shutdown on a signal.
#include <signal.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr std::string_view kCuiName = "online.cui";

std::string LocalTime(std::time_t t, const char* format) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::time_t Now() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0, end;
    while ((end = text.find("\r\n", pos)) != std::string::npos) {
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    if (pos < text.size()) lines.push_back(text.substr(pos));
    return lines;
}

TEST(EventLog, RecordsConnectionsInADatedFile) {
    TestServer server;
    std::time_t before = Now();
    ASSERT_TRUE(server.Start());
    // Nothing has happened yet, so there is no file yet.
    EXPECT_FALSE(server.EventLogName());

    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    client.Close();
    ASSERT_TRUE(server.WaitForEventLog("Closed user connection for"));
    std::time_t after = Now();

    auto names = server.FilesWithPrefix(kEventLogPrefix);
    ASSERT_EQ(names.size(), 1u);
    const std::string& name = names[0];
    EXPECT_TRUE(std::regex_match(
        name, std::regex(R"(NELV 3-Server Logfile - \d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d\.txt)")))
        << name;
    std::string stamp = name.substr(kEventLogPrefix.size(), 19);
    EXPECT_LE(LocalTime(before, "%Y-%m-%d %H.%M.%S"), stamp);
    EXPECT_GE(LocalTime(after, "%Y-%m-%d %H.%M.%S"), stamp);

    std::string log = *server.ReadFile(name);
    ASSERT_TRUE(log.ends_with("\r\n")) << Escape(log);
    for (size_t i = log.find('\n'); i != std::string::npos; i = log.find('\n', i + 1)) {
        ASSERT_TRUE(i > 0 && log[i - 1] == '\r') << "a line ends without CR: " << Escape(log);
    }
    auto lines = SplitCrLf(log);
    ASSERT_EQ(lines.size(), 2u) << Escape(log);
    const std::string stamp_pattern = R"(\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\] )";
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(stamp_pattern + R"(Incoming user connection from 127\.0\.0\.1 - )"
                                             R"(User connections: 1)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(stamp_pattern + R"(Closed user connection for 127\.0\.0\.1 )"
                                             R"(\( \d+\) - User connections: 0)")))
        << lines[1];
    for (const auto& line : lines) {
        std::string line_stamp = line.substr(1, 19);
        EXPECT_LE(LocalTime(before, "%Y.%m.%d %H:%M:%S"), line_stamp);
        EXPECT_GE(LocalTime(after, "%Y.%m.%d %H:%M:%S"), line_stamp);
    }
}

TEST(EventLog, CountsConnectionsAndNamesLoggedInUsers) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient first, second;
    ASSERT_TRUE(first.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(second.ConnectAndGreet(server.Port()));
    EXPECT_TRUE(server.WaitForEventLog(
        "Incoming user connection from 127.0.0.1 - User connections: 2"));
    ASSERT_TRUE(second.LoginAsGuest("Logger"));
    second.Close();
    EXPECT_TRUE(server.WaitForEventLog(
        "Closed user connection for 127.0.0.1 (Logger) - User connections: 1"));
}

TEST(CuiFile, IsWrittenAtStartAndEmptyWithNobodyLoggedIn) {
    TestServer server;
    server.SetIni("[General]\nCUI file=" + server.PathOf(kCuiName) + "\n");
    ASSERT_TRUE(server.Start());
    TestClient client;  // connected but not logged in: never listed
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(server.WaitForFile(kCuiName, true));
    EXPECT_EQ(server.ReadFile(kCuiName), std::string());
}

class ShutdownTest : public ::testing::TestWithParam<int> {};

TEST_P(ShutdownTest, TellsEveryClientAndEndsWithCodeZero) {
    TestServer server;
    server.SetIni("[General]\nCUI file=" + server.PathOf(kCuiName) + "\n");
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.WaitForFile(kCuiName, true));

    TestClient guest, user;
    ASSERT_TRUE(guest.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(user.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(user.LoginAsGuest("Stayer"));
    ASSERT_TRUE(guest.Expect(11, 19, 0, Fields({"Stayer", "000000", "0"})));

    server.Signal(GetParam());
    EXPECT_TRUE(guest.Expect(15, 0, 13));
    EXPECT_TRUE(guest.ExpectClosed());
    EXPECT_TRUE(user.Expect(15, 0, 13));
    EXPECT_TRUE(user.ExpectClosed());
    EXPECT_EQ(server.WaitForExit(), 0);
    EXPECT_TRUE(server.WaitForLine("Shutting down")) << server.ConsoleText();
    EXPECT_FALSE(server.FileExists(kCuiName));
}

TEST(Shutdown, ClientsThatPipelineGetEveryAnswerHandledThenTheNotice) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    std::vector<TestClient> clients(8);
    for (auto& client : clients) ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    // Each sends one chunk of 330 lookups, which all need a login; the signal follows 10 ms
    // later, while the server is still answering them.
    std::string chunk;
    for (int i = 0; i < 330; ++i) chunk += std::string("\x17\x00?", 3) + kTerminator;
    for (auto& client : clients) ASSERT_TRUE(client.SendRaw(chunk));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.Signal(SIGTERM);
    const std::string answer = ReplyBytes(23, 0, 14);
    for (std::size_t c = 0; c < clients.size(); ++c) {
        int answers = 0;
        std::optional<std::string> message;
        while ((message = clients[c].Next()) && *message == answer) ++answers;
        EXPECT_LE(answers, 330) << "client " << c;
        ASSERT_TRUE(message) << "client " << c << " after " << answers << " answers";
        EXPECT_EQ(Escape(*message), Escape(ReplyBytes(15, 0, 13))) << "client " << c;
        EXPECT_TRUE(clients[c].ExpectClosed()) << "client " << c;
    }
    EXPECT_EQ(server.WaitForExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ShutdownTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT),
                         [](const auto& test) {
                             switch (test.param) {
                                 case SIGTERM: return std::string("Term");
                                 case SIGINT: return std::string("Int");
                                 case SIGQUIT: return std::string("Quit");
                                 default: return std::string("Hup");
                             }
                         });

}  // namespace
}  // namespace nelv::test
