// A member that stops reading must not hold up a busy room: the others keep talking without
// delay, the silent one is cut off once too much output waits for it, and the room sees it go.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr int kTalkers = 10;
// The kernel buffers several MiB towards a client on loopback before the server's own queue
// starts to grow, so the talkers go on until the silent member is gone, up to this many each.
constexpr int kMaxMessagesEach = 300;
constexpr std::size_t kTextSize = 8 * 1024;
constexpr std::size_t kOutputLimit = 1024 * 1024;  // the server's limit for unsent output
constexpr std::string_view kRoom = "Flood";

// What the talker threads tell each other: how many messages each one sent in the end.
struct Tally {
    std::atomic<int> sent[kTalkers];
    std::atomic<int> finished{0};
    Tally() {
        for (auto& count : sent) count = 0;
    }
};

std::string Nick(int talker) { return "T" + std::to_string(talker); }

std::string TextFor(int talker, int seq) {
    std::string text = Nick(talker) + " " + std::to_string(seq) + " ";
    text.resize(kTextSize, 'x');
    return text;
}

struct Talker {
    TestClient* client = nullptr;
    int index = 0;
    std::string error;
    Clock::duration worst{};
    std::vector<int> next_seq = std::vector<int>(kTalkers, 0);
    int received = 0;
    int before_leave = -1;  // room messages seen before the silent member left

    // Takes one message off the stream; true when it is this talker's message number `seq`.
    bool Take(const std::string& message, int seq) {
        static const std::string left = RoomEvent(3, '\0', kRoom, "Silent", "000000", "");
        if (message == left) {
            if (before_leave >= 0) error = "the silent member left twice";
            before_leave = received;
            return false;
        }
        const std::string prefix = std::string("\x0e\x01\x00\x00", 4) + std::string(kRoom) + '\x01';
        if (!message.starts_with(prefix)) return false;  // user and room announcements
        std::size_t nick_end = message.find('\x01', prefix.size());
        std::string nick = message.substr(prefix.size(), nick_end - prefix.size());
        int from = nick.size() > 1 && nick[0] == 'T' ? std::stoi(nick.substr(1)) : -1;
        if (from < 0 || from >= kTalkers) {
            error = "a message from " + Escape(nick);
            return false;
        }
        const std::string expected = Fields({Nick(from), "000000", TextFor(from, next_seq[from])});
        if (message.compare(prefix.size(), std::string::npos, expected) != 0) {
            error = "expected message " + std::to_string(next_seq[from]) + " of " + Nick(from) +
                    ", got " + DescribeMessage(message);
            return false;
        }
        ++next_seq[from];
        ++received;
        return from == index && next_seq[from] - 1 == seq;
    }

    void Run(Tally& tally) {
        int seq = 0;
        for (; seq < kMaxMessagesEach && before_leave < 0 && error.empty(); ++seq) {
            const auto sent = Clock::now();
            if (!client->Send(3, 0, Fields({kRoom, TextFor(index, seq)}))) {
                error = "could not send message " + std::to_string(seq);
                break;
            }
            for (;;) {
                auto message = client->Next();
                if (!message) {
                    error = "message " + std::to_string(seq) + " did not come back";
                    break;
                }
                if (Take(*message, seq) || !error.empty()) break;
            }
            worst = std::max(worst, Clock::now() - sent);
        }
        tally.sent[index] = seq;
        ++tally.finished;
        // Keep reading until every talker has stopped and all their messages are here.
        const auto deadline = Clock::now() + kDefaultTimeout;
        while (error.empty() && Clock::now() < deadline) {
            if (tally.finished == kTalkers) {
                int total = 0;
                for (auto& count : tally.sent) total += count;
                if (received == total && before_leave >= 0) return;
            }
            if (auto message = client->Next(Duration(50))) {
                Take(*message, -1);
            } else if (client->PeerClosed()) {
                error = "the server closed the connection";
            }
        }
        if (error.empty()) {
            error = "stopped after " + std::to_string(received) + " messages" +
                    (before_leave < 0 ? ", the silent member never left" : "");
        }
    }
};

TEST(SlowReader, IsCutOffWithoutHoldingUpTheRoom) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    Crowd crowd(server);
    for (int i = 0; i < kTalkers; ++i) ASSERT_TRUE(crowd.Add(Nick(i)));
    ClientOptions tiny;
    tiny.receive_buffer = 4096;
    ASSERT_TRUE(crowd.Add("Silent", tiny));
    TestClient& silent = crowd[kTalkers];
    for (std::size_t i = 0; i < crowd.size(); ++i) {
        ASSERT_TRUE(crowd[i].Send(0, 0, kRoom));
        ASSERT_TRUE(Drain(crowd[i]));
    }
    for (std::size_t i = 0; i < crowd.size(); ++i) ASSERT_TRUE(Drain(crowd[i]));
    // From here on the silent member reads nothing.

    std::vector<Talker> talkers(kTalkers);
    Tally tally;
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < kTalkers; ++i) {
        talkers[i].client = &crowd[i];
        talkers[i].index = i;
        threads.emplace_back([&talker = talkers[i], &tally] { talker.Run(tally); });
    }
    for (auto& thread : threads) thread.join();
    const auto elapsed = Clock::now() - start;

    int total = 0;
    for (auto& count : tally.sent) total += count;
    Clock::duration worst{};
    for (const Talker& talker : talkers) {
        EXPECT_EQ(talker.error, "") << Nick(talker.index);
        EXPECT_EQ(talker.received, total) << Nick(talker.index);
        // Every member sees the room's events in the same order.
        EXPECT_EQ(talker.before_leave, talkers[0].before_leave) << Nick(talker.index);
        worst = std::max(worst, talker.worst);
    }
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::printf("[ measured ] %d messages of %zu bytes to %d members in %lld ms; worst round trip "
                "%lld ms; the silent member left after %d messages\n",
                total, kTextSize, kTalkers + 1,
                static_cast<long long>(duration_cast<milliseconds>(elapsed).count()),
                static_cast<long long>(duration_cast<milliseconds>(worst).count()),
                talkers[0].before_leave);
    EXPECT_LT(worst, milliseconds(3000));
    // Not cut off before its unsent output passed the limit.
    EXPECT_GT(static_cast<std::size_t>(talkers[0].before_leave) * kTextSize, kOutputLimit);

    size_t discarded = 0;
    EXPECT_TRUE(silent.DrainUntilClosed(kDefaultTimeout, &discarded));
    EXPECT_LT(discarded, static_cast<size_t>(talkers[0].before_leave) * (kTextSize + 32));
    // The room's new member count came after the silent member left.
    for (int i = 0; i < kTalkers; ++i) EXPECT_TRUE(Drain(crowd[i])) << i;
}

// A client that asks for much more than it reads at once is served completely, held back by
// TCP while its own answers wait, and nobody else waits for it.
TEST(SlowReader, AskingFasterThanReadingIsHeldBackNotCutOff) {
    constexpr int kRequests = 2000;
    constexpr std::size_t kReadEach = 64 * 1024;
    TestServer server;
    server.SetWelcome(std::string(3000, 'w'));  // about 3 KB per answer, 6 MB in all
    ASSERT_TRUE(server.Start());
    TestClient asker, other;
    ClientOptions small;
    small.receive_buffer = 64 * 1024;
    ASSERT_TRUE(asker.ConnectAndGreet(server.Port(), small));
    ASSERT_TRUE(other.ConnectAndGreet(server.Port()));

    std::string burst;
    for (int i = 0; i < kRequests; ++i) burst += std::string("\x08\x00\x1F", 3);
    ASSERT_TRUE(asker.SendRaw(burst));

    // The server information comes as 10/1, 10/4, 10/5, in that order, for every request.
    const uint8_t expected[] = {1, 4, 5};
    int answers = 0, part = 0;
    Clock::duration worst{};
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (answers < kRequests && Clock::now() < deadline) {
        ASSERT_TRUE(asker.ReadAvailable(kReadEach)) << "cut off after " << answers << " answers";
        while (auto message = asker.NextBuffered()) {
            ASSERT_GE(message->size(), 3u);
            ASSERT_EQ(static_cast<uint8_t>((*message)[0]), 10);
            ASSERT_EQ(static_cast<uint8_t>((*message)[1]), expected[part]) << "answer " << answers;
            part = (part + 1) % 3;
            if (part == 0) ++answers;
        }
        const auto start = Clock::now();
        ASSERT_TRUE(other.Sync());
        worst = std::max(worst, Clock::now() - start);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the asker's reading pace
    }
    EXPECT_EQ(answers, kRequests);
    EXPECT_TRUE(asker.Sync());  // still connected
    EXPECT_LT(worst, std::chrono::milliseconds(50));
    std::printf("held-back asker: %d answers, worst round trip of another client %.1f ms\n", answers,
                std::chrono::duration<double, std::milli>(worst).count());
}

}  // namespace
}  // namespace nelv::test
