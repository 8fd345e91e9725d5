// EventLoop: the one thread that owns every socket of the server. Each turn
// it waits (epoll) for the listening socket, the connections, a signal or
// the next timer; receives one chunk from every readable connection; then
// handles the messages in hand, one of each connection in rotation (those
// that had none in hand before go first), so the messages of different
// clients interleave; runs the timers that are due; and at last
// writes each connection's output once. Writability is watched only for
// what a full socket left behind. Nothing here is safe from another thread
// except Stop.
#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace nelv::net {

class TUser;

// Something the loop watches: a descriptor and what its readiness means.
class Watched {
public:
    virtual void Ready(std::uint32_t events) = 0;

protected:
    ~Watched() = default;
};

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kMaxEvents = 256;
    // Messages handled between two looks for connections that became
    // readable meanwhile.
    static constexpr std::size_t kLookEvery = 16;
    // Messages one turn handles at most, and the time it spends handling
    // them; it spends at most that time again writing. What is left waits
    // for the next turn, so however many clients keep the loop busy, and
    // however many receivers one message has, no answer waits for more
    // than a few turns.
    static constexpr std::size_t kTurnMessages = 1024;
    static constexpr std::chrono::milliseconds kTurnTime{5};
    // Tests that count on whole turns set a longer one.
    void SetTurnTime(Clock::duration time) { turnTime_ = time; }
    // Messages of one connection a turn handles at most; the rest waits in
    // hand for the next turn, after this turn's output has left. So one
    // client's burst holds the others' answers back by at most this many of
    // its messages, not by its whole chunk.
    static constexpr std::size_t kTurnQuota = 32;
    // A connection with new messages after none in hand goes first: one
    // message of each such connection, in the order they arrived, before
    // the others go on in rotation. So a client that asks once in a while
    // is answered before those that keep thousands of requests in hand.
    // Such first messages take at most this many of a turn's messages, so
    // the rotation always moves.
    static constexpr std::size_t kFreshShare = kTurnMessages / 2;
    // Connections a turn ends (their leaving announced) and closes at most;
    // the ending also stops when kTurnTime has passed. When thousands go at
    // once, each one's leaving is told to those that stay, and their going
    // is spread over turns like their messages.
    static constexpr std::size_t kEndsPerTurn = 64;

    // Creates the epoll set. Check Error() before use.
    EventLoop();
    // Destroys every connection (closing its socket) without their
    // disconnect bookkeeping.
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // The errno of a failed set-up, or 0.
    int Error() const { return error_; }

    // Watches `fd` for `events` (epoll flags); `watched` must outlive the
    // watch. False with errno set when epoll refuses.
    bool Watch(int fd, std::uint32_t events, Watched& watched);
    bool Rewatch(int fd, std::uint32_t events, Watched& watched);
    void Unwatch(int fd);

    // Blocks `signals` for the calling thread (and the threads it starts)
    // and delivers them to `handler` in the loop. False with errno set on
    // failure.
    bool OnSignals(const sigset_t& signals, std::function<void()> handler);

    // Runs `task` on the loop once `when` has come.
    void At(Clock::time_point when, std::function<void()> task);

    // Takes over a connection whose socket is attached: watches it, then
    // runs its Started. A socket epoll refuses is closed with a warning.
    void Adopt(std::unique_ptr<TUser> user);

    // Runs turns until Stop, or until a drain has finished.
    void Run();
    // One turn, waiting at most `timeout` for something to do.
    void RunOnce(std::chrono::milliseconds timeout);
    // Ends Run after the current turn. Safe from any thread.
    void Stop();

    // Shutdown: no further message is handled, nothing more is accepted or
    // received, connections still open are disconnected without notice, and
    // Run returns once every connection's output has left or `deadline` has
    // passed. Disconnect bookkeeping is skipped.
    void Drain(Clock::time_point deadline);
    bool Draining() const { return draining_; }

    std::size_t Connections() const { return connections_.size(); }
    // The connection with identity `id`, or nullptr once it is gone.
    TUser* Find(std::uint64_t id) const;

    // Memory held by unsent output, all connections together (a message
    // shared by many counts once). Past the budget the connections with the
    // largest backlog caused by others are cut off first.
    static constexpr std::size_t kOutputBudget = 64 * 1024 * 1024;
    std::size_t OutputHeld() const { return outputHeld_; }
    void SetOutputBudget(std::size_t bytes) { outputBudget_ = bytes; }
    // Past half the budget, output is scarce: a connection whose queue is not
    // empty handles no further request of its own until it is. What clients
    // asked for themselves therefore stays near half the budget, plus one
    // answer for each connection, however many of them ask without reading.
    bool OutputScarce() const { return outputHeld_ > outputBudget_ / 2; }

    // Bytes received and not yet handled, all connections together; past the
    // budget the connection with the most is cut off first.
    static constexpr std::size_t kInputBudget = 32 * 1024 * 1024;
    std::size_t InputHeld() const { return inputHeld_; }
    void SetInputBudget(std::size_t bytes) { inputBudget_ = bytes; }

    // True while `user`'s own message is being handled.
    bool Handling(const TUser& user) const { return handling_ == &user; }
    class HandlingScope {
    public:
        HandlingScope(EventLoop& loop, TUser& user) : loop_(loop) { loop_.handling_ = &user; }
        ~HandlingScope() { loop_.handling_ = nullptr; }
        HandlingScope(const HandlingScope&) = delete;
        HandlingScope& operator=(const HandlingScope&) = delete;

    private:
        EventLoop& loop_;
    };

private:
    friend class TUser;

    // For connections.
    void MakeReady(TUser& user);
    void MakeDirty(TUser& user);
    void MakeEnding(TUser& user);
    void Reinterest(TUser& user);
    void Finish(TUser& user);

    int WaitMs() const;
    void Dispatch(int timeoutMs);
    void HandleRounds();
    // Both stop once `until` has passed; the rest waits for the next turn.
    void RunTimers(Clock::time_point until);
    void EndConnections(Clock::time_point until);
    void FlushDirty();
    void Bury();
    // Gives freed memory back to the system once an attack has gone.
    void GiveBack();
    void KeepBudget();
    void CountInput(TUser& user);

    struct Wakeup : Watched {
        int fd = -1;
        void Ready(std::uint32_t) override;
    };
    struct SignalWatch : Watched {
        int fd = -1;
        std::function<void()> handler;
        void Ready(std::uint32_t) override;
    };

    int error_ = 0;
    int epoll_ = -1;
    Wakeup wakeup_;
    SignalWatch signals_;
    std::atomic<bool> stop_{false};
    bool draining_ = false;
    Clock::time_point drainDeadline_{};

    std::unordered_map<std::uint64_t, std::unique_ptr<TUser>> connections_;
    std::deque<TUser*> fresh_;     // messages in hand after none: served first
    std::deque<TUser*> ready_;     // messages in hand, in rotation order
    std::vector<TUser*> dirty_;    // output queued this turn
    std::vector<TUser*> ending_;   // disconnected, bookkeeping still to do
    std::vector<TUser*> buried_;   // finished; freed at the end of a turn, kEndsPerTurn a turn
    std::deque<std::pair<Clock::time_point, std::uint64_t>> deadlines_;  // close deadlines, in order
    std::multimap<Clock::time_point, std::function<void()>> timers_;
    std::size_t handledThisTurn_ = 0;
    std::uint64_t turn_ = 0;
    TUser* handling_ = nullptr;
    std::size_t outputHeld_ = 0;
    std::size_t outputBudget_ = kOutputBudget;
    std::size_t inputHeld_ = 0;
    std::size_t inputBudget_ = kInputBudget;
    Clock::duration turnTime_ = kTurnTime;
    // The most held (output and input) and the most connections since
    // memory was last given back, and when that was.
    std::size_t peakHeld_ = 0;
    std::size_t peakConnections_ = 0;
    Clock::time_point gaveBack_{};
};

}  // namespace nelv::net
