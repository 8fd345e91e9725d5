// Soak: many clients for a while, a seeded random mix of valid and invalid
// commands, while a group of steady members talks in one room. Every room
// message a steady member sends must reach every steady member exactly once
// and in order, and once everybody has left the server's memory is back
// near where it was. NELV_SOAK_SECONDS and NELV_SOAK_SEED choose the run
// (5 s and a fixed seed by default).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {
namespace {

constexpr int kSteady = 10;
constexpr int kChaotic = 40;
constexpr std::string_view kRoom = "Soak";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long EnvOr(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 0) : fallback;
}

// Resident memory of a process in KiB, from /proc.
long RssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 20, '\n');
    }
    return -1;
}

std::string Join(std::initializer_list<std::string_view> fields) {
    std::string out;
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) out += '\x01';
        out += field;
        first = false;
    }
    return out;
}

// One steady member: says numbered lines in the room and checks what it hears.
struct Steady {
    TestClient client;
    int index = 0;
    int sent = 0;
    std::vector<int> next = std::vector<int>(kSteady, 0);  // next number expected from each
    std::string error;

    std::string Nick() const { return "S" + std::to_string(index); }

    // Takes one message; checks room messages of steady members.
    void Take(const std::string& message) {
        const std::string prefix = std::string("\x0e\x01\x00\x00", 4) + std::string(kRoom) + '\x01';
        if (message.rfind(prefix, 0) != 0) return;
        const std::size_t nickEnd = message.find('\x01', prefix.size());
        const std::string nick = message.substr(prefix.size(), nickEnd - prefix.size());
        if (nick.size() < 2 || nick[0] != 'S') return;
        const int from = std::atoi(nick.c_str() + 1);
        const std::size_t textStart = message.find('\x01', nickEnd + 1) + 1;
        const int number = std::atoi(message.c_str() + textStart);
        if (error.empty() && number != next[from]) {
            error = Nick() + " got " + std::to_string(number) + " from " + nick + ", expected " +
                    std::to_string(next[from]);
        }
        next[from] = number + 1;
    }

    bool Drain() {
        if (!client.ReadAvailable(1 << 20)) return false;
        while (auto message = client.NextBuffered()) Take(*message);
        return true;
    }
};

// One chaotic client: a random request at a time, reconnecting now and then.
void Chaos(uint16_t port, int index, std::uint64_t seed, Clock::time_point until, std::atomic<int>& connects) {
    std::mt19937_64 random(seed * 1000003 + static_cast<std::uint64_t>(index));
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<std::uint64_t>(n)); };
    const std::string address = "127.0.0." + std::to_string(2 + index % 4);
    auto client = std::make_unique<TestClient>();
    auto nick = [&] { return "C" + std::to_string(index) + "x" + std::to_string(pick(3)); };
    auto room = [&] { return pick(4) == 0 ? std::string(kRoom) : "R" + std::to_string(pick(5)); };
    while (Clock::now() < until) {
        if (!client->IsOpen() || client->PeerClosed()) {
            client = std::make_unique<TestClient>();
            if (!client->ConnectAndGreet(port, From(address.c_str()))) continue;
            ++connects;
        }
        switch (pick(16)) {
            case 0: client->Send(26, 0, Join({nick(), ""})); break;
            case 1: case 2: client->Send(0, 0, room()); break;
            case 3: client->Send(17, 0, room()); break;
            case 4: case 5: client->Send(3, 0, Join({room(), "noise"})); break;
            case 6: client->Send(16, 0, Join({room(), nick()})); break;
            case 7: client->Send(21, static_cast<uint8_t>(pick(2) ? 21 : 22), Join({room(), nick()})); break;
            case 8: client->Send(20, 0, Join({room(), nick()})); break;
            case 9: client->Send(7, 15, Join({nick(), std::to_string(pick(3)), "a", "b", "c", "0"})); break;
            case 10: client->Send(7, 18, std::to_string(pick(3))); break;
            case 11: client->Send(9, 0); break;
            case 12: client->Send(13, static_cast<uint8_t>(pick(2) ? 0 : 22), "out"); break;
            case 13: client->Send(12, '1', Join({room(), nick()})); break;
            case 14: {
                std::string junk;
                for (int i = pick(12); i > 0; --i) junk += static_cast<char>(pick(256));
                client->SendRaw(junk + '\x1F');
                break;
            }
            default: client->Close(); break;
        }
        client->ReadAvailable(1 << 20);
        while (client->NextBuffered()) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // pace, not a wait for a state
    }
}

TEST(Soak, ManyClientsRandomTrafficSteadyRoomIsWholeAndMemoryReturns) {
    const long seconds = EnvOr("NELV_SOAK_SECONDS", 5);
    const auto seed = static_cast<std::uint64_t>(EnvOr("NELV_SOAK_SEED", 0x50414B));
    SCOPED_TRACE("seed " + std::to_string(seed));
    TestServer server;
    server.SetIni("[Users]\nTimeout=0\n");
    ASSERT_TRUE(server.Start());
    const long rssBefore = RssKiB(server.Pid());

    std::vector<Steady> steady(kSteady);
    for (int i = 0; i < kSteady; ++i) {
        steady[i].index = i;
        ASSERT_TRUE(steady[i].client.ConnectAndGreet(server.Port()));
        ASSERT_TRUE(steady[i].client.LoginAsGuest(steady[i].Nick()));
        ASSERT_TRUE(steady[i].client.Send(0, 0, kRoom));
        ASSERT_TRUE(steady[i].client.Expect(0, 0, 0, Join({kRoom, "FFFFFF"})));
    }

    const auto until = Clock::now() + std::chrono::seconds(seconds);
    std::atomic<int> connects{0};
    std::vector<std::thread> chaos;
    for (int i = 0; i < kChaotic; ++i) {
        chaos.emplace_back(Chaos, server.Port(), i, seed, until, std::ref(connects));
    }
    std::vector<std::thread> talkers;
    for (auto& member : steady) {
        talkers.emplace_back([&member, until] {
            while (Clock::now() < until && member.error.empty()) {
                if (!member.client.Send(3, 0, Join({kRoom, std::to_string(member.sent)}))) {
                    member.error = member.Nick() + " could not send";
                    break;
                }
                ++member.sent;
                if (!member.Drain()) member.error = member.Nick() + " was disconnected";
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    for (auto& thread : talkers) thread.join();
    for (auto& thread : chaos) thread.join();

    // Every steady member hears the rest of what the others sent.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (auto& member : steady) {
        auto complete = [&] {
            for (int from = 0; from < kSteady; ++from) {
                if (member.next[from] != steady[from].sent) return false;
            }
            return true;
        };
        while (member.error.empty() && !complete() && Clock::now() < deadline) {
            if (!member.Drain()) member.error = member.Nick() + " was disconnected";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(member.error, "");
        EXPECT_TRUE(complete()) << member.Nick() << " is missing room messages";
    }
    int total = 0;
    for (auto& member : steady) total += member.sent;
    for (auto& member : steady) member.client.Close();

    // Everybody has left once the log counts no connection any more (steady
    // members were online throughout, so no earlier line says so).
    EXPECT_TRUE(server.WaitForEventLog("- User connections: 0", Duration{20000}));
    const long rssAfter = RssKiB(server.Pid());
    std::printf("soak: %ld s, %d steady messages, %d reconnects, RSS %ld -> %ld KiB\n", seconds, total,
                connects.load(), rssBefore, rssAfter);
    if (!kSanitized) {
        EXPECT_LE(rssAfter - rssBefore, 2048);
    }
}

}  // namespace
}  // namespace nelv::test
