#include "net/receive_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

#include "net/output_pump.h"
#include "net/socket_connection.h"

namespace nelv::net {

ReceiveLoop::ReceiveLoop(OutputPump& pump) : pump_(pump) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev);
    std::thread([this] { Run(); }).detach();
}

void ReceiveLoop::Adopt(std::shared_ptr<TUser> user) { Post(Posted::kAdopt, std::move(user)); }

void ReceiveLoop::Resume(std::shared_ptr<TUser> user) { Post(Posted::kResume, std::move(user)); }

void ReceiveLoop::Post(Posted what, std::shared_ptr<TUser> user) {
    bool poke;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        poke = posted_.empty();
        posted_.emplace_back(what, std::move(user));
    }
    if (poke) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

void ReceiveLoop::Watch(TUser& user) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.ptr = &user;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, user.Handle(), &ev);
}

void ReceiveLoop::Serve(TUser* key, bool resumed) {
    auto it = users_.find(key);
    if (it == users_.end()) return;
    TUser& user = *it->second;
    switch (resumed ? user.Resume() : user.Receive()) {
        case TUser::Receiving::kWaiting:
            if (resumed) Watch(user);
            return;
        case TUser::Receiving::kHeld:
            // Not read from until its output has drained; a socket left in
            // the set would wake the loop for nothing.
            if (!resumed) epoll_ctl(epoll_, EPOLL_CTL_DEL, user.Handle(), nullptr);
            return;
        case TUser::Receiving::kEnded:
            break;
    }
    if (!resumed) epoll_ctl(epoll_, EPOLL_CTL_DEL, user.Handle(), nullptr);
    std::shared_ptr<TUser> ended = std::move(it->second);
    users_.erase(it);
    ended->Ended();
}

void ReceiveLoop::Run() {
    epoll_event events[256];
    std::vector<std::pair<Posted, std::shared_ptr<TUser>>> posted;
    for (;;) {
        int n = epoll_wait(epoll_, events, 256, -1);
        // What this turn makes leaves when it ends (see OutputPump::Batch).
        OutputPump::Batch batch(pump_);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.ptr == nullptr) {
                std::uint64_t count;
                [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
                continue;
            }
            Serve(static_cast<TUser*>(events[i].data.ptr), false);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted.swap(posted_);
        }
        for (auto& [what, user] : posted) {
            TUser* key = user.get();
            if (what == Posted::kResume) {
                Serve(key, true);
                continue;
            }
            user->ServedBy(*this);
            if (!user->Started()) continue;
            users_.emplace(key, std::move(user));
            Watch(*key);
        }
        posted.clear();
    }
}

}  // namespace nelv::net
