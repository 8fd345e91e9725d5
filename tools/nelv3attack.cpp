// nelv3attack: attacks a running NELV 3-Server over loopback the way a
// hostile crowd would, while a well-behaved probe client keeps making round
// trips, and reports how long the probe waited, who was admitted, and what
// the attack cost the server in memory and CPU. Scenarios (N = --clients):
//   nonreaders  N members of a room never read; one sender floods the room
//               with 64,000-byte texts, each as soon as the last came back
//   rename      N connections never read; one client renames itself as fast
//               as it is answered
//   trickle     N connections hold an unterminated 65,000-byte message and
//               add a byte to it every 100 ms
//   flood       one address opens connections until it is refused; then a
//               client from another address tries to get in, --tries times
//   longnames   one client makes rooms with 60,000-byte names (--long-rooms);
//               then fresh clients ask for the server information
//   manyrooms   one client creates N rooms, then leaves them all by closing
//   pipeline    N connections pipeline server information requests and
//               never read
//   idle        N connections each make one burst (a 60,000-byte request, a
//               long invitation, the server information), then only read
// With --irc the scenarios that IRC has (nonreaders, rename, trickle, flood,
// idle) go to an IRC server instead, in lines of IRC's length (a room text
// is one 400-byte line followed by a PING whose answer says it was taken).
// The attackers connect from 127.0.0.2 upwards, --per-address to an address
// (flood: all from 127.0.0.2); the probe and the attack's own client come
// from 127.0.0.1, the newcomers from 127.1.0.1 on. The last line of the
// output is
// "RESULT status=ok|fail key=value ..."; fail when the probe lost its
// connection or waited over 5 s for an answer, a newcomer was not admitted, the server
// information came short, the attack could not be set up, or the time bound
// was hit. Exit status 0 ok, 1 fail, 2 wrong usage.
#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/wire.h"
#include "tools/chat/client.h"
#include "tools/command_line.h"
#include "tools/load/load_setup.h"
#include "tools/load/process_sample.h"

namespace {

using nelv::load::SampleServer;
using nelv::load::ServerSample;

using nelv::protocol::Command;
using nelv::protocol::JoinFields;
using Ns = std::int64_t;

constexpr std::size_t kLongText = 64'000;  // a room text of the flood
constexpr std::size_t kPartial = 65'000;   // an unterminated message, just under the server's bound
constexpr std::size_t kLongName = 60'000;  // a room name, a lookup
constexpr std::size_t kIrcText = 400;      // IRC's form of all of them: a line holds 512 bytes
constexpr int kSmallBuffer = 4096;         // SO_RCVBUF of a client that never reads
constexpr std::uint32_t kInFlight = 64;    // requests of one client not yet answered
constexpr double kAnswerWait = 60;         // seconds the attack's own clients wait for an answer

Ns Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Ns{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}
Ns FromS(double s) { return static_cast<Ns>(s * 1e9); }

std::string Fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}
std::string Ms(Ns ns) { return Fixed(static_cast<double>(ns) / 1e6, 2) + " ms"; }
std::string MiB(long kb) { return Fixed(static_cast<double>(kb) / 1024, 1) + " MiB"; }

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 1995;
    std::string scenario = "nonreaders";
    std::uint32_t clients = 100, perAddress = 5, concurrency = 64, tries = 10;
    int longRooms = -1;  // -1: 18 for longnames, none for the others
    double seconds = 3, settle = 3, timeout = 120, probeMs = 50, maxRssMb = 4096;
    int pid = 0;
    bool irc = false;
};

// Sets the peak (VmHWM) back to the current RSS, so it tells about this run.
bool ResetPeak(int pid) {
    std::ofstream refs("/proc/" + std::to_string(pid) + "/clear_refs");
    refs << "5" << std::flush;
    return pid > 0 && refs.good();
}

// A message as a person reads it: IRC as it is, the server's as command/sub-code/status.
std::string Describe(std::string_view m) {
    if (m.size() < 3 || std::isprint(static_cast<unsigned char>(m[0]))) return std::string(m.substr(0, 80));
    return std::to_string(static_cast<unsigned char>(m[0])) + "/" + std::to_string(static_cast<unsigned char>(m[1])) +
           "/" + std::to_string(static_cast<unsigned char>(m[2]));
}

in_addr_t Loopback(std::uint32_t n) { return htonl(0x7F000000u + n); }  // 127.0.0.n, on into 127.0.1.x

// A non-blocking socket from `from` whose connect to `to` is under way, or -errno.
int Dial(const sockaddr_in& to, in_addr_t from, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -errno;
    const int one = 1;
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = from;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
        (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        const int error = errno;
        close(fd);
        return -error;
    }
    return fd;
}

// What the attack says, in the server's protocol or in IRC.
struct Proto {
    bool irc = false;

    static std::string Nelv(Command command, std::string_view payload = {}) {
        return nelv::client::Request(command, 0, payload) + '\x1F';
    }
    static std::string Answer(Command command, char sub = 0) { return {static_cast<char>(command), sub, '\0'}; }

    std::string Login(const std::string& nick) const {
        return irc ? "NICK " + nick + "\r\nUSER " + nick + " 0 * :" + nick + "\r\n"
                   : Nelv(Command::kLogin, nick + '\x01');
    }
    std::string Join(const std::string& room) const {
        return irc ? "JOIN #" + room + "\r\n" : Nelv(Command::kJoin, room);
    }
    std::string LoggedIn() const { return irc ? "001" : Answer(Command::kLogin); }
    std::string Joined() const { return irc ? "366" : Answer(Command::kJoin); }
    std::string Greeting() const { return irc ? "" : Answer(Command::kServerInfo); }

    // IRC: the command word or numeric; the server's: command, sub-code, status.
    std::string_view Kind(std::string_view m) const {
        if (!irc) return m.substr(0, 3);
        if (m.starts_with(':')) m = m.substr(std::min(m.size(), m.find(' ') + 1));
        return m.substr(0, m.find(' '));
    }
    // The connection was refused, or the request `wanted` answers (its kind) failed.
    bool Refused(std::string_view m, std::string_view wanted) const {
        if (irc) return Kind(m) == "ERROR" || Kind(m) == "432" || Kind(m) == "433";
        return m.starts_with(std::string_view("\x0F\x00", 2)) ||
               (wanted.size() == 3 && m.size() >= 3 && m.substr(0, 2) == wanted.substr(0, 2) && m[2] != 0);
    }
    // As Refused, and for IRC any error numeric.
    bool Failed(std::string_view m, std::string_view wanted) const {
        const auto kind = Kind(m);
        return Refused(m, wanted) || (irc && kind.size() == 3 && (kind[0] == '4' || kind[0] == '5'));
    }
};

// Received bytes, cut into messages at the terminator (IRC: at the line end).
struct Inbox {
    std::string bytes;
    std::size_t head = 0, scanned = 0;  // the first byte not taken; none before `scanned` ends a message

    void Add(const char* data, std::size_t n) {
        if (head > 0 && head * 2 >= bytes.size()) {
            bytes.erase(0, head);
            scanned -= head;
            head = 0;
        }
        bytes.append(data, n);
    }
    std::optional<std::string> Cut(bool irc) {
        const std::size_t end = bytes.find(irc ? '\n' : '\x1F', std::max(scanned, head));
        if (end == std::string::npos) {
            scanned = bytes.size();
            return std::nullopt;
        }
        std::string m = bytes.substr(head, end - head);
        head = scanned = end + 1;
        if (irc && !m.empty() && m.back() == '\r') m.pop_back();
        return m;
    }
};

// A client that does one thing at a time (the probe, a newcomer): every
// wait on its socket has a deadline.
class Line {
public:
    explicit Line(bool irc) : irc_(irc) {}
    ~Line() {
        if (fd_ >= 0) close(fd_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool Connect(const sockaddr_in& to, in_addr_t from, Ns deadline) {
        fd_ = Dial(to, from, 0);
        int error = 0;
        socklen_t size = sizeof error;
        return fd_ >= 0 && Wait(POLLOUT, deadline) && getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
               error == 0;
    }
    bool Send(std::string_view bytes, Ns deadline) {
        while (!bytes.empty() && fd_ >= 0) {
            const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            // Full: read meanwhile, as the server may hold requests back until its answers are read.
            const short got = Wait(POLLOUT | POLLIN, deadline);
            if (got == 0 || ((got & POLLIN) && !Fill())) return false;
        }
        return bytes.empty();
    }
    // The next message; nothing at the deadline or once the peer closed.
    std::optional<std::string> Next(Ns deadline) {
        for (;;) {
            if (auto m = in_.Cut(irc_)) {
                if (irc_ && m->starts_with("PING ")) {
                    Send("PONG " + m->substr(5) + "\r\n", deadline);
                    continue;
                }
                return m;
            }
            if (closed_ || Wait(POLLIN, deadline) == 0 || !Fill()) return std::nullopt;
        }
    }
    std::optional<std::string> Await(const std::function<bool(std::string_view)>& wanted, Ns deadline) {
        while (auto m = Next(deadline)) {
            if (wanted(*m)) return m;
        }
        return std::nullopt;
    }
    bool Closed() const { return closed_; }

private:
    short Wait(short events, Ns deadline) {  // the events that came; 0 at the deadline
        while (fd_ >= 0) {
            const Ns left = deadline - Now();
            if (left <= 0) return 0;
            pollfd p{fd_, events, 0};
            const int n = poll(&p, 1, static_cast<int>(std::min<Ns>((left + 999'999) / 1'000'000, 1000)));
            if (n > 0) return p.revents;
            if (n < 0 && errno != EINTR) break;
        }
        return 0;
    }
    bool Fill() {  // one receive; false once the peer closed
        char chunk[65536];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) in_.Add(chunk, static_cast<std::size_t>(n));
        if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) return true;
        closed_ = true;
        return false;
    }

    bool irc_;
    int fd_ = -1;
    bool closed_ = false;
    Inbox in_;
};

// The well-behaved client, in a thread of its own: logged in and in a room
// of its own, it asks and waits for the answer every --probe-ms (a text to
// its room, IRC: PING), and watches the server's memory meanwhile.
class Probe {
public:
    struct Sample {
        Ns sent, waited;
        int phase;
    };
    // `server` is read when the probe starts.
    Probe(const Options& o, const sockaddr_in& server) : o_(o), server_(server), line_(o.irc) {}
    ~Probe() { Stop(); }

    bool Start(Ns deadline) {
        const Proto p{o_.irc};
        auto is = [&](const std::string& kind) { return [&p, kind](std::string_view m) { return p.Kind(m) == kind; }; };
        const std::string nick = "probe" + std::to_string(getpid() % 1000);  // the last run's may linger
        if (!line_.Connect(server_, Loopback(1), deadline) || !line_.Send(p.Login(nick), deadline) ||
            !line_.Await(is(p.LoggedIn()), deadline) || !line_.Send(p.Join("probe"), deadline) ||
            !line_.Await(is(p.Joined()), deadline)) {
            return false;
        }
        thread_ = std::thread([this] { Loop(); });
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    void SetPhase(int phase) { phase_ = phase; }
    // After Stop: the waits of one phase in ns, sorted, and when the longest began.
    std::vector<Ns> Waits(int phase, Ns* longestAt = nullptr) const {
        std::vector<Ns> waits;
        Ns longest = -1;
        for (const Sample& s : samples_) {
            if (s.phase != phase) continue;
            if (s.waited > longest && longestAt) *longestAt = s.sent;
            longest = std::max(longest, s.waited);
            waits.push_back(s.waited);
        }
        std::sort(waits.begin(), waits.end());
        return waits;
    }

    std::atomic<long> maxRssKb{0};
    std::atomic<bool> overCap{false}, failed{false};
    std::atomic<std::uint32_t> late{0};  // answers that took over 5 s
    std::string lost;  // why it failed, and when; read after Stop
    Ns lostAt = 0;

private:
    void Fail(const char* why) {
        lost = why;
        lostAt = Now();
        failed = true;
    }
    void Loop() {
        const Ns interval = FromS(o_.probeMs / 1000), deadline = Now() + FromS(o_.timeout);
        Ns next = Now(), looked = 0;
        for (std::uint64_t n = 0; !stop_; ++n) {
            const std::string tag = "t" + std::to_string(n);
            const std::string ask = o_.irc ? "PING :" + tag + "\r\n"
                                           : Proto::Nelv(Command::kRoomMessage, JoinFields({"probe", tag}));
            const std::string end = (o_.irc ? ":" : "\x01") + tag;
            const std::string event = Proto::Answer(Command::kRoomEvent, 1);
            auto answer = [&](std::string_view m) {
                return m.ends_with(end) && (o_.irc ? Proto{true}.Kind(m) == "PONG" : m.starts_with(event));
            };
            const Ns sent = Now();
            if (!line_.Send(ask, deadline) || !line_.Await(answer, deadline)) {
                return Fail(line_.Closed() ? "closed by the server" : "no answer by the end of the run");
            }
            const Ns got = Now();
            if (got - sent > FromS(5)) ++late;
            samples_.push_back({sent, got - sent, phase_});
            if (o_.pid > 0 && got - looked >= FromS(0.1)) {
                looked = got;
                const long rss = SampleServer(o_.pid).rssKb;
                maxRssKb = std::max(maxRssKb.load(), rss);
                if (rss > static_cast<long>(o_.maxRssMb * 1024)) overCap = true;
            }
            next = std::max(next + interval, got);
            while (!stop_ && !line_.Closed() && Now() < next) {
                line_.Next(std::min(next, Now() + FromS(0.1)));  // what others caused, thrown away
            }
            if (line_.Closed()) return Fail("closed by the server");
        }
    }

    const Options& o_;
    const sockaddr_in& server_;
    Line line_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> phase_{0};
    std::vector<Sample> samples_;
};

// One connection of the attack, driven by the main thread's epoll loop.
struct Conn {
    std::uint32_t index = 0;
    int fd = -1;
    bool actor = false;  // its messages are kept for AwaitIf(); a crowd member's are thrown away once it is ready
    bool connecting = true, reading = true;
    int verdict = 0;  // crowd: 0 not yet, 1 admitted and ready, -1 refused or lost first
    std::uint32_t armed = 0;
    std::string out, marker;  // unsent bytes; the answer that makes a crowd member ready
    Inbox in;
};

class Attack {
public:
    explicit Attack(const Options& o) : o_(o), proto_{o.irc}, probe_(o, server_) {}
    int Run();

private:
    enum Phase { kSetup, kAttack, kAfter };

    // Connections.
    Conn* Open(in_addr_t from, int receiveBuffer, bool actor);
    void Arm(Conn& c);
    void Flush(Conn& c);
    void Drop(Conn& c);
    void SetVerdict(Conn& c, int verdict);
    void OnEvent(Conn& c, std::uint32_t events);
    void Receive(Conn& c);
    void Turn(Ns until);  // one epoll wait
    void Pump(Ns until) {
        while (Now() < until) Turn(until);
    }
    void Send(Conn& c, std::string_view bytes);
    std::optional<std::string> AwaitIf(Conn& c, const std::function<bool(std::string_view)>& wanted, Ns deadline);
    std::optional<std::string> Await(Conn& c, const std::string& kind, Ns deadline);  // nothing unless that kind
    Conn* Actor(const std::string& nick, const std::string& room);
    Ns Until(double s) const { return std::min(Now() + FromS(s), deadline_); }
    // The crowd: the attackers.
    void OpenCrowd(const std::function<std::string(std::uint32_t)>& hello, const std::string& marker,
                   int receiveBuffer, std::uint32_t enoughRefusals = UINT32_MAX, bool oneAddress = false);
    void Quiet();  // the crowd reads no more
    std::uint32_t Alive() const;
    static std::string Nick(std::uint32_t i) {  // a letter per run: the last run's may linger
        return std::string(1, static_cast<char>('a' + getpid() % 26)) + std::to_string(i);
    }
    std::uint32_t MakeLongRooms(Conn& maker, std::uint32_t rooms);
    // Phases.
    bool Attacking() const { return Now() < attackEnd_ && Now() < deadline_ && !probe_.overCap; }
    void StartAttack();
    void EndAttack();
    bool Problem(const std::string& what) {
        if (problem_.empty()) problem_ = what;
        return false;
    }
    // Scenarios; false when the attack could not be set up.
    bool Nonreaders();
    bool Rename();
    bool Trickle();
    bool Flood();
    bool LongNames();
    bool ManyRooms();
    bool Pipeline();
    bool Idle();
    // Report.
    void Key(const std::string& name, const std::string& value) { result_ += " " + name + "=" + value; }
    void Say(const std::string& line) { text_ += line + "\n"; }
    void Miss(const std::string& target) { missed_ += (missed_.empty() ? "" : ",") + target; }
    int Report();

    const Options& o_;
    const Proto proto_;
    sockaddr_in server_{};
    Probe probe_;
    int epoll_ = -1, lastError_ = 0;
    std::deque<Conn> conns_;
    std::uint32_t crowdFirst_ = 0, crowdEnd_ = 0, ready_ = 0, refused_ = 0, cut_ = 0;
    std::string crowdStop_, refusedWhy_;
    Ns start_ = 0, deadline_ = 0, attackStart_ = 0, attackEnd_ = 0, attackNs_ = 0, firstCutNs_ = 0, lastCutNs_ = 0;
    ServerSample atStart_, atAttack_, atEnd_, after_, toolAtAttack_, toolAtEnd_;
    bool peakReset_ = false, failed_ = false;
    std::string problem_, text_, result_, missed_;
    char chunk_[65536];
};

Conn* Attack::Open(in_addr_t from, int receiveBuffer, bool actor) {
    const int fd = Dial(server_, from, receiveBuffer);
    if (fd < 0) {
        lastError_ = -fd;
        return nullptr;
    }
    Conn& c = conns_.emplace_back();
    c.index = static_cast<std::uint32_t>(conns_.size() - 1);
    c.fd = fd;
    c.actor = actor;
    epoll_event e{};
    e.events = c.armed = EPOLLIN | EPOLLOUT;
    e.data.u32 = c.index;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
    return &c;
}

void Attack::Arm(Conn& c) {
    const std::uint32_t want = (c.reading ? EPOLLIN : 0u) | (c.connecting || !c.out.empty() ? EPOLLOUT : 0u);
    if (c.fd < 0 || want == c.armed) return;
    epoll_event e{};
    e.events = c.armed = want;
    e.data.u32 = c.index;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &e);
}

void Attack::Flush(Conn& c) {
    while (!c.out.empty() && c.fd >= 0) {
        const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            break;
        } else {
            Drop(c);
        }
    }
    Arm(c);
}

void Attack::Drop(Conn& c) {
    if (c.fd < 0) return;
    close(c.fd);
    c.fd = -1;
    if (c.verdict > 0 && !c.actor && attackStart_ > 0 && attackNs_ == 0) {  // the server cut it off
        firstCutNs_ = firstCutNs_ ? firstCutNs_ : Now();
        lastCutNs_ = Now();
    }
    if (c.verdict == 0 && !c.actor) {
        if (refusedWhy_.empty()) refusedWhy_ = c.connecting ? "connect failed" : "closed before it was ready";
        SetVerdict(c, -1);
    }
}

void Attack::SetVerdict(Conn& c, int verdict) {
    c.verdict = verdict;
    ++(verdict > 0 ? ready_ : refused_);
    if (verdict < 0) Drop(c);
}

void Attack::OnEvent(Conn& c, std::uint32_t events) {
    if (c.connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) return Drop(c);
        if (!(events & EPOLLOUT)) return;
        c.connecting = false;
        if (!c.actor && c.marker.empty()) SetVerdict(c, 1);
    }
    if (c.reading && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
        Receive(c);
    } else if (events & (EPOLLHUP | EPOLLERR)) {
        return Drop(c);  // reset while it did not read
    }
    if (c.fd >= 0) Flush(c);
}

void Attack::Receive(Conn& c) {
    for (int i = 0; i < 16 && c.fd >= 0; ++i) {
        const ssize_t n = recv(c.fd, chunk_, sizeof chunk_, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) return Drop(c);
        // A crowd member reads its messages until it is ready; then it throws them away, except
        // that on IRC it answers the server's PING as an idle client must.
        if (c.actor || c.verdict == 0 || o_.irc) c.in.Add(chunk_, static_cast<std::size_t>(n));
        while (!c.actor && c.fd >= 0 && (c.verdict == 0 || o_.irc)) {
            const auto m = c.in.Cut(o_.irc);
            if (!m) break;
            if (o_.irc && m->starts_with("PING ")) {
                Send(c, "PONG " + m->substr(5) + "\r\n");
            } else if (c.verdict == 0 && proto_.Kind(*m) == c.marker) {
                SetVerdict(c, 1);
                if (!o_.irc) c.in = Inbox{};  // what follows is thrown away
            } else if (c.verdict == 0 && proto_.Refused(*m, c.marker)) {
                if (refusedWhy_.empty()) refusedWhy_ = Describe(*m);
                SetVerdict(c, -1);
            }
        }
        if (static_cast<std::size_t>(n) < sizeof chunk_) return;
    }
}

void Attack::Turn(Ns until) {
    epoll_event events[1024];
    const Ns left = std::max<Ns>(0, until - Now());
    const int n = epoll_wait(epoll_, events, 1024, static_cast<int>(std::min<Ns>((left + 999'999) / 1'000'000, 100)));
    for (int i = 0; i < n; ++i) {
        Conn& c = conns_[events[i].data.u32];
        if (c.fd >= 0) OnEvent(c, events[i].events);
    }
}

void Attack::Send(Conn& c, std::string_view bytes) {
    c.out.append(bytes);
    if (!c.connecting) Flush(c);
}

std::optional<std::string> Attack::AwaitIf(Conn& c, const std::function<bool(std::string_view)>& wanted,
                                           Ns deadline) {
    for (;;) {
        while (auto m = c.in.Cut(o_.irc)) {
            if (o_.irc && m->starts_with("PING ")) Send(c, "PONG " + m->substr(5) + "\r\n");
            if (wanted(*m)) return m;
        }
        if (c.fd < 0 || Now() >= deadline) return std::nullopt;
        Turn(deadline);
    }
}

std::optional<std::string> Attack::Await(Conn& c, const std::string& kind, Ns deadline) {
    auto m = AwaitIf(c, [&](std::string_view x) { return proto_.Kind(x) == kind || proto_.Failed(x, kind); }, deadline);
    if (m && proto_.Kind(*m) != kind) return std::nullopt;
    return m;
}

// A client of the attack itself, from 127.0.0.1, logged in (and in `room`).
Conn* Attack::Actor(const std::string& nick, const std::string& room) {
    Conn* c = Open(Loopback(1), 0, true);
    std::string wrong = c ? "" : std::strerror(lastError_);
    if (c) Send(*c, proto_.Login(nick));
    if (wrong.empty() && !Await(*c, proto_.LoggedIn(), Until(kAnswerWait))) wrong = "could not log in";
    if (wrong.empty() && !room.empty()) Send(*c, proto_.Join(room));
    if (wrong.empty() && !room.empty() && !Await(*c, proto_.Joined(), Until(kAnswerWait))) wrong = "could not join";
    if (wrong.empty()) return c;
    Problem(nick + ": " + wrong);
    return nullptr;
}

void Attack::OpenCrowd(const std::function<std::string(std::uint32_t)>& hello, const std::string& marker,
                       int receiveBuffer, std::uint32_t enoughRefusals, bool oneAddress) {
    crowdFirst_ = crowdEnd_ = static_cast<std::uint32_t>(conns_.size());
    std::uint32_t opened = 0;
    for (;;) {
        while (crowdStop_.empty() && opened < o_.clients && opened - ready_ - refused_ < o_.concurrency) {
            if (refused_ >= enoughRefusals) crowdStop_ = "refused";
            if (probe_.overCap) crowdStop_ = "server over --max-rss-mb";
            if (!crowdStop_.empty()) break;
            const std::uint32_t address = 2 + (oneAddress ? 0 : opened / o_.perAddress);
            Conn* c = Open(Loopback(address), receiveBuffer, false);
            if (!c) {
                crowdStop_ = std::strerror(lastError_);
                break;
            }
            c->marker = marker;
            c->out = hello(opened++);
            crowdEnd_ = c->index + 1;
        }
        if (ready_ + refused_ == opened && (opened == o_.clients || !crowdStop_.empty())) break;
        if (Now() >= deadline_) {
            crowdStop_ = "time bound";
            break;
        }
        Turn(Until(0.1));
    }
    if (crowdStop_.empty()) crowdStop_ = "all opened";
}

void Attack::Quiet() {
    for (std::uint32_t i = crowdFirst_; i < crowdEnd_; ++i) {
        conns_[i].reading = false;
        conns_[i].in = Inbox{};
        Arm(conns_[i]);
    }
}

// Crowd members admitted that the server has not closed.
std::uint32_t Attack::Alive() const {
    std::uint32_t alive = 0;
    for (std::uint32_t i = crowdFirst_; i < crowdEnd_; ++i) {
        tcp_info info{};
        socklen_t size = sizeof info;
        const Conn& c = conns_[i];
        alive += c.fd >= 0 && c.verdict > 0 && getsockopt(c.fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
                 info.tcpi_state == TCP_ESTABLISHED;
    }
    return alive;
}

void Attack::StartAttack() {
    atAttack_ = SampleServer(o_.pid);
    toolAtAttack_ = SampleServer(getpid());
    attackStart_ = Now();
    attackEnd_ = attackStart_ + FromS(o_.seconds);
    probe_.SetPhase(kAttack);
}

// Samples, then closes every connection of the attack and watches the server give memory back.
void Attack::EndAttack() {
    attackNs_ = Now() - attackStart_;
    atEnd_ = SampleServer(o_.pid);
    toolAtEnd_ = SampleServer(getpid());
    cut_ = ready_ > 0 ? ready_ - std::min(ready_, Alive()) : 0;
    probe_.SetPhase(kAfter);
    for (Conn& c : conns_) Drop(c);
    std::this_thread::sleep_for(std::chrono::nanoseconds(FromS(o_.settle)));  // the time memory has to go back
    after_ = SampleServer(o_.pid);
}

// Rooms with 60,000-byte names, numbered; how many were made.
std::uint32_t Attack::MakeLongRooms(Conn& maker, std::uint32_t rooms) {
    std::uint32_t made = 0;
    for (; made < rooms && !probe_.overCap; ++made) {
        std::string name(kLongName, 'n');
        const std::string number = std::to_string(made);
        name.replace(0, number.size(), number);
        Send(maker, proto_.Join(name));
        if (!Await(maker, proto_.Joined(), Until(kAnswerWait))) break;
    }
    return made;
}

bool Attack::Nonreaders() {
    Conn* sender = Actor("sender", "flood");
    if (!sender) return false;
    OpenCrowd([&](std::uint32_t i) { return proto_.Login(Nick(i)) + proto_.Join("flood"); }, proto_.Joined(),
              kSmallBuffer);
    Quiet();
    StartAttack();
    const std::string text(o_.irc ? kIrcText : kLongText, 'x'), event = Proto::Answer(Command::kRoomEvent, 1);
    std::uint64_t texts = 0;
    for (; Attacking(); ++texts) {
        const std::string tag = ":" + std::to_string(texts);
        Send(*sender, o_.irc ? "PRIVMSG #flood :" + text + "\r\nPING " + tag + "\r\n"
                             : Proto::Nelv(Command::kRoomMessage, JoinFields({"flood", text})));
        auto back = [&](std::string_view m) {
            return o_.irc ? proto_.Kind(m) == "PONG" && m.ends_with(tag) : m.starts_with(event) && m.size() > kLongText;
        };
        if (!AwaitIf(*sender, back, Until(kAnswerWait))) return Problem("the sender's text did not come back");
    }
    Key("texts", std::to_string(texts));
    Say("sender: " + std::to_string(texts) + " texts of " + std::to_string(text.size()) + " bytes, " +
        Fixed(static_cast<double>(texts) * 1e9 / static_cast<double>(Now() - attackStart_), 1) + "/s");
    return true;
}

bool Attack::Rename() {
    OpenCrowd([&](std::uint32_t i) { return o_.irc ? proto_.Login(Nick(i)) + proto_.Join("flood") : ""; },
              o_.irc ? proto_.Joined() : proto_.Greeting(), kSmallBuffer);
    Quiet();
    Conn* renamer = Actor("renamer", o_.irc ? "flood" : "");
    if (!renamer) return false;
    StartAttack();
    std::uint64_t renames = 0, refusals = 0;
    std::string nick = "renamer";
    const std::string answer = Proto::Answer(Command::kLogin);
    while (Attacking()) {
        const std::string next = nick == "renamer" ? "renamed" : "renamer";
        Send(*renamer, o_.irc ? "NICK " + next + "\r\n" : proto_.Login(next));
        auto m = AwaitIf(*renamer, [&](std::string_view x) {
            return o_.irc ? proto_.Kind(x) == "NICK" || proto_.Failed(x, "") : x.starts_with(answer.substr(0, 2));
        }, Until(kAnswerWait));
        if (!m) return Problem("the rename was not answered");
        const bool done = o_.irc ? proto_.Kind(*m) == "NICK" : proto_.Kind(*m) == answer;
        ++(done ? renames : refusals);
        if (done) nick = next;
    }
    Key("renames", std::to_string(renames));
    Key("rename_refusals", std::to_string(refusals));
    Say("renamer: " + std::to_string(renames) + " renames (" +
        Fixed(static_cast<double>(renames) * 1e9 / static_cast<double>(Now() - attackStart_), 1) +
        "/s), " + std::to_string(refusals) + " refused");
    return true;
}

bool Attack::Trickle() {
    const std::size_t partial = o_.irc ? kIrcText : kPartial, room = o_.irc ? 100 : 500;
    StartAttack();
    OpenCrowd([&](std::uint32_t) { return std::string(partial, 'p'); }, proto_.Greeting(), 0);
    Quiet();
    Pump(Until(1));  // the server takes the partial messages in
    const std::uint32_t holding = Alive();
    const ServerSample quiet = SampleServer(o_.pid);
    Pump(Until(1));  // the server's CPU without trickling, to take off below
    const ServerSample before = SampleServer(o_.pid);
    const double idleCpu = before.cpuS - quiet.cpuS;  // per second
    const Ns begin = Now(), interval = FromS(0.1);
    const auto rounds = std::min<std::uint64_t>(room, static_cast<std::uint64_t>(o_.seconds * 10));
    std::uint64_t bytes = 0;
    for (std::uint64_t round = 0; round < rounds && Now() < deadline_ && !probe_.overCap; ++round) {
        for (std::uint32_t i = crowdFirst_; i < crowdEnd_; ++i) {
            if (conns_[i].fd < 0 || conns_[i].verdict <= 0) continue;
            Send(conns_[i], "p");
            ++bytes;
        }
        Pump(begin + static_cast<Ns>(round + 1) * interval);
    }
    const ServerSample after = SampleServer(o_.pid);
    const double trickling = static_cast<double>(Now() - begin) / 1e9;
    Key("holding", std::to_string(holding));
    Key("trickled", std::to_string(bytes));
    std::string line = std::to_string(holding) + " connections held " + std::to_string(partial) +
                       " unterminated bytes; " + std::to_string(bytes) + " bytes trickled";
    if (before.ok && after.ok && bytes > 0) {
        const double perByte = (after.cpuS - before.cpuS - idleCpu * trickling) * 1e6 / static_cast<double>(bytes);
        Key("cpu_us_per_byte", Fixed(perByte, 2));
        line += ", " + Fixed(perByte, 2) + " us of server CPU each (beyond its CPU when nothing is trickled)";
    }
    Say(line);
    return true;
}

bool Attack::Flood() {
    StartAttack();
    // IRC says nothing before a login: a PING asks for its refusal or its 451 "not registered".
    OpenCrowd([&](std::uint32_t) { return o_.irc ? std::string("PING :f\r\n") : std::string(); },
              o_.irc ? "451" : proto_.Greeting(), 0, 10, true);
    Pump(Until(0.5));  // late refusals
    std::uint32_t admitted = 0;
    Ns worst = 0;
    for (std::uint32_t t = 0; t < o_.tries && Now() < deadline_; ++t) {
        Line newcomer(o_.irc);
        const Ns begin = Now(), limit = std::min(begin + FromS(2), deadline_);
        const std::string wanted = o_.irc ? proto_.LoggedIn() : proto_.Greeting();
        bool in = newcomer.Connect(server_, htonl(0x7F010001u + t), limit) &&  // 127.1.0.1 on: each a fresh address
                  (!o_.irc || newcomer.Send(proto_.Login("newcomer" + std::to_string(t)), limit));
        if (in) {
            const auto m = newcomer.Await(
                [&](std::string_view x) { return proto_.Kind(x) == wanted || proto_.Refused(x, wanted); }, limit);
            in = m && proto_.Kind(*m) == wanted;
        }
        admitted += in;
        worst = std::max(worst, Now() - begin);
    }
    Key("newcomers", std::to_string(admitted) + "/" + std::to_string(o_.tries));
    Say("newcomers from another address: " + std::to_string(admitted) + " of " + std::to_string(o_.tries) +
        " admitted, the slowest in " + Ms(worst));
    if (admitted < o_.tries) {
        failed_ = true;
        Miss("newcomers_admitted");
    }
    return true;
}

bool Attack::LongNames() {
    OpenCrowd([](std::uint32_t) { return std::string(); }, proto_.Greeting(), kSmallBuffer);
    Quiet();
    Conn* maker = Actor("maker", "");
    if (!maker) return false;
    StartAttack();
    const std::uint32_t rooms = MakeLongRooms(*maker, static_cast<std::uint32_t>(o_.longRooms));
    std::uint32_t whole = 0;
    std::size_t size = 0;
    Ns worst = 0;
    const std::string welcome = Proto::Answer(Command::kServerData, 1), rooms4 = Proto::Answer(Command::kServerData, 4),
                      users = Proto::Answer(Command::kServerData, 5);
    for (std::uint32_t t = 0; t < o_.tries && Now() < deadline_; ++t) {
        Line asker(false);
        const Ns begin = Now(), limit = std::min(begin + FromS(10), deadline_);
        bool ok = asker.Connect(server_, Loopback(1), limit) &&
                  asker.Await([&](std::string_view m) { return m.starts_with(proto_.Greeting()); }, limit) &&
                  asker.Send(Proto::Nelv(Command::kServerInfo), limit);
        const Ns asked = Now();
        std::size_t got = 0, parts = 0, list = 0;
        while (ok) {  // 10/1 welcome, 10/3 banners, 10/4 rooms, 10/5 users, the last
            const auto m = asker.Await([](std::string_view x) { return x.starts_with('\x0A'); }, limit);
            if (!m) break;
            got += m->size() + 1;
            parts += m->starts_with(welcome) || m->starts_with(rooms4) || m->starts_with(users);
            if (m->starts_with(rooms4)) list = m->size();
            if (m->starts_with(users)) break;
        }
        ok = ok && parts == 3 && list >= rooms * kLongName;
        whole += ok;
        size = std::max(size, got);
        worst = std::max(worst, Now() - asked);
    }
    Key("rooms", std::to_string(rooms));
    Key("info_whole", std::to_string(whole) + "/" + std::to_string(o_.tries));
    Key("info_bytes", std::to_string(size));
    Key("info_max_us", std::to_string(worst / 1000));
    Say(std::to_string(rooms) + " rooms with " + std::to_string(kLongName) + "-byte names; server information whole " +
        std::to_string(whole) + " of " + std::to_string(o_.tries) + " times, " + std::to_string(size) +
        " bytes, the slowest in " + Ms(worst));
    if (whole < o_.tries) {
        failed_ = true;
        Miss("server_information_whole");
    }
    return true;
}

bool Attack::ManyRooms() {
    Conn* maker = Actor("maker", "");
    if (!maker) return false;
    StartAttack();
    const std::uint32_t n = o_.clients, tenth = std::max(1u, n / 10);
    std::uint32_t sent = 0, done = 0;
    double cpu = SampleServer(o_.pid).cpuS;
    Ns tenthStart = Now();
    std::string perJoin, rates;
    while (done < n && Attacking()) {
        while (sent < n && sent - done < kInFlight) Send(*maker, proto_.Join("r" + std::to_string(sent++)));
        if (!Await(*maker, proto_.Joined(), Until(kAnswerWait))) return Problem("join " + std::to_string(done));
        if (++done % tenth != 0) continue;
        const double now = SampleServer(o_.pid).cpuS;
        perJoin += (perJoin.empty() ? "" : ",") + Fixed((now - cpu) * 1e6 / tenth, 1);
        rates += (rates.empty() ? "" : ",") + Fixed(tenth / (static_cast<double>(Now() - tenthStart) / 1e9), 0);
        cpu = now;
        tenthStart = Now();
    }
    Key("rooms", std::to_string(done));
    if (o_.pid > 0) Key("cpu_us_per_join", perJoin);
    Key("joins_per_s", rates);
    Say(std::to_string(done) + " rooms created; by tenths, server CPU per join (us) " + perJoin + ", joins/s " + rates);
    return true;
}

bool Attack::Pipeline() {
    std::uint32_t rooms = 0;
    if (o_.longRooms > 0) {
        Conn* maker = Actor("maker", "");
        if (!maker) return false;
        rooms = MakeLongRooms(*maker, static_cast<std::uint32_t>(o_.longRooms));
    }
    StartAttack();
    std::string asks;
    for (int i = 0; i < 4096; ++i) asks += Proto::Nelv(Command::kServerInfo);
    OpenCrowd([&](std::uint32_t) { return asks; }, proto_.Greeting(), kSmallBuffer);
    Quiet();
    Pump(std::min(attackEnd_, deadline_));
    std::uint64_t asked = 0;
    for (std::uint32_t i = crowdFirst_; i < crowdEnd_; ++i) {
        if (conns_[i].verdict > 0) asked += 4096 - conns_[i].out.size() / 3;
    }
    Key("rooms", std::to_string(rooms));
    Key("requests", std::to_string(asked));
    Say(std::to_string(asked) + " server information requests written" +
        (rooms > 0 ? ", with " + std::to_string(rooms) + " long-named rooms listed in each answer" : ""));
    return true;
}

bool Attack::Idle() {
    const std::string room(o_.irc ? 49 : kLongName, 'i'), big(o_.irc ? kIrcText : kLongName, 'q');
    Conn* inviter = Actor("inviter", room);
    if (!inviter) return false;
    const ServerSample base = SampleServer(o_.pid);
    StartAttack();
    auto burst = [&](std::uint32_t i) {
        if (o_.irc) {
            return proto_.Login(Nick(i)) + "PRIVMSG nobody" + std::to_string(i) + " :" + big +
                   "\r\nMOTD\r\nLIST\r\nPING :burst\r\n";
        }
        return proto_.Login(Nick(i)) + Proto::Nelv(Command::kUserLookup, big) + Proto::Nelv(Command::kServerInfo);
    };
    OpenCrowd(burst, o_.irc ? "PONG" : Proto::Answer(Command::kServerData, 5), 0);
    std::vector<std::uint32_t> members;
    for (std::uint32_t i = crowdFirst_; i < crowdEnd_; ++i) {
        if (conns_[i].verdict > 0) members.push_back(i - crowdFirst_);
    }
    const std::string answer = o_.irc ? "341" : Proto::Answer(Command::kInvitation);
    std::uint32_t sent = 0, done = 0, invited = 0;
    while (done < members.size() && Attacking()) {
        while (sent < members.size() && sent - done < kInFlight) {
            const std::string nick = Nick(members[sent++]);
            Send(*inviter, o_.irc ? "INVITE " + nick + " #" + room + "\r\n"
                                  : Proto::Nelv(Command::kInvitation, JoinFields({room, nick})));
        }
        auto m = AwaitIf(*inviter, [&](std::string_view x) {
            return proto_.Kind(x) == answer || proto_.Failed(x, answer);
        }, Until(kAnswerWait));
        if (!m) return Problem("an invitation was not answered");
        ++done;
        invited += proto_.Kind(*m) == answer;
    }
    Pump(std::min(std::max(attackEnd_, Now() + FromS(1)), deadline_));  // idle: only reading
    const ServerSample idle = SampleServer(o_.pid);
    const std::uint32_t alive = Alive();
    Key("invited", std::to_string(invited));
    std::string line = std::to_string(alive) + " idle connections after their bursts, " + std::to_string(invited) +
                       " of them invited";
    if (base.ok && idle.ok && alive > 0) {
        const double each = static_cast<double>(idle.rssKb - base.rssKb) / alive;
        Key("kb_per_idle", Fixed(each, 2));
        line += "; server RSS " + Fixed(each, 2) + " KiB per idle connection";
    }
    Say(line);
    return true;
}

int Attack::Run() {
    nelv::load::RaiseFileLimit();
    const auto address = nelv::load::ServerAddress("nelv3attack", o_.host, o_.port);
    if (!address) return 2;
    server_ = *address;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    std::printf("nelv3attack %s against %s %s:%u with %u clients, %g s\n", o_.scenario.c_str(),
                o_.irc ? "the IRC server" : "the server", o_.host.c_str(), o_.port, o_.clients, o_.seconds);
    std::fflush(stdout);

    start_ = Now();
    deadline_ = start_ + FromS(o_.timeout);
    peakReset_ = o_.pid > 0 && ResetPeak(o_.pid);
    atStart_ = SampleServer(o_.pid);
    bool ready = probe_.Start(Until(kAnswerWait));
    if (!ready) Problem("the probe could not log in and join its room");
    using Scenario = bool (Attack::*)();
    const std::pair<const char*, Scenario> scenarios[] = {
        {"nonreaders", &Attack::Nonreaders}, {"rename", &Attack::Rename},       {"trickle", &Attack::Trickle},
        {"flood", &Attack::Flood},           {"longnames", &Attack::LongNames}, {"manyrooms", &Attack::ManyRooms},
        {"pipeline", &Attack::Pipeline},     {"idle", &Attack::Idle},
    };
    for (const auto& [name, scenario] : scenarios) {
        if (ready && o_.scenario == name) ready = (this->*scenario)();
    }
    if (attackStart_ == 0) StartAttack();
    EndAttack();
    probe_.Stop();
    if (!ready) failed_ = true;
    close(epoll_);
    return Report();
}

int Attack::Report() {
    const bool timedOut = Now() >= deadline_;
    Ns longestAt = 0;
    const auto attack = probe_.Waits(kAttack, &longestAt), afterwards = probe_.Waits(kAfter);
    const auto setup = probe_.Waits(kSetup);
    auto at = [](const std::vector<Ns>& v, double share) {
        const auto rank = static_cast<std::size_t>(share * static_cast<double>(v.size()));
        return v.empty() ? Ns{0} : v[std::min(v.size() - 1, rank)];
    };
    const Ns p50 = at(attack, 0.5), p99 = at(attack, 0.99), worst = attack.empty() ? 0 : attack.back();
    const Ns afterWorst = afterwards.empty() ? 0 : afterwards.back();
    const bool probeLost = probe_.failed.load();
    const bool ok = !failed_ && !probeLost && probe_.late == 0 && !timedOut && problem_.empty();
    auto into = [&](Ns when) { return Fixed(static_cast<double>(when - attackStart_) / 1e9, 2); };

    Say("probe: " + std::to_string(attack.size()) + " round trips during the attack (max " +
        Ms(setup.empty() ? 0 : setup.back()) + " while setting it up), p50 " + Ms(p50) + ", p99 " +
        Ms(p99) + ", max " + Ms(worst) +
        (attack.empty() ? "" : " (sent " + into(longestAt) + " s into the attack)") +
        "; after the attackers left: max " + Ms(afterWorst) + " of " +
        std::to_string(afterwards.size()) +
        (probeLost ? "; LOST " + into(probe_.lostAt) + " s into the attack: " + probe_.lost : ""));
    if (crowdEnd_ > crowdFirst_) Say("attackers: " + std::to_string(ready_) + " admitted, " + std::to_string(refused_) + " refused" +
        (refusedWhy_.empty() ? "" : " (the first: " + refusedWhy_ + ")") + ", opening ended: " + crowdStop_ + "; " +
        std::to_string(cut_) + " of the admitted closed by the server by the end of the attack" +
        (firstCutNs_ ? " (seen from " + into(firstCutNs_) + " to " + into(lastCutNs_) + " s into it)" : ""));
    Key("clients", std::to_string(o_.clients));
    Key("admitted", std::to_string(ready_));
    Key("refused", std::to_string(refused_));
    Key("cut", std::to_string(cut_));
    Key("probe_n", std::to_string(attack.size()));
    Key("probe_p50_us", std::to_string(p50 / 1000));
    Key("probe_p99_us", std::to_string(p99 / 1000));
    Key("probe_max_us", std::to_string(worst / 1000));
    Key("after_max_us", std::to_string(afterWorst / 1000));
    Key("setup_max_us", std::to_string(setup.empty() ? 0 : setup.back() / 1000));
    Key("probe_lost", probeLost ? "1" : "0");
    Key("probe_late", std::to_string(probe_.late));
    if (probe_.late > 0) Say("probe: " + std::to_string(probe_.late) + " answers took over 5 s (in any phase)");
    if (p99 >= 50'000'000) Miss("probe_p99");
    if (atEnd_.ok) {
        // The peak since the run began when it could be reset, else the largest RSS the probe saw.
        const long peak = std::max(peakReset_ ? atEnd_.hwmKb : 0L, std::max(probe_.maxRssKb.load(), atEnd_.rssKb));
        Say("server: peak RSS " + MiB(peak) + (peakReset_ ? "" : " (sampled)") + ", " + MiB(atEnd_.rssKb) +
            " at the end of the attack, " + MiB(after_.rssKb) + " " + Fixed(o_.settle, 1) +
            " s after the attackers left (" + MiB(atStart_.rssKb) + " before); CPU " +
            Fixed(atEnd_.cpuS - atAttack_.cpuS, 3) + " s in " + Fixed(static_cast<double>(attackNs_) / 1e9, 1) +
            " s of attack, " + Fixed(after_.cpuS - atEnd_.cpuS, 3) + " s after");
        Key("peak_rss_kb", std::to_string(peak));
        Key("end_rss_kb", std::to_string(atEnd_.rssKb));
        Key("after_rss_kb", std::to_string(after_.rssKb));
        Key("attack_cpu_s", Fixed(atEnd_.cpuS - atAttack_.cpuS, 3));
        Key("after_cpu_s", Fixed(after_.cpuS - atEnd_.cpuS, 3));
        if (peak >= 256 * 1024) Miss("peak_rss");
        // Time ready to run but without a CPU: other work on the machine (or the tool itself) shows here.
        const double serverWait = atEnd_.waitS - atAttack_.waitS, toolWait = toolAtEnd_.waitS - toolAtAttack_.waitS;
        Say("waiting for a CPU during the attack: server " + Fixed(serverWait, 3) + " s, this tool " +
            Fixed(toolWait, 3) + " s (it ran " + Fixed(toolAtEnd_.cpuS - toolAtAttack_.cpuS, 3) + " s)");
        Key("srv_cpu_wait_s", Fixed(serverWait, 3));
        Key("tool_cpu_wait_s", Fixed(toolWait, 3));
        if (probe_.overCap) Say("problem: the server passed --max-rss-mb; the attack was stopped there");
    }
    Key("timed_out", timedOut ? "1" : "0");
    Key("targets_missed", missed_.empty() ? "none" : missed_);
    if (!problem_.empty()) Say("problem: " + problem_);
    if (timedOut) Say("problem: the time bound of " + Fixed(o_.timeout, 1) + " s was hit");
    const std::string head = std::string("RESULT status=") + (ok ? "ok" : "fail") + " scenario=" + o_.scenario +
                             " proto=" + (o_.irc ? "irc" : "nelv");
    std::fputs((text_ + head + result_ + "\n").c_str(), stdout);
    std::fflush(stdout);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nelv3attack: attacks a running NELV 3-Server (or an IRC server) over loopback while a probe "
                 "client measures its answers; ends with a line \"RESULT status=ok|fail key=value ...\". Exit "
                 "status 0 ok, 1 failed, 2 wrong usage.",
                 "nelv3attack"};
    Options o;
    auto option = [&](const char* name, auto& into, const char* help) {
        return app.add_option(name, into, help)->capture_default_str();
    };
    const char* ircScenarios[] = {"nonreaders", "rename", "trickle", "flood", "idle"};
    option("--host", o.host, "server address (loopback)");
    option("--port", o.port, "server port");
    option("--scenario", o.scenario, "nonreaders, rename, trickle, flood, longnames, manyrooms, pipeline or idle")
        ->check(CLI::IsMember(
            {"nonreaders", "rename", "trickle", "flood", "longnames", "manyrooms", "pipeline", "idle"}));
    option("--clients", o.clients, "attacking connections (manyrooms: rooms; flood: the most to open)")
        ->check(CLI::Range(1u, 100'000u));
    option("--seconds", o.seconds, "seconds of attack")->check(CLI::PositiveNumber);
    option("--settle", o.settle, "seconds to watch the server after the attackers left")->check(CLI::NonNegativeNumber);
    option("--timeout", o.timeout, "seconds the whole run may take")->check(CLI::PositiveNumber);
    option("--pid", o.pid, "server process whose memory and CPU time to report")->check(CLI::PositiveNumber);
    option("--per-address", o.perAddress, "attacking connections per source address (127.0.0.2 upwards)")
        ->check(CLI::Range(1u, 10'000u));
    option("--concurrency", o.concurrency, "connections being set up at once")->check(CLI::Range(1u, 10'000u));
    option("--tries", o.tries, "newcomers (flood) and server information askers (longnames)")
        ->check(CLI::Range(1u, 1000u));
    option("--long-rooms", o.longRooms, "rooms with 60,000-byte names (longnames: 18, pipeline: 0)")
        ->check(CLI::Range(0, 1000));
    option("--probe-ms", o.probeMs, "milliseconds between the probe's round trips")->check(CLI::PositiveNumber);
    option("--max-rss-mb", o.maxRssMb, "stop attacking once the server's RSS passes this")->check(CLI::PositiveNumber);
    app.add_flag("--irc", o.irc, "attack an IRC server (nonreaders, rename, trickle, flood, idle)");
    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3attack", argc, argv)) return *code;
    if (o.irc && std::find(std::begin(ircScenarios), std::end(ircScenarios), o.scenario) == std::end(ircScenarios)) {
        std::fprintf(stderr, "--irc: %s has no IRC form\nRun with --help for more information.\n", o.scenario.c_str());
        return 2;
    }
    if (o.longRooms < 0) o.longRooms = o.scenario == "longnames" ? 18 : 0;
    return Attack(o).Run();
}
