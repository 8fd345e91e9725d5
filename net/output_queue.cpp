#include "net/output_queue.h"

namespace nelv::net {

OutputQueue::Appended OutputQueue::Append(std::string_view message, char terminator, std::size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    Appended result;
    if (state_ != State::kOpen) return result;
    queued_.append(message);
    queued_.push_back(terminator);
    if (queued_.size() + writing_.load(std::memory_order_relaxed) > limit) {
        state_ = State::kDead;
        std::string().swap(queued_);
        result.overflowed = true;
        ReleaseIfRoom();
    }
    if (!inPump_) {
        inPump_ = true;
        result.wakePump = true;
    }
    return result;
}

OutputQueue::Closed OutputQueue::Close(Clock::time_point deadline) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kOpen) return Closed::kAlready;
    state_ = State::kClosing;
    deadline_ = deadline;
    ReleaseIfRoom();
    if (inPump_) return Closed::kNow;
    inPump_ = true;
    return Closed::kNowWakePump;
}

OutputQueue::Next OutputQueue::Refill(std::string& batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.clear();
    if (state_ == State::kDead) return Next::kFinish;
    if (queued_.empty()) {
        writing_.store(0);
        ReleaseIfRoom();
        if (state_ == State::kClosing) return Next::kFinish;
        inPump_ = false;
        return Next::kIdle;
    }
    batch.swap(queued_);
    writing_.store(batch.size(), std::memory_order_relaxed);
    return Next::kWrite;
}

void OutputQueue::Kill() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The pump keeps inPump_ set, so a dead connection never comes back to it.
    state_ = State::kDead;
    std::string().swap(queued_);
    writing_.store(0, std::memory_order_relaxed);
    ReleaseIfRoom();
}

bool OutputQueue::HoldBack() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kOpen || Unsent() <= kSoftMark) return false;
    // Progress stores the pump's count before it reads held_, and this side
    // sets held_ before it reads the count again (both sequentially
    // consistent), so one of the two always sees the other.
    held_.store(true);
    if (Unsent() > kLowMark) return true;
    held_.store(false);
    return false;
}

void OutputQueue::Progress(std::size_t unwritten) {
    writing_.store(unwritten);
    if (!held_.load()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ReleaseIfRoom();
}

void OutputQueue::ReleaseIfRoom() {
    if (!held_.load()) return;
    if (state_ == State::kOpen && Unsent() > kLowMark) return;
    held_.store(false);
    if (onRoom_) onRoom_();
}

std::optional<OutputQueue::Clock::time_point> OutputQueue::Deadline() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kClosing) return std::nullopt;
    return deadline_;
}

OutputQueue::State OutputQueue::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

}  // namespace nelv::net
