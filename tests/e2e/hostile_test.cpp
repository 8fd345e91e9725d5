// Clients that try to exhaust the server, one row per attack at a small
// scale, each asserting the bound that defends against it. Memory and CPU
// figures are asserted only in plain builds: sanitizers change both.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/chat_test_helpers.h"
#include "e2e/moderation_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainBuild = false;
#else
constexpr bool kPlainBuild = true;
#endif

namespace nelv::test {
namespace {

// The server's peak resident memory in KiB (VmHWM), and its CPU time so far.
long PeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}
std::chrono::microseconds CpuTime(pid_t pid) {
    long long nanoseconds = 0;  // on a CPU, every thread
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream stat(task.path() / "schedstat");
        long long spent = 0;
        if (stat >> spent) nanoseconds += spent;
    }
    return std::chrono::microseconds(nanoseconds / 1000);
}

std::string RoomText(std::string_view room, std::string_view text) {
    return std::string(1, '\x03') + std::string(1, '\0') + Fields({room, text});
}

struct HostileCase {
    const char* name;
    std::function<void(TestServer&)> run;
};

const HostileCase kCases[] = {
    {"OneAddressCannotTakeEveryConnection",
     [](TestServer& server) {
         std::vector<std::unique_ptr<TestClient>> flood;
         for (int i = 0; i < 32; ++i) {
             flood.push_back(std::make_unique<TestClient>());
             ASSERT_TRUE(flood.back()->ConnectAndGreet(server.Port(), From("127.0.0.2"))) << i;
         }
         TestClient over, elsewhere;
         ASSERT_TRUE(over.Connect(server.Port(), From("127.0.0.2")));
         EXPECT_TRUE(over.Expect(15, 0, 3));
         EXPECT_TRUE(over.ExpectClosed());
         EXPECT_TRUE(elsewhere.ConnectAndGreet(server.Port(), From("127.0.0.3")));
     }},
    {"ServerInformationIsAnsweredWholeHoweverLongTheRoomList",
     [](TestServer& server) {
         TestClient maker, bystander, asker;
         ASSERT_TRUE(LogIn(maker, server.Port(), "Maker"));
         ClientOptions small;  // the kernel holds little of it: the server's queue holds the rest
         small.receive_buffer = 4096;
         ASSERT_TRUE(bystander.ConnectAndGreet(server.Port(), small));
         for (char c = 'a'; c < 'a' + 20; ++c) {
             ASSERT_TRUE(maker.Send(0, 0, std::string(60'000, c)));
         }
         ASSERT_TRUE(Drain(maker));
         // 1.2 MB of room news at once: a client that reads them is not cut off.
         for (int room = 0; room < 20; ++room) ASSERT_TRUE(bystander.Next()) << room;
         EXPECT_TRUE(bystander.Sync());
         ASSERT_TRUE(asker.ConnectAndGreet(server.Port()));
         ASSERT_TRUE(asker.Send(8, 0));
         std::size_t listed = 0;
         for (int part : {1, 4, 5}) {
             auto message = asker.Next();
             ASSERT_TRUE(message) << "part " << part;
             ASSERT_EQ((*message)[1], part);
             listed += message->size();
         }
         EXPECT_GT(listed, 18u * 60'000);
         EXPECT_TRUE(asker.Sync());
     }},
    {"OwnBroadcastsNeverCutTheSenderOff",
     [](TestServer& server) {
         TestClient away;
         ASSERT_TRUE(LogIn(away, server.Port(), "Away"));
         // Twenty 64 KiB away texts, each announced to everybody, the sender included.
         for (int i = 0; i < 20; ++i) ASSERT_TRUE(away.Send(13, 0, std::string(65'000, 'z')));
         for (int i = 0; i < 20; ++i) {
             auto message = away.Next();
             ASSERT_TRUE(message) << "status line " << i;
             EXPECT_EQ(message->substr(0, 3), ReplyBytes(11, 19, 0)) << i;
         }
         EXPECT_TRUE(away.Sync());
     }},
    {"ClientsThatNeverReadAreCutOffAndTheirTextsAreHeldOnce",
     [](TestServer& server) {
         ClientOptions small;
         small.receive_buffer = 4096;
         std::vector<std::unique_ptr<TestClient>> sleepers;
         TestClient sender, other;
         ASSERT_TRUE(LogIn(sender, server.Port(), "Sender"));
         ASSERT_TRUE(sender.Send(0, 0, "Flood"));
         ASSERT_TRUE(LogIn(other, server.Port(), "Other"));
         ASSERT_TRUE(other.Send(0, 0, "Calm"));
         for (int i = 0; i < 20; ++i) {
             sleepers.push_back(std::make_unique<TestClient>());
             ASSERT_TRUE(LogIn(*sleepers.back(), server.Port(), "Sleeper" + std::to_string(i), {}, {}, {}));
             ASSERT_TRUE(sleepers.back()->Send(0, 0, "Flood"));
             ASSERT_TRUE(Drain(*sleepers.back()));
         }
         ASSERT_TRUE(Drain(sender));
         ASSERT_TRUE(Drain(other));
         auto worst = Clock::duration::zero();
         const std::string text(64'000, 't');
         for (int i = 0; i < 40; ++i) {
             ASSERT_TRUE(sender.SendRaw(RoomText("Flood", text) + kTerminator));
             for (std::optional<std::string> echo; (echo = sender.Next()) && echo->size() < text.size();) {
             }
             const auto start = Clock::now();
             ASSERT_TRUE(Drain(other));  // room list changes come before its answer
             worst = std::max(worst, Clock::now() - start);
         }
         // Cut off once they have not read for a second; a client that reads in time is kept.
         for (int i = 0; i < 20; ++i) {
             EXPECT_TRUE(server.WaitForEventLog("Closed user connection for 127.0.0.1 (Sleeper" + std::to_string(i) + ")"));
         }
         for (auto& sleeper : sleepers) EXPECT_TRUE(sleeper->DrainUntilClosed(kDefaultTimeout));
         EXPECT_LT(worst, std::chrono::milliseconds(250));
         // 20 sleepers at 1 MiB each would need 20 MiB; a text is held once for all of them.
         if (kPlainBuild) {
             EXPECT_LT(PeakKiB(server.Pid()), 16 * 1024);
         }
     }},
    {"ATrickledByteCostsTheSameHoweverLongThePartialMessage",
     [](TestServer& server) {
         std::vector<std::unique_ptr<TestClient>> tricklers(30);
         for (auto& trickler : tricklers) {
             trickler = std::make_unique<TestClient>();
             ASSERT_TRUE(trickler->ConnectAndGreet(server.Port()));
             ASSERT_TRUE(trickler->SendRaw("short"));
         }
         TestClient probe;
         ASSERT_TRUE(probe.ConnectAndGreet(server.Port()));
         // The server's CPU for 1800 bytes trickled one at a time into the partial messages.
         auto trickle = [&] {
             const auto before = CpuTime(server.Pid());
             for (int round = 0; round < 60; ++round) {
                 for (auto& trickler : tricklers) EXPECT_TRUE(trickler->SendRaw("p"));
                 EXPECT_TRUE(probe.Sync());
             }
             return CpuTime(server.Pid()) - before;
         };
         // The cheaper of two runs each: a scheduling hiccup inflates one run, never both.
         const auto shortCost = std::min(trickle(), trickle());
         for (auto& trickler : tricklers) ASSERT_TRUE(trickler->SendRaw(std::string(65'000, 'p')));
         // A connection receives 1000 bytes a turn, and every answer takes a turn at least.
         for (int turn = 0; turn < 100; ++turn) ASSERT_TRUE(probe.Sync());
         const auto longCost = std::min(trickle(), trickle());
         std::printf("trickled bytes: %lld µs behind short messages, %lld µs behind 65,000-byte ones\n",
                     static_cast<long long>(shortCost.count()), static_cast<long long>(longCost.count()));
         if (kPlainBuild) {
             EXPECT_LT(longCost, 3 * shortCost);  // the scan made it 5 times as much
         }
     }},
};

class HostileTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileTest, BoundHolds) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    GetParam().run(server);
}

INSTANTIATE_TEST_SUITE_P(Attacks, HostileTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace nelv::test
