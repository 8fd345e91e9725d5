#include "net/output_pump.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <thread>

#include "net/socket_connection.h"

namespace nelv::net {
namespace {

// The batch open on this thread, and the wake-ups collected in it.
struct OpenBatch {
    OutputPump* pump = nullptr;
    std::vector<std::shared_ptr<TUser>> woken;
};
thread_local OpenBatch t_batch;

}  // namespace

OutputPump::OutputPump() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev);
    std::thread([this] { Run(); }).detach();
}

OutputPump::Batch::Batch(OutputPump& pump) : pump_(pump) {
    if (t_batch.pump == nullptr) t_batch.pump = &pump;
}

OutputPump::Batch::~Batch() {
    if (t_batch.pump != &pump_) return;
    t_batch.pump = nullptr;
    if (!t_batch.woken.empty()) pump_.WriteNow(t_batch.woken);
}

void OutputPump::Wake(std::shared_ptr<TUser> user) {
    if (user && t_batch.pump == this) {
        t_batch.woken.push_back(std::move(user));
        return;
    }
    std::vector<Handed> one;
    if (user) one.push_back(Handed{std::move(user), {}});
    Hand(one);
}

void OutputPump::WriteNow(std::vector<std::shared_ptr<TUser>>& users) {
    std::vector<Handed> left;
    std::string batch;
    for (auto& user : users) {
        OutputQueue& output = user->Output();
        for (;;) {
            OutputQueue::Next next = output.Refill(batch);
            if (next == OutputQueue::Next::kIdle) break;  // all out: the pump never sees it
            if (next == OutputQueue::Next::kFinish) {
                left.push_back(Handed{std::move(user), {}});
                break;
            }
            ssize_t n = send(user->Handle(), batch.data(), batch.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
            output.Progress(batch.size() - sent);
            if (sent == batch.size()) continue;
            // The socket is full (or failed): the pump takes over, starting
            // with what this write left.
            left.push_back(Handed{std::move(user), batch.substr(sent)});
            break;
        }
    }
    users.clear();
    if (!left.empty()) Hand(left);
}

void OutputPump::Hand(std::vector<Handed>& users) {
    bool poke;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The first hand-over after the pump took the list wakes it; an
        // empty one always does (a connection it holds died).
        poke = woken_.empty() || users.empty();
        for (auto& user : users) woken_.push_back(std::move(user));
    }
    users.clear();
    if (poke) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

bool OutputPump::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return woken_.empty() && busy_ == 0; });
}

void OutputPump::Finish(Slot& slot, bool abortive) {
    TUser& user = *slot.user;
    if (slot.pollingOut) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, user.Handle(), nullptr);
        slot.pollingOut = false;
    }
    if (abortive) {
        linger lg{1, 0};
        setsockopt(user.Handle(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    shutdown(user.Handle(), SHUT_RDWR);
    user.Output().Kill();
    std::string().swap(slot.batch);
    slot.offset = 0;
    user.MarkTerminated();
}

bool OutputPump::Service(Slot& slot) {
    TUser& user = *slot.user;
    for (;;) {
        if (slot.offset >= slot.batch.size()) {
            slot.offset = 0;
            switch (user.Output().Refill(slot.batch)) {
                case OutputQueue::Next::kWrite:
                    break;
                case OutputQueue::Next::kIdle:
                    if (slot.pollingOut) {
                        epoll_ctl(epoll_, EPOLL_CTL_DEL, user.Handle(), nullptr);
                        slot.pollingOut = false;
                    }
                    return false;
                case OutputQueue::Next::kFinish:
                    // Everything is out (or output failed): finish the close.
                    Finish(slot, false);
                    return false;
            }
        }
        const char* data = slot.batch.data() + slot.offset;
        std::size_t remain = slot.batch.size() - slot.offset;
        ssize_t n = send(user.Handle(), data, remain, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            slot.offset += static_cast<std::size_t>(n);
            user.Output().Progress(slot.batch.size() - slot.offset);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!slot.pollingOut) {
                epoll_event ev{};
                ev.events = EPOLLOUT;
                ev.data.ptr = &user;
                epoll_ctl(epoll_, EPOLL_CTL_ADD, user.Handle(), &ev);
                slot.pollingOut = true;
            }
            return true;
        }
        // The peer is gone: drop the output and wake the connection's thread.
        Finish(slot, true);
        return false;
    }
}

int OutputPump::NextDeadlineMs() {
    int timeoutMs = -1;
    auto now = OutputQueue::Clock::now();
    for (auto& [key, slot] : active_) {
        auto deadline = slot.user->Output().Deadline();
        if (!deadline) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now);
        int ms = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
        if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms;
    }
    return timeoutMs;
}

void OutputPump::CutOffLate() {
    // Closing connections whose peer did not read in time are cut off.
    auto now = OutputQueue::Clock::now();
    for (auto it = active_.begin(); it != active_.end();) {
        auto deadline = it->second.user->Output().Deadline();
        if (deadline && now >= *deadline) {
            Finish(it->second, true);
            it = active_.erase(it);
        } else {
            ++it;
        }
    }
}

void OutputPump::ServiceKey(TUser* key) {
    auto it = active_.find(key);
    if (it == active_.end()) return;
    if (!Service(it->second)) active_.erase(it);
}

void OutputPump::Run() {
    // A round writes every connection with output once; it goes in slices,
    // and between two slices the pump takes in new work.
    constexpr std::size_t kSlice = 64;
    constexpr auto kSweepEvery = std::chrono::milliseconds(50);
    epoll_event events[256];
    std::vector<Handed> woken;
    std::deque<TUser*> pending;
    auto lastSweep = OutputQueue::Clock::now();
    for (;;) {
        // Sleep until woken, writable, or the earliest close deadline.
        int n = epoll_wait(epoll_, events, 256, pending.empty() ? NextDeadlineMs() : 0);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.ptr == nullptr) {
                std::uint64_t count;
                [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
            } else {
                pending.push_back(static_cast<TUser*>(events[i].data.ptr));
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken.swap(woken_);
            busy_ = active_.size() + woken.size();
        }
        for (auto& handed : woken) {
            TUser* key = handed.user.get();
            Slot& slot = active_[key];
            slot.user = std::move(handed.user);
            if (!handed.rest.empty()) {
                slot.batch = std::move(handed.rest);
                slot.offset = 0;
            }
            pending.push_back(key);
        }
        woken.clear();
        for (std::size_t i = 0; i < kSlice && !pending.empty(); ++i) {
            TUser* key = pending.front();
            pending.pop_front();
            ServiceKey(key);
        }
        auto now = OutputQueue::Clock::now();
        if (pending.empty() || now - lastSweep >= kSweepEvery) {
            CutOffLate();
            lastSweep = now;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = active_.size();
            if (busy_ == 0 && woken_.empty()) idle_.notify_all();
        }
    }
}

}  // namespace nelv::net
