// Start-up of the server process: defaults, configuration values, the user database size check
// and failures to listen.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr uint16_t kDefaultPort = 1995;
constexpr size_t kRecordSize = 466;
constexpr std::string_view kCorruptLine = "FATAL ERROR: The user database appears to be corrupt.";

// A registered nickname with password 0, enabled, everything else zero.
std::string Record(std::string_view nickname) {
    std::string record(kRecordSize, '\0');
    record[0] = static_cast<char>(nickname.size());
    record.replace(1, nickname.size(), nickname);
    record[464] = 1;
    return record;
}

// Starts a server that must listen on the default port, waiting while another test process
// holds it. *busy tells that the port never became free.
::testing::AssertionResult StartOnDefaultPort(TestServer& server, bool* busy) {
    server.SetPort(kDefaultPort);
    *busy = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!WaitForFreePort(kDefaultPort, Duration{30000})) break;
        auto started = server.Start();
        if (started || !server.HasLine("Chatserver could not be started (Errorcode: 98)")) {
            return started;
        }
    }
    *busy = true;
    return ::testing::AssertionFailure() << "port 1995 stayed busy";
}

#define START_ON_DEFAULT_PORT_OR_SKIP(server)                         \
    do {                                                              \
        bool busy;                                                    \
        auto started = StartOnDefaultPort(server, &busy);             \
        if (busy) GTEST_SKIP() << "port 1995 is taken on this host";  \
        ASSERT_TRUE(started);                                         \
    } while (false)

TEST(Startup, WithoutConfigurationUsesDefaults) {
    TestServer server;
    server.SetNoIni();
    // CR LF, LF and lone CR all end lines; a final break adds no line; a zero byte ends the text.
    static constexpr char kWelcome[] = "Line one\r\nLine two\nLine three\rLast line\n\0ignored\r\n";
    server.SetWelcome(std::string(kWelcome, sizeof kWelcome - 1));
    START_ON_DEFAULT_PORT_OR_SKIP(server);

    auto console = server.ConsoleLines();
    ASSERT_GE(console.size(), 5u) << server.ConsoleText();
    EXPECT_EQ(console[0], "NELV 3-Server (Build 263)");
    EXPECT_EQ(console[2], "");
    EXPECT_EQ(console[3], "Reading configuration");
    EXPECT_EQ(console[4], kRunningLine);

    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(kDefaultPort));
    ASSERT_TRUE(client.Send(8, 0));
    EXPECT_TRUE(client.Expect(
        10, 1, 0,
        Fields({"My NELV Chat", "Line one\r\nLine two\r\nLine three\r\nLast line\r\n"})));
    EXPECT_TRUE(client.Expect(10, 4, 0));
    EXPECT_TRUE(client.Expect(10, 5, 0));
    EXPECT_TRUE(client.Sync());

    // A missing user database is created, empty.
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), std::string());
}

TEST(Startup, PortThatIsNotANumberFallsBackToDefault) {
    TestServer server;
    server.SetRawIni([](uint16_t) { return "[General]\nPort=19x5\nBindTo=127.0.0.1\n"; });
    START_ON_DEFAULT_PORT_OR_SKIP(server);
    TestClient client;
    EXPECT_TRUE(client.ConnectAndGreet(kDefaultPort));
}

struct PortSpelling {
    const char* name;
    const char* format;  // printf format applied to the port number
    unsigned add;        // added to the port before formatting
};

class PortSpellingTest : public ::testing::TestWithParam<PortSpelling> {};

TEST_P(PortSpellingTest, ListensOnThePortWritten) {
    const PortSpelling& spelling = GetParam();
    TestServer server;
    server.SetRawIni([&](uint16_t port) {
        char value[32];
        std::snprintf(value, sizeof value, spelling.format, port + spelling.add);
        return std::string("[General]\r\nPort=") + value + "\r\nBindTo=127.0.0.1\r\n";
    });
    ASSERT_TRUE(server.Start());
    TestClient client;
    EXPECT_TRUE(client.ConnectAndGreet(server.Port()));
}

INSTANTIATE_TEST_SUITE_P(
    Startup, PortSpellingTest,
    ::testing::Values(PortSpelling{"Decimal", "%u", 0}, PortSpelling{"Plus", "+%u", 0},
                      PortSpelling{"ZeroXUpper", "0x%X", 0}, PortSpelling{"ZeroXLower", "0X%x", 0},
                      PortSpelling{"DollarUpper", "$%X", 0}, PortSpelling{"DollarLower", "$%x", 0},
                      PortSpelling{"LeadingZeros", "000%u", 0},
                      PortSpelling{"LowSixteenBitsKept", "%u", 65536}),
    [](const auto& test) { return std::string(test.param.name); });

// The user limit shows how an integer value was read: a valid 2 refuses the third connection,
// anything that does not convert leaves the default of no limit.
struct LimitSpelling {
    const char* name;
    const char* value;
    bool limited;
};

class LimitSpellingTest : public ::testing::TestWithParam<LimitSpelling> {};

TEST_P(LimitSpellingTest, ThirdConnection) {
    const LimitSpelling& spelling = GetParam();
    TestServer server;
    server.SetIni(std::string("[Users]\nMaximum number of users=") + spelling.value + "\n");
    ASSERT_TRUE(server.Start());
    TestClient first, second, third;
    ASSERT_TRUE(first.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(second.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(third.Connect(server.Port()));
    if (spelling.limited) {
        EXPECT_TRUE(third.Expect(15, 0, 3));
        EXPECT_TRUE(third.ExpectClosed());
    } else {
        EXPECT_TRUE(third.ExpectMessage(kGreeting));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Startup, LimitSpellingTest,
    ::testing::Values(LimitSpelling{"Decimal", "2", true}, LimitSpelling{"Plus", "+2", true},
                      LimitSpelling{"ZeroX", "0x2", true}, LimitSpelling{"Dollar", "$2", true},
                      LimitSpelling{"BlanksAround", "  2  ", true},
                      LimitSpelling{"TrailingLetter", "2x", false},
                      LimitSpelling{"Word", "two", false}, LimitSpelling{"Empty", "", false},
                      LimitSpelling{"ZeroXAlone", "0x", false},
                      LimitSpelling{"DollarAlone", "$", false},
                      LimitSpelling{"Fraction", "2.0", false},
                      LimitSpelling{"OutOfRange", "4294967298", false},
                      LimitSpelling{"SignAndBlank", "+ 2", false}),
    [](const auto& test) { return std::string(test.param.name); });

class CorruptDatabaseTest : public ::testing::TestWithParam<size_t> {};

TEST_P(CorruptDatabaseTest, StopsTheStartAndLeavesTheFileAlone) {
    std::string bytes = Record("Alice") + Record("Bob") + Record("Carol");
    bytes.resize(GetParam(), 'z');
    TestServer server;
    server.SetUserDatabase(bytes);
    ASSERT_TRUE(server.Launch());
    EXPECT_EQ(server.WaitForExit(kStartTimeout), 1) << server.ConsoleText();
    EXPECT_TRUE(server.HasLine(kCorruptLine)) << server.ConsoleText();
    EXPECT_FALSE(server.HasLine(kRunningLine));
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), bytes);
}

INSTANTIATE_TEST_SUITE_P(Startup, CorruptDatabaseTest,
                         ::testing::Values(1, kRecordSize - 1, 2 * kRecordSize + 1,
                                           3 * kRecordSize + 1));

TEST(Startup, AcceptsWholeRecords) {
    std::string bytes = Record("Alice") + Record("Bob");
    ASSERT_EQ(bytes.size(), 932u);
    TestServer server;
    server.SetUserDatabase(bytes);
    ASSERT_TRUE(server.Start());
    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    EXPECT_TRUE(client.Sync());
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), bytes);
}

TEST(Startup, PortInUseStopsTheStart) {
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);

    TestServer server;
    server.SetPort(ntohs(addr.sin_port));
    ASSERT_TRUE(server.Launch());
    EXPECT_EQ(server.WaitForExit(kStartTimeout), 1) << server.ConsoleText();
    EXPECT_TRUE(server.HasLine("Chatserver could not be started (Errorcode: 98)"))
        << server.ConsoleText();
    EXPECT_FALSE(server.HasLine(kRunningLine));
    ::close(holder);
}

TEST(Startup, BindToThatIsNoAddressStopsTheStart) {
    for (const char* bindTo : {"localhost", "127.0.0.1.5", "255.255.255.255", "", "127.0.0.x"}) {
        TestServer server;
        server.SetRawIni([bindTo](uint16_t port) {
            return "[General]\nPort=" + std::to_string(port) + "\nBindTo=" + bindTo + "\n";
        });
        ASSERT_TRUE(server.Launch());
        EXPECT_EQ(server.WaitForExit(kStartTimeout), 1) << bindTo << "\n" << server.ConsoleText();
        EXPECT_TRUE(server.HasLine("Chatserver could not be started (Errorcode: 99)")) << bindTo;
    }
}

TEST(Startup, RunsFromItsOwnDirectoryWithoutArguments) {
    TestServer server;
    server.SetCopyExecutable(true);
    server.SetIni("[General]\nChatname=Copied Chat\n");
    ASSERT_TRUE(server.Start());

    std::string app_dir = std::filesystem::canonical(server.Dir()).string() + "/";
    EXPECT_TRUE(server.HasLine("WARNING: The welcome message file " + app_dir +
                               "welcome.txt couldn't be read."))
        << server.ConsoleText();

    TestClient client;
    ASSERT_TRUE(client.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(client.Send(8, 0));
    EXPECT_TRUE(client.Expect(10, 1, 0, Fields({"Copied Chat", ""})));
    client.Close();
    EXPECT_TRUE(server.FileExists("NELV3SRV.UDB"));
    EXPECT_TRUE(server.WaitForEventLog("Incoming user connection from 127.0.0.1"));
}

TEST(Startup, WelcomeTextThatCannotBeReadIsWarnedAbout) {
    TestServer server;
    // Opens, but cannot be read.
    std::filesystem::create_directory(server.PathOf("WELCOME.TXT"));
    ASSERT_TRUE(server.Start());
    std::string app_dir = server.Dir();
    if (!app_dir.ends_with('/')) app_dir += '/';
    auto console = server.ConsoleLines();
    ASSERT_GE(console.size(), 6u) << server.ConsoleText();
    EXPECT_EQ(console[4], "WARNING: The welcome message file " + app_dir +
                              "welcome.txt couldn't be read.");
    EXPECT_EQ(console[5], kRunningLine);
}

}  // namespace
}  // namespace nelv::test
