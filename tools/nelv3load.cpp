// nelv3load: drives a running NELV 3-Server with many clients from one
// thread (epoll, non-blocking sockets) and says how it coped, so an
// operator can size a machine. Scenarios:
//   fanout   S senders talk in one room all N clients are in
//   rooms    client i is in room i % R and every client talks
//   latency  like fanout, each sender paced at --rate texts per second
//   connect  N clients log in (and join with --join) and stay; then probes
//   churn    connect, greeting, login, reply, close; K cycles at a time
// Every text carries its sender, number and send time, so each delivery is
// checked exactly. Exit status 0 when all went well, 1 when a delivery was
// wrong or missing, a connection was lost or refused, or the time bound
// was hit, 2 on wrong usage. The last line of the output is
// "RESULT status=ok|fail key=value ...".
#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "tools/chat/client.h"
#include "tools/command_line.h"
#include "tools/load/load_setup.h"
#include "tools/load/process_sample.h"
#include "tools/load/measure.h"

namespace {

using nelv::load::SampleServer;
using nelv::load::ServerSample;

using nelv::protocol::Command;
using nelv::load::DeliveryLedger;
using nelv::load::Histogram;

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double Seconds(std::int64_t ns) { return static_cast<double>(ns) / 1e9; }

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 1995;
    std::string scenario = "fanout";
    std::uint32_t clients = 100, senders = 1, rooms = 10, messages = 100, window = 16;
    double rate = 100;
    std::uint32_t textSize = 64, concurrency = 64, sources = 1, probes = 0;
    double hold = 2, duration = 5, timeout = 120;
    int serverPid = 0;
    bool join = false;
    std::string nickPrefix = "load", roomPrefix = "loadroom";
    std::string transport = "tcp";  // or "ws": the server's web port, one WebSocket message per message
};

// A message on the wire: followed by the terminator, or as a masked binary
// WebSocket frame (the mask is zero: the server's work is the same).
void AppendMessage(std::string& out, std::string_view message, bool ws) {
    if (!ws) {
        out += message;
        out += nelv::protocol::kMessageTerminator;
        return;
    }
    out += '\x82';
    const std::size_t n = message.size();
    if (n < 126) {
        out += static_cast<char>(0x80 | n);
    } else if (n <= 0xFFFF) {
        out += '\xFE';
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xFF);
    } else {
        out += '\xFF';
        for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xFF);
    }
    out.append(4, '\0');
    out += message;
}

constexpr std::string_view kUpgradeRequest =
    "GET /chat HTTP/1.1\r\nHost: nelv3load\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";


// The nickname rule, applied to the prefixes: every byte above 0x20, none 0xA0.
bool PlainBytes(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b > 0x20 && b != 0xA0;
    });
}

enum class Phase { kConnecting, kGreeting, kLogin, kJoin, kReady, kClosed };
enum class Kind { kMember, kProbe, kCycle };  // held for the run, timed to the greeting, churned

struct Client {
    int fd = -1;
    std::uint32_t slot = 0;  // place in LoadRun::clients_; a member's sender number too
    Kind kind = Kind::kMember;
    Phase phase = Phase::kClosed;
    bool writing = false;  // EPOLLOUT wanted
    int notice = -1;       // status of a closing notice (15/0/x) received
    bool upgraded = false; // ws: the 101 answer has arrived
    std::int64_t startNs = 0;
    std::string nick, room, in, out;
};

constexpr std::uint32_t kNobody = UINT32_MAX;  // a sender the ledger counts as unexpected

std::string Fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

class LoadRun {
public:
    explicit LoadRun(const Options& options);
    int Run();

private:
    enum class Stage { kSetup, kMeasure, kProbes, kDone };

    bool Messages() const { return scenario_ == "fanout" || scenario_ == "rooms" || scenario_ == "latency"; }
    bool Joins() const { return Messages() || (scenario_ == "connect" && o_.join); }
    void Open(Client& c);
    void Close(Client& c);
    void Fail(Client& c, const std::string& why);
    void WantWrite(Client& c, bool write);
    void Send(Client& c, std::string request);
    void Flush(Client& c);
    void OnEvent(Client& c, std::uint32_t events);
    void Read(Client& c);
    bool ReadFrames(Client& c, std::size_t& start);
    void OnMessage(Client& c, std::string_view m);
    void OnDelivery(Client& c, std::string_view payload);
    void TrySend(std::uint32_t sender, std::int64_t now);
    void Transient(Kind kind);
    void StartMeasure(std::int64_t now);
    void Advance(std::int64_t now);
    int Report();

    const Options& o_;
    const std::string scenario_;
    const std::uint32_t members_;  // clients held for the run (none for churn)
    const bool ws_;                // WebSocket clients
    int epoll_ = -1;
    sockaddr_in server_{};
    std::deque<Client> clients_;  // the members first, then probe and churn slots
    std::vector<std::uint32_t> freeSlots_;
    std::uint32_t opened_ = 0, inSetup_ = 0, ready_ = 0, transients_ = 0, sourceTurn_ = 0, probesDone_ = 0;
    Stage stage_ = Stage::kSetup;
    DeliveryLedger ledger_;
    std::vector<std::int64_t> nextSend_;  // latency: when each sender's next text is due
    std::int64_t interval_ = 0, readNs_ = 0;
    Histogram latency_, setup_, probe_;
    std::uint64_t lost_ = 0, refused_ = 0, cycles_ = 0, nextCycle_ = 0;
    bool timedOut_ = false;
    std::string firstProblem_;
    std::int64_t startNs_ = 0, readyNs_ = 0, measureNs_ = 0, endNs_ = 0, stageEndNs_ = 0;
    ServerSample before_, after_;
    char chunk_[65536];
};

std::vector<std::uint32_t> Groups(const Options& o) {
    std::vector<std::uint32_t> group(o.clients, 0);
    if (o.scenario == "rooms") {
        for (std::uint32_t i = 0; i < o.clients; ++i) group[i] = i % o.rooms;
    }
    return group;
}

std::vector<bool> Senders(const Options& o) {
    std::vector<bool> sender(o.clients, false);
    for (std::uint32_t i = 0; i < o.clients; ++i) {
        sender[i] = o.scenario == "rooms" || ((o.scenario == "fanout" || o.scenario == "latency") && i < o.senders);
    }
    return sender;
}

LoadRun::LoadRun(const Options& options)
    : o_(options),
      scenario_(options.scenario),
      members_(options.scenario == "churn" ? 0 : options.clients),
      ws_(options.transport == "ws"),
      ledger_(Groups(options), Senders(options), options.messages) {
    for (std::uint32_t i = 0; i < members_; ++i) {
        Client& c = clients_.emplace_back();
        c.slot = i;
        c.nick = o_.nickPrefix + std::to_string(i);
        c.room = o_.roomPrefix + std::to_string(scenario_ == "rooms" ? i % o_.rooms : 0);
    }
}

void LoadRun::Open(Client& c) {
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    c.phase = Phase::kConnecting;
    c.notice = -1;
    c.upgraded = false;
    c.in.clear();
    c.out.clear();
    c.startNs = NowNs();
    if (c.fd < 0) return Fail(c, std::string("socket: ") + std::strerror(errno));
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (o_.sources > 1) {
        // The port is chosen at connect, per source address: many more connections fit.
        setsockopt(c.fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + sourceTurn_++ % o_.sources);
        if (bind(c.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return Fail(c, std::string("bind: ") + std::strerror(errno));
        }
    }
    if (connect(c.fd, reinterpret_cast<sockaddr*>(&server_), sizeof server_) != 0 && errno != EINPROGRESS) {
        return Fail(c, std::string("connect: ") + std::strerror(errno));
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT;  // writable: the connect has ended
    ev.data.u32 = c.slot;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev);
    c.writing = true;
}

void LoadRun::Close(Client& c) {
    if (c.fd < 0 && c.phase == Phase::kClosed) return;
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    if (c.kind != Kind::kMember) {
        --transients_;
        freeSlots_.push_back(c.slot);
    } else if (c.phase != Phase::kReady) {
        --inSetup_;
    }
    c.phase = Phase::kClosed;
}

// A connection lost or refused: the run has failed.
void LoadRun::Fail(Client& c, const std::string& why) {
    (c.kind == Kind::kMember && c.phase == Phase::kReady ? lost_ : refused_)++;
    if (firstProblem_.empty()) {
        firstProblem_ = (c.nick.empty() ? std::string("probe") : c.nick) + ": " + why;
        if (c.notice >= 0) firstProblem_ += " after the closing notice 15/0/" + std::to_string(c.notice);
    }
    Close(c);
}

void LoadRun::WantWrite(Client& c, bool write) {
    if (c.writing == write) return;
    epoll_event ev{};
    ev.events = EPOLLIN | (write ? EPOLLOUT : 0u);
    ev.data.u32 = c.slot;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
    c.writing = write;
}

void LoadRun::Send(Client& c, std::string request) {
    AppendMessage(c.out, request, ws_);
    Flush(c);
}

void LoadRun::Flush(Client& c) {
    std::size_t done = 0;
    while (done < c.out.size()) {
        const ssize_t n = send(c.fd, c.out.data() + done, c.out.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            return Fail(c, std::string("send: ") + std::strerror(errno));
        }
    }
    c.out.erase(0, done);
    WantWrite(c, !c.out.empty());
}

void LoadRun::OnEvent(Client& c, std::uint32_t events) {
    if (c.phase == Phase::kConnecting) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) return Fail(c, std::string("connect: ") + std::strerror(error));
        if (!(events & EPOLLOUT)) return;
        c.phase = Phase::kGreeting;
        WantWrite(c, false);
        if (ws_) {
            c.out += kUpgradeRequest;
            Flush(c);
            if (c.fd < 0) return;
        }
    } else if (events & EPOLLOUT) {
        Flush(c);
    }
    if (c.fd >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) Read(c);
}

void LoadRun::Read(Client& c) {
    bool ended = false;
    std::string why = "closed by the server";
    for (int turn = 0; turn < 4; ++turn) {  // then the others' turn
        const ssize_t n = recv(c.fd, chunk_, sizeof chunk_, 0);
        if (n > 0) {
            c.in.append(chunk_, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < sizeof chunk_) break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            if (n < 0) why = std::string("receive: ") + std::strerror(errno);
            ended = true;
            break;
        }
    }
    readNs_ = NowNs();
    std::size_t start = 0;
    if (!ws_) {
        for (std::size_t end; c.fd >= 0 && (end = c.in.find(nelv::protocol::kMessageTerminator, start)) != std::string::npos; start = end + 1) {
            OnMessage(c, std::string_view(c.in).substr(start, end - start));
        }
    } else if (!ReadFrames(c, start)) {
        return;
    }
    if (c.fd < 0) return;
    c.in.erase(0, start);
    if (ended) Fail(c, why);
}

// The 101 answer, then server frames: a binary one is a message, a close
// frame ends the connection. False once the connection has failed.
bool LoadRun::ReadFrames(Client& c, std::size_t& start) {
    if (!c.upgraded) {
        const std::size_t end = c.in.find("\r\n\r\n");
        if (end == std::string::npos) return true;
        if (c.in.rfind("HTTP/1.1 101 ", 0) != 0) {
            Fail(c, "no upgrade: " + c.in.substr(0, c.in.find('\r')));
            return false;
        }
        c.upgraded = true;
        start = end + 4;
    }
    while (c.fd >= 0 && c.in.size() - start >= 2) {
        const auto* b = reinterpret_cast<const unsigned char*>(c.in.data() + start);
        std::size_t length = b[1] & 0x7F, header = 2;
        if (length == 126) {
            if (c.in.size() - start < 4) break;
            length = (std::size_t{b[2]} << 8) | b[3];
            header = 4;
        } else if (length == 127) {
            if (c.in.size() - start < 10) break;
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | b[2 + i];
            header = 10;
        }
        if (c.in.size() - start < header + length) break;
        const std::string_view payload = std::string_view(c.in).substr(start + header, length);
        start += header + length;
        if ((b[0] & 0x0F) == 0x2) OnMessage(c, payload);
        if ((b[0] & 0x0F) == 0x8) {
            Fail(c, "closed by the server");
            return false;
        }
    }
    return true;
}

void LoadRun::OnMessage(Client& c, std::string_view m) {
    if (m.size() < nelv::protocol::kPayloadStart) return;
    const auto status = static_cast<std::uint8_t>(m[nelv::protocol::kStatusByte]);
    switch (static_cast<Command>(m[nelv::protocol::kCommandByte])) {
        case Command::kClose:
            c.notice = status;
            return;
        case Command::kServerInfo:  // 8/0/0, the greeting
            if (c.phase != Phase::kGreeting) return;
            if (c.kind == Kind::kProbe) {
                probe_.Add(static_cast<std::uint64_t>(readNs_ - c.startNs) / 1000);
                ++probesDone_;
                return Close(c);
            }
            c.phase = Phase::kLogin;
            return Send(c, nelv::client::Request(Command::kLogin, 0, nelv::protocol::JoinFields({c.nick, ""})));
        case Command::kLogin:
            if (c.phase != Phase::kLogin) return;
            if (status != nelv::protocol::kOk) return Fail(c, "login refused, status " + std::to_string(status));
            if (c.kind == Kind::kCycle) {
                setup_.Add(static_cast<std::uint64_t>(readNs_ - c.startNs) / 1000);
                ++cycles_;
                return Close(c);
            }
            if (Joins()) {
                c.phase = Phase::kJoin;
                return Send(c, nelv::client::Request(Command::kJoin, 0, c.room));
            }
            break;
        case Command::kJoin:
            if (c.phase != Phase::kJoin) return;
            if (status != nelv::protocol::kOk) return Fail(c, "join refused, status " + std::to_string(status));
            break;
        case Command::kRoomEvent:
            if (static_cast<std::uint8_t>(m[nelv::protocol::kSubCodeByte]) == nelv::protocol::kRoomMessage) {
                OnDelivery(c, m.substr(nelv::protocol::kPayloadStart));
            }
            return;
        default:
            return;  // user and room lists of everyone's comings and goings
    }
    c.phase = Phase::kReady;  // logged in, and in its room where it joins one
    --inSetup_;
    ++ready_;
    setup_.Add(static_cast<std::uint64_t>(readNs_ - c.startNs) / 1000);
}

// 14/1/0: value byte, then room, sender's nickname, its colour, text.
void LoadRun::OnDelivery(Client& c, std::string_view payload) {
    const auto f = nelv::protocol::SplitFields(payload.substr(payload.empty() ? 0 : 1), nelv::protocol::kFieldSeparator, 4, 4);
    const auto stamp = nelv::load::ReadStamp(f[3]);
    std::uint32_t sender = kNobody;
    if (stamp && stamp->sender < members_ && f[0] == c.room && f[1] == clients_[stamp->sender].nick) {
        sender = stamp->sender;
    }
    const auto outcome = ledger_.Record(c.slot, sender, stamp ? stamp->seq : 0);
    if (outcome == DeliveryLedger::Outcome::kDelivered || outcome == DeliveryLedger::Outcome::kCompleted) {
        latency_.Add(static_cast<std::uint64_t>(std::max<std::int64_t>(0, readNs_ - stamp->sentNs)) / 1000);
    }
    if (outcome == DeliveryLedger::Outcome::kCompleted) TrySend(sender, readNs_);
}

void LoadRun::TrySend(std::uint32_t sender, std::int64_t now) {
    Client& c = clients_[sender];
    bool sent = false;
    while (c.fd >= 0 && ledger_.CanSend(sender, o_.window)) {
        if (interval_ > 0) {
            if (now < nextSend_[sender]) break;
            nextSend_[sender] += interval_;
            if (nextSend_[sender] < now) nextSend_[sender] = now + interval_;  // late: keep the pace, no burst
        }
        const std::uint32_t seq = ledger_.Send(sender);
        const std::string text = nelv::load::StampText({sender, seq, NowNs()}, o_.textSize);
        AppendMessage(c.out, nelv::client::Request(Command::kRoomMessage, 0, nelv::protocol::JoinFields({c.room, text})),
                      ws_);
        sent = true;
    }
    if (sent) Flush(c);
}

void LoadRun::Transient(Kind kind) {
    std::uint32_t slot;
    if (freeSlots_.empty()) {
        slot = static_cast<std::uint32_t>(clients_.size());
        clients_.emplace_back().slot = slot;
    } else {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    }
    Client& c = clients_[slot];
    c.kind = kind;
    c.nick = kind == Kind::kCycle ? o_.nickPrefix + std::to_string(nextCycle_++) : "";
    ++transients_;
    Open(c);
}

void LoadRun::StartMeasure(std::int64_t now) {
    stage_ = Stage::kMeasure;
    readyNs_ = measureNs_ = now;
    if (scenario_ == "connect") {
        stageEndNs_ = now + static_cast<std::int64_t>(o_.hold * 1e9);
        return;  // its server figures cover the setup
    }
    before_ = SampleServer(o_.serverPid);
    if (scenario_ == "churn") stageEndNs_ = now + static_cast<std::int64_t>(o_.duration * 1e9);
    if (scenario_ == "latency") {
        interval_ = std::max<std::int64_t>(1, static_cast<std::int64_t>(1e9 / o_.rate));
        nextSend_.assign(members_, 0);
        for (std::uint32_t s = 0; s < o_.senders; ++s) nextSend_[s] = now + interval_ * s / o_.senders;
    }
    for (std::uint32_t s = 0; s < members_; ++s) TrySend(s, now);
}

void LoadRun::Advance(std::int64_t now) {
    if (lost_ + refused_ > 0) {
        stage_ = Stage::kDone;
        return;
    }
    switch (stage_) {
        case Stage::kSetup:
            while (opened_ < members_ && inSetup_ < o_.concurrency && lost_ + refused_ == 0) {
                ++inSetup_;
                Open(clients_[opened_++]);
            }
            if (ready_ == members_) StartMeasure(now);
            break;
        case Stage::kMeasure:
            if (Messages()) {
                for (std::uint32_t s = 0; interval_ > 0 && s < o_.senders; ++s) TrySend(s, now);
                if (ledger_.Complete()) stage_ = Stage::kDone;
            } else if (scenario_ == "connect") {
                if (now < stageEndNs_) break;
                after_ = SampleServer(o_.serverPid);
                stage_ = Stage::kProbes;
            } else if (now < stageEndNs_) {
                while (transients_ < o_.concurrency && lost_ + refused_ == 0) Transient(Kind::kCycle);
            } else if (transients_ == 0) {
                stage_ = Stage::kDone;
            }
            if (stage_ != Stage::kMeasure) endNs_ = now;
            break;
        case Stage::kProbes:
            if (probesDone_ == o_.probes) stage_ = Stage::kDone;
            else if (transients_ == 0) Transient(Kind::kProbe);
            break;
        case Stage::kDone:
            break;
    }
}

int LoadRun::Run() {
    nelv::load::RaiseFileLimit();
    const auto address = nelv::load::ServerAddress("nelv3load", o_.host, o_.port);
    if (!address) return 2;
    server_ = *address;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);

    std::printf("nelv3load %s against %s:%u: ", scenario_.c_str(), o_.host.c_str(), o_.port);
    if (scenario_ == "churn") {
        std::printf("%u cycles at a time for %g s\n", o_.concurrency, o_.duration);
    } else if (scenario_ == "connect") {
        std::printf("%u clients%s, held %g s, then %u probes\n", o_.clients, o_.join ? " in one room" : "", o_.hold,
                    o_.probes);
    } else {
        std::printf("%u clients in %u room(s), %u sender(s) with %u texts of %u bytes each, window %u\n", o_.clients,
                    scenario_ == "rooms" ? o_.rooms : 1, scenario_ == "rooms" ? o_.clients : o_.senders,
                    o_.messages, o_.textSize, o_.window);
    }
    std::fflush(stdout);

    before_ = SampleServer(o_.serverPid);
    startNs_ = NowNs();
    const std::int64_t deadline = startNs_ + static_cast<std::int64_t>(o_.timeout * 1e9);
    std::vector<epoll_event> events(1024);
    Advance(startNs_);
    while (stage_ != Stage::kDone) {
        const std::int64_t now = NowNs();
        if (now >= deadline) {
            timedOut_ = true;
            break;
        }
        std::int64_t wake = deadline;
        if (stage_ == Stage::kMeasure && stageEndNs_ > 0) wake = std::min(wake, stageEndNs_);
        for (std::uint32_t s = 0; stage_ == Stage::kMeasure && interval_ > 0 && s < o_.senders; ++s) {
            if (ledger_.CanSend(s, o_.window)) wake = std::min(wake, nextSend_[s]);
        }
        const int ms = static_cast<int>(std::clamp<std::int64_t>((wake - now + 999'999) / 1'000'000, 0, 1000));
        const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), ms);
        if (n < 0 && errno != EINTR) {
            firstProblem_ = std::string("epoll_wait: ") + std::strerror(errno);
            timedOut_ = true;
            break;
        }
        for (int i = 0; i < n; ++i) {
            Client& c = clients_[events[static_cast<std::size_t>(i)].data.u32];
            if (c.fd >= 0) OnEvent(c, events[static_cast<std::size_t>(i)].events);
        }
        Advance(NowNs());
    }
    if (endNs_ == 0) endNs_ = NowNs();
    if (readyNs_ == 0) readyNs_ = endNs_;
    if (measureNs_ == 0) measureNs_ = endNs_;
    const int status = Report();
    for (Client& c : clients_) {
        if (c.fd >= 0) close(c.fd);
    }
    close(epoll_);
    return status;
}

int LoadRun::Report() {
    const auto counts = ledger_.Counts();
    const bool ok = !timedOut_ && lost_ == 0 && refused_ == 0 && counts.missing == 0 && counts.duplicated == 0 &&
                    counts.reordered == 0 && counts.unexpected == 0;
    if (!after_.ok) after_ = SampleServer(o_.serverPid);
    std::string result = std::string("RESULT status=") + (ok ? "ok" : "fail") + " scenario=" + scenario_ +
                         " transport=" + o_.transport;
    auto key = [&](const char* name, const std::string& value) { result += std::string(" ") + name + "=" + value; };
    auto count = [&](const char* name, std::uint64_t value) { key(name, std::to_string(value)); };
    auto us = [](std::uint64_t value) { return std::to_string(value) + " us"; };
    const double measured = std::max(1e-9, Seconds(endNs_ - measureNs_));
    const double setupTime = std::max(1e-9, Seconds(readyNs_ - startNs_));
    const std::string setupSpread = "p50 " + us(setup_.Percentile(50)) + ", p99 " + us(setup_.Percentile(99));

    std::string text;
    if (scenario_ == "churn") {
        const std::string rate = Fixed(static_cast<double>(cycles_) / measured, 1);
        text += "cycles: " + std::to_string(cycles_) + " in " + Fixed(measured, 3) + " s = " + rate + "/s; " +
                setupSpread + "\n";
        count("concurrency", o_.concurrency);
        count("cycles", cycles_);
        key("conn_per_s", rate);
    } else {
        const std::string rate = Fixed(ready_ / setupTime, 1);
        text += "setup: " + std::to_string(ready_) + " of " + std::to_string(members_) + " clients ready in " +
                Fixed(setupTime, 3) + " s = " + rate + "/s; " + setupSpread + "\n";
        count("clients", members_);
        key("conn_per_s", rate);
    }
    count("setup_p50_us", setup_.Percentile(50));
    count("setup_p99_us", setup_.Percentile(99));
    if (Messages()) {
        const std::string rate = Fixed(static_cast<double>(counts.deliveries) / measured, 0);
        text += "deliveries: " + std::to_string(counts.deliveries) + " in " + Fixed(measured, 3) + " s = " + rate +
                "/s; missing " + std::to_string(counts.missing) + ", duplicated " + std::to_string(counts.duplicated) +
                ", reordered " + std::to_string(counts.reordered) + ", unexpected " +
                std::to_string(counts.unexpected) + "\n";
        text += "latency: p50 " + us(latency_.Percentile(50)) + ", p99 " + us(latency_.Percentile(99)) + ", max " +
                us(latency_.Max()) + "\n";
        count("senders", scenario_ == "rooms" ? o_.clients : o_.senders);
        count("rooms", scenario_ == "rooms" ? o_.rooms : 1);
        count("messages", o_.messages);
        count("deliveries", counts.deliveries);
        key("deliveries_per_s", rate);
        count("missing", counts.missing);
        count("duplicated", counts.duplicated);
        count("reordered", counts.reordered);
        count("unexpected", counts.unexpected);
        count("latency_p50_us", latency_.Percentile(50));
        count("latency_p99_us", latency_.Percentile(99));
        count("latency_max_us", latency_.Max());
    }
    if (scenario_ == "connect") {
        if (probesDone_ > 0) {
            text += "probes: " + std::to_string(probesDone_) + ", connect to greeting p50 " +
                    us(probe_.Percentile(50)) + ", max " + us(probe_.Max()) + "\n";
        }
        count("probes", probesDone_);
        count("probe_p50_us", probe_.Percentile(50));
        count("probe_max_us", probe_.Max());
    }
    count("lost", lost_);
    count("refused", refused_);
    count("timed_out", timedOut_ ? 1 : 0);
    key("elapsed_s", Fixed(Seconds(endNs_ - startNs_), 3));
    if (before_.ok && after_.ok) {
        // Per delivery, per held connection (setup and hold), or per churn cycle.
        const double cpu = after_.cpuS - before_.cpuS;
        const std::uint64_t units = Messages() ? counts.deliveries : scenario_ == "churn" ? cycles_ : ready_;
        const std::string per = Fixed(units > 0 ? cpu * 1e6 / static_cast<double>(units) : 0, 3);
        text += "server: " + Fixed(cpu, 2) + " s CPU = " + per + " us per " +
                (Messages() ? "delivery" : scenario_ == "churn" ? "cycle" : "connection") + "; RSS " +
                std::to_string(after_.rssKb) + " kB, peak " + std::to_string(after_.hwmKb) + " kB\n";
        key("srv_cpu_s", Fixed(cpu, 3));
        key(Messages() ? "srv_us_per_delivery" : "srv_us_per_conn", per);
        key("srv_rss_kb", std::to_string(after_.rssKb));
        key("srv_hwm_kb", std::to_string(after_.hwmKb));
        if (scenario_ == "connect" && ready_ > 0) {
            key("srv_kb_per_conn", Fixed(static_cast<double>(after_.rssKb - before_.rssKb) / ready_, 2));
        }
    } else if (o_.serverPid > 0) {
        text += "server: no figures from /proc/" + std::to_string(o_.serverPid) + "\n";
    }
    if (timedOut_) text += "problem: the time bound of " + Fixed(o_.timeout, 1) + " s was hit\n";
    if (!firstProblem_.empty()) {
        text += "problem: " + std::to_string(lost_) + " lost, " + std::to_string(refused_) +
                " refused; the first: " + firstProblem_ + "\n";
    }
    std::fputs((text + result + "\n").c_str(), stdout);
    std::fflush(stdout);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nelv3load: puts load on a running NELV 3-Server and reports how it coped, ending with a line "
                 "\"RESULT status=ok|fail key=value ...\". Exit status 0 ok, 1 failed, 2 wrong usage.",
                 "nelv3load"};
    Options o;
    auto option = [&](const char* name, auto& into, const char* help) {
        return app.add_option(name, into, help)->capture_default_str();
    };
    const auto positive = CLI::Range(1u, 10'000'000u);
    option("--host", o.host, "server address");
    option("--port", o.port, "server port");
    option("--scenario", o.scenario, "fanout, rooms, latency, connect or churn")
        ->check(CLI::IsMember({"fanout", "rooms", "latency", "connect", "churn"}));
    option("--clients", o.clients, "clients")->check(positive);
    option("--senders", o.senders, "clients that talk (fanout, latency)")->check(positive);
    option("--rooms", o.rooms, "rooms; client i is in room i % R and every client talks (rooms)")->check(positive);
    option("--messages", o.messages, "texts per sender")->check(positive);
    option("--window", o.window, "most texts of one sender not yet received by all")->check(positive);
    option("--rate", o.rate, "texts per second per sender (latency)")->check(CLI::PositiveNumber);
    option("--text-size", o.textSize, "bytes per text")->check(CLI::Range(1u, 60'000u));
    option("--concurrency", o.concurrency, "connects and logins under way at once")->check(positive);
    option("--hold", o.hold, "seconds to hold the connections (connect)")->check(CLI::NonNegativeNumber);
    option("--duration", o.duration, "seconds of cycles (churn)")->check(CLI::PositiveNumber);
    option("--sources", o.sources, "connect from 127.0.0.1 .. 127.0.0.N in turn")->check(CLI::Range(1u, 254u));
    option("--probes", o.probes, "fresh clients timed from connect to greeting after the hold (connect)");
    app.add_flag("--join", o.join, "the clients join one room (connect)");
    option("--server-pid", o.serverPid, "server process whose CPU time and memory to report")
        ->check(CLI::PositiveNumber);
    option("--transport", o.transport, "tcp, or ws: WebSocket clients on the server's web port (--port)")
        ->check(CLI::IsMember({"tcp", "ws"}));
    option("--timeout", o.timeout, "seconds the whole run may take")->check(CLI::PositiveNumber);
    option("--nick-prefix", o.nickPrefix, "nicknames are this and a number");
    option("--room-prefix", o.roomPrefix, "room names are this and a number");
    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3load", argc, argv)) return *code;

    std::string wrong;
    if (o.nickPrefix.empty() || o.nickPrefix.size() > 12 || !PlainBytes(o.nickPrefix)) {
        wrong = "--nick-prefix: 1 to 12 bytes, each above 0x20 and not 0xA0";
    } else if (o.roomPrefix.empty() || o.roomPrefix.size() > 64 || !PlainBytes(o.roomPrefix)) {
        wrong = "--room-prefix: 1 to 64 bytes, each above 0x20 and not 0xA0";
    } else if ((o.scenario == "fanout" || o.scenario == "latency") && o.senders > o.clients) {
        wrong = "--senders: at most --clients";
    } else if (o.scenario == "rooms" && o.rooms > o.clients) {
        wrong = "--rooms: at most --clients";
    }
    if (!wrong.empty()) {
        std::fprintf(stderr, "%s\nRun with --help for more information.\n", wrong.c_str());
        return 2;
    }
    return LoadRun(o).Run();
}
