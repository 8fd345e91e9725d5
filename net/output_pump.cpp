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

void OutputPump::Finish(TUser& user, bool abortive) {
    if (user.pollingOut_) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, user.socket_, nullptr);
        user.pollingOut_ = false;
    }
    if (abortive) {
        linger lg{1, 0};
        setsockopt(user.socket_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    shutdown(user.socket_, SHUT_RDWR);
    {
        std::lock_guard<std::mutex> lock(user.outMutex_);
        user.dead_ = user.closing_ = true;
        std::string().swap(user.queued_);
        user.writingRemain_.store(0, std::memory_order_relaxed);
    }
    std::string().swap(user.writing_);
    user.writeOffset_ = 0;
    user.terminated_.store(true, std::memory_order_release);
}

bool OutputPump::Service(TUser& user) {
    for (;;) {
        if (user.writeOffset_ >= user.writing_.size()) {
            user.writing_.clear();
            user.writeOffset_ = 0;
            bool closing;
            {
                std::lock_guard<std::mutex> lock(user.outMutex_);
                if (user.dead_) {
                    closing = true;
                } else if (user.queued_.empty()) {
                    user.writingRemain_.store(0, std::memory_order_relaxed);
                    if (!user.closing_) {
                        user.inPump_ = false;
                        if (user.pollingOut_) {
                            epoll_ctl(epoll_, EPOLL_CTL_DEL, user.socket_, nullptr);
                            user.pollingOut_ = false;
                        }
                        return false;
                    }
                    closing = true;
                } else {
                    user.writing_.swap(user.queued_);
                    user.writingRemain_.store(user.writing_.size(), std::memory_order_relaxed);
                    closing = false;
                }
            }
            if (closing) {
                // Everything is out (or output failed): finish the close. The
                // connection keeps inPump_ set so it never comes back.
                Finish(user, false);
                return false;
            }
        }
        const char* data = user.writing_.data() + user.writeOffset_;
        std::size_t remain = user.writing_.size() - user.writeOffset_;
        ssize_t n = send(user.socket_, data, remain, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            user.writeOffset_ += static_cast<std::size_t>(n);
            user.writingRemain_.store(user.writing_.size() - user.writeOffset_,
                                      std::memory_order_relaxed);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!user.pollingOut_) {
                epoll_event ev{};
                ev.events = EPOLLOUT;
                ev.data.ptr = &user;
                epoll_ctl(epoll_, EPOLL_CTL_ADD, user.socket_, &ev);
                user.pollingOut_ = true;
            }
            return true;
        }
        // The peer is gone: drop the output and wake the connection's thread.
        Finish(user, true);
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
        auto now = std::chrono::steady_clock::now();
        for (auto& [ptr, user] : active_) {
            std::lock_guard<std::mutex> lock(user->outMutex_);
            if (!user->closing_) continue;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(user->closeDeadline_ - now);
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
            active_.emplace(key, std::move(user));
            ready.push_back(key);
        }
        woken.clear();
        for (TUser* key : ready) {
            auto it = active_.find(key);
            if (it == active_.end()) continue;
            if (!Service(*it->second)) active_.erase(it);
        }
        // Closing connections whose peer did not read in time are cut off.
        now = std::chrono::steady_clock::now();
        for (auto it = active_.begin(); it != active_.end();) {
            bool expired;
            {
                std::lock_guard<std::mutex> lock(it->second->outMutex_);
                expired = it->second->closing_ && now >= it->second->closeDeadline_;
            }
            if (expired) {
                Finish(*it->second, true);
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
