// The connection I/O state machine of the event loop, driven turn by turn
// over socketpairs: rotation between clients, the chunk in hand after a
// disconnect, hold-back and resume, close with grace, the cut-off at the
// output bound, and the flush at shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/event_loop.h"
#include "net/socket_connection.h"

namespace nelv::net {
namespace {

using Clock = EventLoop::Clock;

// Logs every message as "name:message" and obeys a few: "quit" disconnects
// itself, "kick X" disconnects X, "out N" sends itself N bytes, "to X N"
// sends X N bytes, "all N" sends everybody one shared message of N bytes.
class ScriptedUser : public TUser {
public:
    using Directory = std::map<std::string, ScriptedUser*>;
    ScriptedUser(std::string name, std::vector<std::string>& log, Directory& users)
        : name_(std::move(name)), log_(log), users_(users) {
        users_[name_] = this;
    }
    ~ScriptedUser() override { users_.erase(name_); }
    void Ended() override { log_.push_back(name_ + " ended"); }

protected:
    void HandleMessage(std::string_view message) override {
        log_.push_back(name_ + ":" + std::string(message));
        std::string verb = std::string(message.substr(0, message.find(' ')));
        std::string rest = message.size() > verb.size() ? std::string(message.substr(verb.size() + 1)) : "";
        if (verb == "quit") Disconnect();
        if (verb == "kick") users_.at(rest)->Disconnect();
        if (verb == "out") SendText(std::string(std::stoul(rest), 'o'));
        if (verb == "all") {
            const SharedMessage shared(std::string(std::stoul(rest), 'a'));
            for (auto& [name, user] : users_) user->SendShared(shared);
        }
        if (verb == "to") {
            auto space = rest.find(' ');
            users_.at(rest.substr(0, space))->SendText(std::string(std::stoul(rest.substr(space + 1)), 't'));
        }
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
    Directory& users_;
};

// A loop with named clients on socketpairs; the test holds the far ends.
class LoopHarness {
public:
    // Whole turns, however slow the build: the rows count on them.
    LoopHarness() { loop.SetTurnTime(std::chrono::seconds(10)); }
    ~LoopHarness() {
        for (auto& [name, fd] : peers_) close(fd);
    }

    int Connect(const std::string& name) {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        auto user = std::make_unique<ScriptedUser>(name, log, users);
        user->Attach(fds[0], 0);
        loop.Adopt(std::move(user));
        peers_[name] = fds[1];
        return fds[1];
    }
    // Messages from a client, each with its terminator, written in one go.
    void Send(const std::string& name, const std::vector<std::string>& messages) {
        std::string bytes;
        for (const auto& m : messages) bytes += m + "\x1F";
        ASSERT_EQ(write(peers_.at(name), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the client can read now; `eof` tells whether the server closed.
    std::string Read(const std::string& name, bool* eof = nullptr) {
        std::string all;
        char buffer[65536];
        ssize_t n;
        while ((n = read(peers_.at(name), buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<std::size_t>(n));
        if (eof) *eof = n == 0;
        return all;
    }
    // Runs turns until `done` holds; false when five seconds pass first.
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (Clock::now() > deadline) return false;
            loop.RunOnce(std::chrono::milliseconds(10));
        }
        return true;
    }
    int Peer(const std::string& name) const { return peers_.at(name); }
    void HangUp(const std::string& name) {
        close(peers_.at(name));
        peers_.erase(name);
    }
    bool Online(const std::string& name) const { return users.count(name) != 0; }
    std::size_t Logged(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }

    std::vector<std::string> log;
    ScriptedUser::Directory users;
    EventLoop loop;  // last: its connections refer to the two above

private:
    std::map<std::string, int> peers_;
};

using Log = std::vector<std::string>;

struct LoopCase {
    const char* name;
    std::function<void(LoopHarness&)> run;
};

const LoopCase kCases[] = {
    {"MessagesOfDifferentClientsInterleave",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", {"1", "2", "3"});
         h.Send("b", {"1", "2"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         EXPECT_EQ(h.log, (Log{"a:1", "b:1", "a:2", "b:2", "a:3"}));
     }},
    {"AClientWithNewMessagesGoesBeforeThoseWithMessagesInHand",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", std::vector<std::string>(EventLoop::kTurnQuota + 2, "x"));
         h.loop.RunOnce(std::chrono::milliseconds(1000));  // a's quota: two left in hand
         h.Send("b", {"1"});
         h.log.clear();
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         EXPECT_EQ(h.log, (Log{"b:1", "a:x", "a:x"}));
     }},
    {"AnswersAreWrittenBeforeNewsForOthersWhenTheTurnIsShort",
     [](LoopHarness& h) {
         for (const char* name : {"a", "b", "z"}) h.Connect(name);
         h.loop.SetTurnTime(std::chrono::seconds(0));
         h.Send("z", {"all 10"});  // queued for a, b, then z itself
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         // z's own copy first, then one more; b's waits for the next turn.
         EXPECT_EQ(h.Read("z").size(), 11u);
         EXPECT_EQ(h.Read("a").size(), 11u);
         EXPECT_EQ(h.Read("b").size(), 0u);
         h.loop.RunOnce(std::chrono::milliseconds(0));
         EXPECT_EQ(h.Read("b").size(), 11u);
     }},
    {"ManyLeavingAtOnceAreEndedOverSeveralTurns",
     [](LoopHarness& h) {
         const std::size_t n = EventLoop::kEndsPerTurn + 10;
         for (std::size_t i = 0; i < n; ++i) h.Connect("c" + std::to_string(i));
         for (std::size_t i = 0; i < n; ++i) h.HangUp("c" + std::to_string(i));
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         EXPECT_EQ(h.log.size(), EventLoop::kEndsPerTurn);
         ASSERT_TRUE(h.RunUntil([&] { return h.loop.Connections() == 0; }));
         EXPECT_EQ(h.log.size(), n);
     }},
    {"AKickedClientsChunkInHandIsStillHandled",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", {"x", "kick b"});
         h.Send("b", {"1", "2", "3"});
         ASSERT_TRUE(h.RunUntil([&] { return !h.Online("b"); }));
         EXPECT_EQ(h.log, (Log{"a:x", "b:1", "a:kick b", "b:2", "b:3", "b ended"}));
         bool eof = false;
         EXPECT_EQ(h.Read("b", &eof), "");
         EXPECT_TRUE(eof);
     }},
    {"AfterADisconnectOnlyTheChunkInHandIsHandled",
     [](LoopHarness& h) {
         h.Connect("a");
         std::vector<std::string> burst(600, "ab");  // 1805 bytes; one receive takes 1000
         burst.insert(burst.begin(), "quit");
         h.Send("a", burst);
         ASSERT_TRUE(h.RunUntil([&] { return !h.Online("a"); }));
         EXPECT_EQ(h.Logged("a:ab"), 331u);
         EXPECT_EQ(h.log.back(), "a ended");
     }},
    {"OwnOutputPastTheSoftMarkHoldsRequestsBackUntilItDrains",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Send("a", {"out 200000", "out 200000", "out 200000", "out 10"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         // 400,000 bytes unsent: the third request waits, and the socket is not read.
         EXPECT_EQ(h.log, (Log{"a:out 200000", "a:out 200000"}));
         std::size_t got = 0;
         ASSERT_TRUE(h.RunUntil([&] {
             got += h.Read("a").size();
             return h.Logged("a:out 10") == 1;
         }));
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("a").size()) == 600'000 + 10 + 4; }));
         EXPECT_TRUE(h.Online("a"));
     }},
    {"OutputOfOthersPastTheBoundCutsTheReceiverOff",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         // 1.6 MB; the socket takes about 200 KB of it, the queue the rest.
         h.Send("a", std::vector<std::string>(16, "to b 100000"));
         ASSERT_TRUE(h.RunUntil([&] { return !h.Online("b"); }));
         EXPECT_EQ(h.log.back(), "b ended");
         EXPECT_TRUE(h.Online("a"));
         // What had left before the cut-off may arrive; never all of it.
         std::string got;
         bool eof = false;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("b", &eof)), eof; }));
         EXPECT_LT(got.size(), 1'600'016u);
     }},
    {"AClientThatReadsIsNotCutOffForABurstPastTheBound",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", std::vector<std::string>(16, "to b 100000"));
         std::size_t got = 0;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("b").size()) == 1'600'016; }));
         EXPECT_TRUE(h.Online("b"));
     }},
    {"OwnOutputPastTheBoundIsNeverCutOff",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Send("a", {"out 1500000"});
         std::size_t got = 0;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("a").size()) == 1'500'001; }));
         EXPECT_TRUE(h.Online("a"));
     }},
    {"AMessageForManyIsHeldOnce",
     [](LoopHarness& h) {
         for (const char* name : {"a", "b", "c", "d"}) h.Connect(name);
         h.Send("a", {"all 300000"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         // Nobody has read all of it; four references cost a few bytes each.
         EXPECT_GE(h.loop.OutputHeld(), 300'001u);
         EXPECT_LT(h.loop.OutputHeld(), 310'000u);
         h.Read("a");
         h.Read("b");
         h.Read("c");
         ASSERT_TRUE(h.RunUntil([&] {
             for (const char* name : {"a", "b", "c", "d"}) h.Read(name);
             return h.loop.OutputHeld() == 0;
         }));
     }},
    {"PastTheBudgetTheLargestBacklogOfOthersIsCutOffFirst",
     [](LoopHarness& h) {
         h.loop.SetOutputBudget(400'000);
         for (const char* name : {"a", "b", "c", "d"}) h.Connect(name);
         // d's own 200,001 bytes never count; of the others' backlogs c's is the larger.
         h.Send("a", {"to b 150000", "to c 160000"});
         h.Send("d", {"out 200000"});
         ASSERT_TRUE(h.RunUntil([&] { return !h.Online("c"); }));
         EXPECT_TRUE(h.Online("d"));
         EXPECT_TRUE(h.Online("b"));
         EXPECT_LE(h.loop.OutputHeld(), 400'000u);
     }},
    {"PastHalfTheBudgetOnlyClientsWithNothingUnsentAreServed",
     [](LoopHarness& h) {
         h.loop.SetOutputBudget(200'000);
         h.Connect("a");
         h.Connect("b");
         h.Send("a", {"out 150000", "out 1"});
         h.Send("b", {"out 1"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         // a's 150,001 bytes are under the soft mark but over half the budget.
         EXPECT_EQ(h.log, (Log{"a:out 150000", "b:out 1"}));
         ASSERT_TRUE(h.RunUntil([&] { return h.Read("a"), h.Logged("a:out 1") == 1; }));
     }},
    {"PastTheInputBudgetTheLargestPartialMessageIsCutOffFirst",
     [](LoopHarness& h) {
         h.loop.SetInputBudget(3000);
         h.Connect("a");
         h.Connect("b");
         h.Send("b", {"hello"});
         const std::string partialA(2000, 'x'), partialB(1500, 'y');
         ASSERT_EQ(write(h.Peer("a"), partialA.data(), partialA.size()), 2000);
         ASSERT_EQ(write(h.Peer("b"), partialB.data(), partialB.size()), 1500);
         ASSERT_TRUE(h.RunUntil([&] { return !h.Online("a"); }));
         EXPECT_TRUE(h.Online("b"));
         EXPECT_EQ(h.loop.InputHeld(), 1500u);
         EXPECT_EQ(h.log, (Log{"b:hello", "a ended"}));
     }},
    {"AClosingConnectionsOutputStillLeavesWithinTheGrace",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Send("a", {"out 250000", "quit"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         EXPECT_EQ(h.log, (Log{"a:out 250000", "a:quit", "a ended"}));
         std::string got;
         bool eof = false;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("a", &eof)), eof; }));
         EXPECT_EQ(got.size(), 250'001u);
     }},
    {"AClosingConnectionThatDoesNotReadIsCutOffAfterTheGrace",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", {"to b 900000", "kick b"});
         const auto start = Clock::now();
         ASSERT_TRUE(h.RunUntil([&] { return h.loop.Connections() == 1; }));
         EXPECT_GE(Clock::now() - start, TUser::kCloseGrace);
         std::string got;
         bool eof = false;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("b", &eof)), eof; }));
         EXPECT_LT(got.size(), 900'001u);
     }},
    {"ADrainWritesWhatIsQueuedAndHandlesNothingMore",
     [](LoopHarness& h) {
         h.Connect("a");
         h.Connect("b");
         h.Send("a", {"out 300000"});
         h.loop.RunOnce(std::chrono::milliseconds(1000));
         h.Send("b", {"late"});
         h.loop.Drain(Clock::now() + std::chrono::seconds(5));
         std::string got;
         bool eof = false;
         ASSERT_TRUE(h.RunUntil([&] { return (got += h.Read("a", &eof)), eof; }));
         EXPECT_EQ(got.size(), 300'001u);
         ASSERT_TRUE(h.RunUntil([&] { return h.loop.Connections() == 0; }));
         // No message after the drain began, and no disconnect bookkeeping.
         EXPECT_EQ(h.log, (Log{"a:out 300000"}));
     }},
    {"ADescriptorEpollRefusesIsClosedWithAWarning",
     [](LoopHarness& h) {
         int file = open("/dev/null", O_RDONLY | O_CLOEXEC);  // epoll refuses plain files
         auto user = std::make_unique<ScriptedUser>("f", h.log, h.users);
         user->Attach(file, 0);
         ::testing::internal::CaptureStdout();
         h.loop.Adopt(std::move(user));
         h.loop.RunOnce(std::chrono::milliseconds(0));
         std::string console = ::testing::internal::GetCapturedStdout();
         EXPECT_EQ(console, "WARNING: The connection from 0.0.0.0 could not be served (Code 1); connection closed.\n");
         EXPECT_EQ(h.loop.Connections(), 0u);
         EXPECT_TRUE(h.log.empty());
     }},
};

class EventLoopTest : public ::testing::TestWithParam<LoopCase> {};

TEST_P(EventLoopTest, Turns) {
    LoopHarness harness;
    ASSERT_EQ(harness.loop.Error(), 0);
    GetParam().run(harness);
}

INSTANTIATE_TEST_SUITE_P(Connections, EventLoopTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace nelv::net
