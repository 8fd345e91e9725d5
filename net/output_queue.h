// OutputQueue: the unsent output of one connection and where its closing
// stands. Open: messages are queued. Closing: nothing new is taken, what is
// queued still leaves until the deadline. Dead: everything is dropped. It
// also knows whether the output pump holds the connection, so that exactly
// one wake-up brings it there, and whether the connection's input is held
// back until its output drains. Safe from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
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
    // output is back under the low mark (see HoldBack).
    static constexpr std::size_t kSoftMark = 256 * 1024;
    static constexpr std::size_t kLowMark = 64 * 1024;

    // `onRoom` is called, with the queue's lock held, when input that
    // HoldBack stopped may go on.
    explicit OutputQueue(std::function<void()> onRoom = {}) : onRoom_(std::move(onRoom)) {}

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

    // True when more than kSoftMark bytes are unsent: the connection's next
    // request must wait, and onRoom follows once at most kLowMark are left
    // or the queue is open no more. Checked before each request, so a
    // client that asks faster than it reads is held back by TCP instead of
    // being cut off.
    bool HoldBack();

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
    std::atomic<bool> held_{false};         // input waits for onRoom
    std::function<void()> onRoom_;

    std::size_t Unsent() const { return queued_.size() + writing_.load(); }  // mutex_ held
    void ReleaseIfRoom();  // mutex_ held
};

}  // namespace nelv::net
