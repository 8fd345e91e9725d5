#include "net/output_pump.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "net/socket_connection.h"

namespace nelv::net {

OutputPump::OutputPump() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev);
    std::thread([this] { Run(); }).detach();
}

void OutputPump::Wake(std::shared_ptr<TUser> user) {
    bool poke;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        poke = woken_.empty();
        if (user) {
            woken_.push_back(std::move(user));
        } else {
            poke = true;
        }
    }
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

void OutputPump::Run() {
    epoll_event events[256];
    std::vector<std::shared_ptr<TUser>> woken;
    std::vector<TUser*> ready;
    for (;;) {
        // Sleep until woken, writable, or the earliest close deadline.
        int timeoutMs = -1;
        auto now = OutputQueue::Clock::now();
        for (auto& [key, slot] : active_) {
            auto deadline = slot.user->Output().Deadline();
            if (!deadline) continue;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now);
            int ms = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
            if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms;
        }
        int n = epoll_wait(epoll_, events, 256, timeoutMs);
        ready.clear();
        for (int i = 0; i < n; ++i) {
            if (events[i].data.ptr == nullptr) {
                std::uint64_t count;
                [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
            } else {
                ready.push_back(static_cast<TUser*>(events[i].data.ptr));
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken.swap(woken_);
            busy_ = active_.size() + woken.size();
        }
        for (auto& user : woken) {
            TUser* key = user.get();
            active_[key].user = std::move(user);
            ready.push_back(key);
        }
        woken.clear();
        for (TUser* key : ready) {
            auto it = active_.find(key);
            if (it == active_.end()) continue;
            if (!Service(it->second)) active_.erase(it);
        }
        // Closing connections whose peer did not read in time are cut off.
        now = OutputQueue::Clock::now();
        for (auto it = active_.begin(); it != active_.end();) {
            auto deadline = it->second.user->Output().Deadline();
            if (deadline && now >= *deadline) {
                Finish(it->second, true);
                it = active_.erase(it);
            } else {
                ++it;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = active_.size();
            if (busy_ == 0 && woken_.empty()) idle_.notify_all();
        }
    }
}

}  // namespace nelv::net
