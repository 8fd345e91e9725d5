// OutputQueue: the unsent output of one connection and where its closing
// stands. Open: messages are queued. Closing: nothing new is taken, what is
// queued still leaves until the deadline. Dead: everything is dropped. It
// also knows whether the output pump holds the connection, so that exactly
// one wake-up brings it there. Safe from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace nelv::net {

class OutputQueue {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { kOpen, kClosing, kDead };

    // Above the soft mark the connection's own requests wait until its
    // output is back under the low mark (see WaitForRoom).
    static constexpr std::size_t kSoftMark = 256 * 1024;
    static constexpr std::size_t kLowMark = 64 * 1024;

    struct Appended {
        bool wakePump = false;   // hand the connection to the pump
        bool overflowed = false; // past the limit: the queue is dead now
    };
    // Queues `message` and then `terminator`, unless closing or dead. When
    // the unsent output would exceed `limit`, everything is dropped instead
    // and the queue is dead.
    Appended Append(std::string_view message, char terminator, std::size_t limit);

    enum class Closed { kAlready, kNow, kNowWakePump };
    // Starts closing; what is queued may leave until `deadline`. Only the
    // first call has an effect.
    Closed Close(Clock::time_point deadline);

    // Blocks while more than kSoftMark bytes are unsent, until at most
    // kLowMark are left or the queue is open no more. The connection's own
    // thread calls it before each request, so a client that asks faster
    // than it reads is held back by TCP instead of being cut off.
    void WaitForRoom();

    // --- For the pump -------------------------------------------------------
    enum class Next { kWrite, kIdle, kFinish };
    // Called when the batch in hand is written: kWrite puts the next bytes
    // into `batch`; kIdle means nothing waits and the pump lets the
    // connection go (a later Append wakes it again); kFinish means the
    // close can be completed now.
    Next Refill(std::string& batch);
    // Bytes of the batch in hand still unwritten.
    void Progress(std::size_t unwritten);
    // Output failed or the close is done: everything is dropped from now on.
    void Kill();
    // The close deadline, while closing.
    std::optional<Clock::time_point> Deadline() const;

    State state() const;

private:
    mutable std::mutex mutex_;
    State state_ = State::kOpen;        // guarded by mutex_
    std::string queued_;                // guarded by mutex_
    bool inPump_ = false;               // guarded by mutex_
    Clock::time_point deadline_{};      // guarded by mutex_
    std::atomic<std::size_t> writing_{0};  // unwritten bytes of the pump's batch
    std::atomic<bool> waiting_{false};      // a WaitForRoom is under way
    std::condition_variable room_;          // signalled when output drains or the state changes

    std::size_t Unsent() const { return queued_.size() + writing_.load(); }  // mutex_ held
    void WakeWaiter();  // mutex_ held
};

}  // namespace nelv::net
