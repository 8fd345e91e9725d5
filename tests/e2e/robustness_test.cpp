// Seeded random traffic from several clients at once: the server must survive it, keep serving
// new clients, shut down cleanly and leave the user database intact. The seed is printed with
// every failure; NELV_ROBUSTNESS_SEED=<number> repeats a run's choices.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <csignal>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

namespace nelv::test {
namespace {

constexpr std::uint64_t kDefaultSeed = 0x4E454C56;
constexpr int kClients = 7;
constexpr Duration kTrafficTime{2000};  // NELV_ROBUSTNESS_MS=<milliseconds> for a longer run
constexpr int kMaxConnects = 2000;

std::uint64_t TrafficSeed() {
    if (const char* text = std::getenv("NELV_ROBUSTNESS_SEED"); text && *text) {
        return std::strtoull(text, nullptr, 0);
    }
    return kDefaultSeed;
}

Duration TrafficTime() {
    const char* text = std::getenv("NELV_ROBUSTNESS_MS");
    return text && *text ? Duration{std::strtol(text, nullptr, 10)} : kTrafficTime;
}

// The accounts every client may name. Admin and Boss are privileged.
struct Account {
    const char* nickname;
    const char* password;
};
constexpr Account kAdmin{"Admin", "4711"};
constexpr Account kBoss{"Boss", "99"};
constexpr Account kReg{"Reg", "1"};

RecordEntry Entry(std::string nickname, std::int32_t password) {
    RecordEntry entry;
    entry.nickname = std::move(nickname);
    entry.password = password;
    return entry;
}

std::string Database() {
    RecordEntry admin = Entry("Admin", 4711), boss = Entry("Boss", 99), reg = Entry("Reg", 1);
    RecordEntry off = Entry("Off", 5), lurk = Entry("Lurk", 3);
    admin.color = 0xFF0000;
    admin.privileged = boss.privileged = 1;
    reg.profile1 = "about me";
    off.enabled = 0;
    lurk.loginInvisible = 1;
    std::string freed = RecordImage(Entry("Gone", 8));
    freed[0] = 0;  // a slot given up earlier, its old bytes still there
    return RecordImage(admin) + RecordImage(boss) + freed + RecordImage(reg) + RecordImage(off) +
           RecordImage(lurk);
}

// The worker clients' logins (after each connect); their traffic renames them at random.
constexpr Account kWorkerLogins[kClients] = {kAdmin,       kBoss,       kReg,       {"Tom", ""},
                                             {"Ann", ""},  {"Joe", ""}, {"Eve", ""}};

class Traffic {
public:
    explicit Traffic(std::uint64_t seed) : rng_(seed) {}

    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

    // Any byte but the terminator.
    char Byte() {
        char c;
        do c = static_cast<char>(Below(256)); while (c == kTerminator);
        return c;
    }
    std::string Binary(std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += Byte();
        return text;
    }

    std::string Name() {
        static const char* const kNames[] = {
            "Admin", "Boss", "Reg", "Off", "Lurk", "Gone", "Tom", "Ann", "Joe", "Eve", "adMIN",
            "tom", "Nobody", "", " 5", "Bad\xA0Nm", "TwentyOneCharacters!!", "TwentyCharactersName", "\xE9l\xE8ve", "Sp ace"};
        if (Chance(5)) return Binary(Below(30));
        return Pick(kNames);
    }
    std::string Room() {
        static const char* const kRooms[] = {"Lobby", "lobby", "Quiet", "Den", "DEN", "Cave",
                                             "Hall\x01x", "", "\xC4rger"};
        if (Chance(3)) return std::string(1000 + Below(3000), 'R');
        if (Chance(3)) return Binary(Below(20));
        return Pick(kRooms);
    }
    std::string Number() {
        static const char* const kNumbers[] = {"0", "1", "2", "-1", "5", "65535", "70000",
                                               "-2147483648", "2147483647", "2147483648",
                                               "$FFFFFFFF", "0x10", "", "x", " 7", "4711", "99"};
        return Pick(kNumbers);
    }
    std::string Password() {
        static const char* const kPasswords[] = {"4711", "99", "1", "3", "5", "0", "", "-0", "$63"};
        return Pick(kPasswords);
    }
    std::string Color() {
        static const char* const kColors[] = {"FF00FF", "00ff00", "000000", "12345", "1234567",
                                              "ZZZZZZ", "$12345", "", "FFFFFF"};
        return Pick(kColors);
    }
    std::string Flag() {
        static const char* const kFlags[] = {"0", "1", "2", "", "10", "x"};
        return Pick(kFlags);
    }
    std::string Text() {
        switch (Below(6)) {
            case 0: return "";
            case 1: return Binary(Below(64));
            case 2: return std::string(Below(4096), static_cast<char>('a' + Below(26)));
            default: return "hello " + std::to_string(Below(1000));
        }
    }
    std::string AnyField() {
        switch (Below(8)) {
            case 0: return Name();
            case 1: return Room();
            case 2: return Number();
            case 3: return Password();
            case 4: return Color();
            case 5: return Flag();
            default: return Text();
        }
    }

    std::uint8_t SubCode() {
        static const std::uint8_t kSubs[] = {0,   0,   1,   2,   6,   8,    13,  15,  16,
                                             17,  18,  19,  20,  21,  22,   '0', '1', '2',
                                             '3', 0x08, 0x10, 0x20, 0x40, 0x80, 0xF8, 0xFF};
        if (Chance(10)) return static_cast<std::uint8_t>(Byte());
        return Pick(kSubs);
    }

    // Fields joined mostly by the field separator, now and then by other bytes.
    std::string Join(const std::vector<std::string>& fields) {
        static const char kSeparators[] = {kFieldSeparator, kFieldSeparator, kFieldSeparator,
                                           kFieldSeparator, kFieldSeparator, kEntrySeparator, '\0'};
        std::string text;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) text += Pick(kSeparators);
            text += fields[i];
        }
        if (Chance(10)) text += kFieldSeparator;
        return text;
    }

    // One message without its terminator: mostly a command with fields of the right kinds, so
    // that requests reach real users and rooms, otherwise any command byte with random fields.
    std::string Message() {
        if (Chance(2)) return Binary(Below(2));  // too short to hold a command
        std::uint8_t command;
        std::string payload;
        std::uint8_t sub = SubCode();
        if (Chance(25)) {
            do command = static_cast<std::uint8_t>(Chance(85) ? Below(31) : Below(256));
            while (command == static_cast<std::uint8_t>(kTerminator));
            std::vector<std::string> fields(Below(8));
            for (auto& field : fields) field = AnyField();
            payload = Join(fields);
        } else {
            static const std::uint8_t kCommands[] = {0, 0, 1, 2, 3, 3, 4, 6, 7, 7, 8, 9, 12, 12,
                                                     13, 16, 16, 17, 18, 20, 20, 21, 23, 24, 26};
            // Throwing users off the server is kept rare, or nobody would stay long.
            command = Chance(2) ? 22 : Pick(kCommands);
            switch (command) {
                case 0: case 6: case 17: payload = Room(); break;
                case 1: case 12: case 16: case 20: case 21: payload = Join({Room(), Name()}); break;
                case 2: case 24: payload = Join({Name(), Text()}); break;
                case 3: payload = Join({Room(), Text()}); break;
                case 4:
                    sub = static_cast<std::uint8_t>(Below(256));
                    payload = Join({Room(), Text(), Color(), Number(), Flag(), Flag()});
                    break;
                case 7:
                    sub = static_cast<std::uint8_t>(15 + Below(4));
                    payload = Join({sub == 15 ? Name() : Password(), Password(), Text(), Text(),
                                    Text(), Flag()});
                    break;
                case 13: case 18: payload = command == 18 ? Color() : Text(); break;
                case 22:
                    payload = Chance(50) ? Name() : Join({Name(), Number()});
                    break;
                case 23: payload = Name(); break;
                case 26: payload = Join({Name(), Password()}); break;
                default: break;
            }
        }
        std::string message;
        message += static_cast<char>(command);
        message += static_cast<char>(sub);
        message += payload;
        return message;
    }

private:
    std::mt19937_64 rng_;
};

std::string LoginMessage(std::string_view nickname, std::string_view password) {
    return std::string("\x1A\x00", 2) + Fields({nickname, password}) + kTerminator;
}

struct WorkerStats {
    std::size_t rounds = 0;    // bursts whose probe was answered
    std::size_t received = 0;  // messages read
    int connects = 0;
    std::string stall;         // the burst after which the server stopped answering
};

// One client: logs in, then sends bursts of random messages, each followed by a lookup of a name
// no user can have. Everything up to the probe's answer is read and dropped, which keeps the
// client at the server's pace and proves that the server still answers it. A closed connection
// is opened again from a new loopback address, so that address bans do not lock the client out.
void RunWorker(int index, std::uint64_t seed, uint16_t port, Clock::time_point end,
               WorkerStats& stats) {
    Traffic traffic(seed + 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(index + 1));
    const Account identity = kWorkerLogins[index];
    TestClient client;
    while (Clock::now() < end && stats.stall.empty()) {
        if (!client.IsOpen() || client.PeerClosed()) {
            if (stats.connects >= kMaxConnects) break;
            ++stats.connects;
            const std::string address = "127." + std::to_string(10 + index) + "." +
                                        std::to_string(stats.connects / 250) + "." +
                                        std::to_string(1 + stats.connects % 250);
            if (!client.Connect(port, From(address.c_str()), Duration{5000}) ||
                !client.SendRaw(LoginMessage(identity.nickname, identity.password))) {
                client.Close();
                continue;
            }
        }
        std::string burst;
        for (std::size_t i = 1 + traffic.Below(4); i > 0; --i) burst += traffic.Message() + kTerminator;
        // Now and then a message arrives in two pieces, or an endless one overflows the
        // receive buffer and gets the connection closed.
        if (traffic.Chance(5)) {
            std::string message = traffic.Message();
            const std::size_t cut = traffic.Below(message.size() + 1);
            burst += message.substr(0, cut);
            if (!client.SendRaw(burst, Duration{5000})) {
                client.Close();
                continue;
            }
            burst = message.substr(cut) + kTerminator;
        }
        if (traffic.Chance(1) && traffic.Chance(20)) burst += std::string(70 * 1024, 'x');
        // Or the client vanishes with its answers unread.
        if (traffic.Chance(1)) {
            client.SendRaw(burst, Duration{5000});
            client.Close();
            continue;
        }
        const std::string probe = "no one " + std::to_string(stats.rounds);
        burst += std::string("\x17\x00", 2) + probe + kTerminator;
        if (!client.SendRaw(burst, Duration{5000})) {
            client.Close();
            continue;
        }
        const auto deadline = Clock::now() + kDefaultTimeout;
        for (;;) {
            auto got = client.Next(std::chrono::duration_cast<Duration>(deadline - Clock::now()));
            if (!got) {
                if (client.PeerClosed()) break;
                stats.stall = DescribeMessage(burst);
                break;
            }
            ++stats.received;
            if (*got == ReplyBytes(23, 0, 15, probe) || *got == ReplyBytes(23, 0, 14)) {
                ++stats.rounds;
                break;
            }
        }
    }
}

// The next message that starts with the prefix, skipping everything else.
std::optional<std::string> NextStartingWith(TestClient& client, std::string_view prefix) {
    const auto deadline = Clock::now() + kDefaultTimeout;
    while (Clock::now() < deadline) {
        auto got = client.Next(std::chrono::duration_cast<Duration>(deadline - Clock::now()));
        if (!got) return std::nullopt;
        if (got->starts_with(prefix)) return got;
    }
    return std::nullopt;
}

// Record images of the database: whole records, sane length bytes and valid, unique nicknames
// in every slot in use. Empty when all is well, else what is wrong.
std::string DatabaseFaults(const std::string& file) {
    if (file.size() % 466 != 0) return "size " + std::to_string(file.size()) + " is not whole records";
    std::string faults;
    std::vector<std::string> names;
    for (std::size_t offset = 0; offset < file.size(); offset += 466) {
        const std::string record = file.substr(offset, 466);
        const auto length = static_cast<unsigned char>(record[0]);
        if (length == 0) continue;
        const std::string where = "record " + std::to_string(offset / 466) + ": ";
        if (length > 20) {
            faults += where + "nickname length " + std::to_string(length) + "\n";
            continue;
        }
        std::string name = record.substr(1, length);
        for (char c : name) {
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) == 0xA0) {
                faults += where + "invalid nickname \"" + Escape(name) + "\"\n";
                break;
            }
        }
        if (record.find_first_not_of('\0', 1 + length) < 21) faults += where + "bytes after the nickname\n";
        if (static_cast<unsigned char>(record[25]) > 80 || static_cast<unsigned char>(record[106]) > 80) {
            faults += where + "profile length beyond its field\n";
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            faults += where + "nickname registered twice: \"" + Escape(name) + "\"\n";
        }
        names.push_back(name);
    }
    return faults;
}

TEST(Robustness, RandomTrafficFromManyClientsLeavesTheServerServing) {
    const std::uint64_t seed = TrafficSeed();
    SCOPED_TRACE("traffic seed " + std::to_string(seed) +
                 " (repeat with NELV_ROBUSTNESS_SEED=" + std::to_string(seed) + ")");

    TestServer server;
    server.SetIni(
        "[General]\nChatname=Robust Chat\n"
        "[System rooms]\nLobby=00FF00,Welcome\nQuiet=0000FF,Calm\n");
    server.SetUserDatabase(Database());
    ASSERT_TRUE(server.Start());

    std::vector<WorkerStats> stats(kClients);
    {
        const auto end = Clock::now() + TrafficTime();
        std::vector<std::thread> workers;
        for (int i = 0; i < kClients; ++i) {
            workers.emplace_back(RunWorker, i, seed, server.Port(), end, std::ref(stats[i]));
        }
        for (auto& worker : workers) worker.join();
    }
    std::string summary;
    for (const auto& s : stats) {
        summary += std::to_string(s.rounds) + " rounds/" + std::to_string(s.received) + " read/" +
                   std::to_string(s.connects) + " connects; ";
    }
    SCOPED_TRACE("workers: " + summary);
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(stats[i].stall, "") << "client " << i << " got no answer after this burst";
    }

    ASSERT_FALSE(server.Exited()) << server.ConsoleText();

    // A newcomer is still greeted and served.
    TestClient fresh;
    ASSERT_TRUE(fresh.ConnectAndGreet(server.Port(), From("127.0.0.200"))) << server.ConsoleText();
    ASSERT_TRUE(fresh.Send(8, 0));
    auto info = NextStartingWith(fresh, ReplyBytes(10, 1, 0));
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->starts_with(ReplyBytes(10, 1, 0, "Robust Chat\x01"))) << DescribeMessage(*info);
    auto roomList = NextStartingWith(fresh, ReplyBytes(10, 4, 0));
    ASSERT_TRUE(roomList);
    EXPECT_TRUE(roomList->starts_with(ReplyBytes(10, 4, 0, "Lobby\x01Welcome\x01" "00FF00\x01")))
        << DescribeMessage(*roomList);
    ASSERT_TRUE(NextStartingWith(fresh, ReplyBytes(10, 5, 0)));
    ASSERT_TRUE(fresh.Send(26, 0, Fields({"Checker", ""})));
    ASSERT_TRUE(NextStartingWith(fresh, ReplyBytes(26, 0, 0)));
    ASSERT_TRUE(fresh.Send(23, 0, "checker"));
    ASSERT_TRUE(NextStartingWith(fresh, ReplyBytes(23, 0, 0, Fields({"Checker", "000000", "0", ""}))));
    ASSERT_TRUE(fresh.Send(23, 0, "sync probe"));
    EXPECT_TRUE(NextStartingWith(fresh, ReplyBytes(23, 0, 15, "sync probe")));
    fresh.Close();

    // No request made a handler fail.
    for (const auto& line : server.ConsoleLines()) {
        EXPECT_EQ(line.find("could not be handled"), std::string::npos) << line;
    }

    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitForExit(), std::optional<int>(0)) << server.ConsoleText();

    auto file = server.ReadFile("NELV3SRV.UDB");
    ASSERT_TRUE(file);
    EXPECT_EQ(DatabaseFaults(*file), "");
}

}  // namespace
}  // namespace nelv::test
