#include "net/event_loop.h"

#include <malloc.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/console.h"
#include "net/socket_connection.h"

namespace nelv::net {

EventLoop::EventLoop() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        error_ = errno;
        return;
    }
    wakeup_.fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeup_.fd < 0 || !Watch(wakeup_.fd, EPOLLIN, wakeup_)) error_ = errno;
}

EventLoop::~EventLoop() {
    connections_.clear();
    if (signals_.fd >= 0) close(signals_.fd);
    if (wakeup_.fd >= 0) close(wakeup_.fd);
    if (epoll_ >= 0) close(epoll_);
}

bool EventLoop::Watch(int fd, std::uint32_t events, Watched& watched) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = &watched;
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool EventLoop::Rewatch(int fd, std::uint32_t events, Watched& watched) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = &watched;
    return epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void EventLoop::Unwatch(int fd) { epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); }

void EventLoop::Wakeup::Ready(std::uint32_t) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd, &count, sizeof count);
}

bool EventLoop::OnSignals(const sigset_t& signals, std::function<void()> handler) {
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
    signals_.fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals_.fd < 0) return false;
    signals_.handler = std::move(handler);
    return Watch(signals_.fd, EPOLLIN, signals_);
}

void EventLoop::SignalWatch::Ready(std::uint32_t) {
    signalfd_siginfo info;
    bool arrived = false;
    while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) arrived = true;
    if (arrived && handler) handler();
}

void EventLoop::At(Clock::time_point when, std::function<void()> task) {
    timers_.emplace(when, std::move(task));
}

void EventLoop::Adopt(std::unique_ptr<TUser> owned) {
    TUser& user = *owned;
    user.loop_ = this;
    user.output_.CountIn(outputHeld_);
    connections_.emplace(user.Id(), std::move(owned));
    user.watched_ = EPOLLIN;
    if (!Watch(user.Handle(), EPOLLIN, user)) {
        ConsoleLine("WARNING: The connection from " + user.PeerText() + " could not be served (Code " +
                    std::to_string(errno) + "); connection closed.");
        user.watched_ = 0;
        user.phase_ = TUser::Phase::kDead;
        user.ended_ = true;
        Finish(user);
        return;
    }
    if (user.web_) {
        user.CheckIdle();  // the chat begins at the upgrade, if ever
        return;
    }
    // A refused connection has done its own leaving.
    user.started_ = user.Started();
    if (!user.started_) user.ended_ = true;
}

TUser* EventLoop::Find(std::uint64_t id) const {
    auto it = connections_.find(id);
    return it == connections_.end() || it->second->finished_ ? nullptr : it->second.get();
}

void EventLoop::Stop() {
    stop_.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeup_.fd, &one, sizeof one);
}

void EventLoop::Drain(Clock::time_point deadline) {
    draining_ = true;
    drainDeadline_ = deadline;
    for (auto& [id, user] : connections_) user->Disconnect();
}

void EventLoop::Run() {
    while (!stop_.load()) {
        RunOnce(std::chrono::milliseconds(WaitMs()));
        if (draining_ && (connections_.empty() || Clock::now() >= drainDeadline_)) break;
    }
}

void EventLoop::RunOnce(std::chrono::milliseconds timeout) {
    handledThisTurn_ = 0;
    Dispatch(static_cast<int>(timeout.count()));
    HandleRounds();
    // Timers and endings share one turn's time.
    const auto until = Clock::now() + turnTime_;
    RunTimers(until);
    EndConnections(until);
    KeepBudget();
    FlushDirty();
    Bury();
    GiveBack();
}

int EventLoop::WaitMs() const {
    if (!fresh_.empty() || !ready_.empty() || !ending_.empty() || !buried_.empty() || !dirty_.empty()) return 0;
    std::optional<Clock::time_point> next;
    auto consider = [&next](Clock::time_point t) {
        if (!next || t < *next) next = t;
    };
    if (!timers_.empty() && !draining_) consider(timers_.begin()->first);
    if (!deadlines_.empty()) consider(deadlines_.front().first);
    if (draining_) consider(drainDeadline_);
    if (!next) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

void EventLoop::Dispatch(int timeoutMs) {
    epoll_event events[kMaxEvents];
    int n = epoll_wait(epoll_, events, kMaxEvents, timeoutMs);
    for (int i = 0; i < n; ++i) static_cast<Watched*>(events[i].data.ptr)->Ready(events[i].events);
}

void EventLoop::HandleRounds() {
    const auto until = Clock::now() + turnTime_;
    ++turn_;
    std::size_t sinceLook = 0;
    std::size_t freshTaken = 0;
    std::vector<TUser*> spent;  // quota used: they go on next turn, behind the others
    while (!draining_ && handledThisTurn_ < kTurnMessages) {
        if (freshTaken >= kFreshShare && !fresh_.empty()) {
            ready_.insert(ready_.end(), fresh_.begin(), fresh_.end());
            fresh_.clear();
        }
        std::deque<TUser*>& from = fresh_.empty() ? ready_ : fresh_;
        if (from.empty()) break;
        if (&from == &fresh_) ++freshTaken;
        TUser* user = from.front();
        from.pop_front();
        if (user->quotaTurn_ != turn_) {
            user->quotaTurn_ = turn_;
            user->quotaUsed_ = 0;
        }
        if (user->quotaUsed_ >= kTurnQuota) {
            spent.push_back(user);
            continue;
        }
        if (user->HandleNext() != TUser::Handled::kOne) {
            user->ready_ = false;
            Reinterest(*user);  // input is taken again
            continue;
        }
        ready_.push_back(user);
        ++user->quotaUsed_;
        ++handledThisTurn_;
        KeepBudget();
        if (Clock::now() >= until) break;
        if (++sinceLook >= kLookEvery && handledThisTurn_ < kTurnMessages) {
            sinceLook = 0;
            Dispatch(0);
        }
    }
    ready_.insert(ready_.end(), spent.begin(), spent.end());
    if (draining_) {
        for (TUser* user : fresh_) user->ready_ = false;
        for (TUser* user : ready_) user->ready_ = false;
        fresh_.clear();
        ready_.clear();
    }
}

void EventLoop::RunTimers(Clock::time_point until) {
    const auto now = Clock::now();
    // Timers that are due when the turn's time is up run in the next turn.
    // A shutdown keeps only the close deadlines.
    while (!draining_ && !timers_.empty() && timers_.begin()->first <= now && Clock::now() < until) {
        auto task = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        task();
    }
    // Closing connections whose peer did not read in time are cut off.
    while (!deadlines_.empty() && deadlines_.front().first <= now && (draining_ || Clock::now() < until)) {
        auto it = connections_.find(deadlines_.front().second);
        deadlines_.pop_front();
        if (it != connections_.end()) it->second->CutOff();
    }
}

void EventLoop::EndConnections(Clock::time_point until) {
    std::vector<TUser*> later;
    std::size_t done = 0;
    bool full = false;  // this turn has done its share
    // Bookkeeping may end further connections (a member whose output
    // overflows); they join the list and are ended in the same pass, or in
    // the next turns once this one has done its share.
    for (std::size_t i = 0; i < ending_.size(); ++i) {
        TUser* user = ending_[i];
        if (user->finished_) continue;
        if (!draining_ && (full || user->ready_ || user->next_)) {
            later.push_back(user);  // the rest of its chunk is handled first
            continue;
        }
        user->ending_ = false;
        if (!user->ended_) {
            user->ended_ = true;
            if (!draining_ && user->started_) user->Ended();
        }
        if (user->output_.Empty() || user->phase_ == TUser::Phase::kDead) Finish(*user);
        full = ++done >= kEndsPerTurn || Clock::now() >= until;
    }
    ending_.swap(later);
}

void EventLoop::FlushDirty() {
    // Flushing can cut connections off, but never makes new output. Answers
    // go first and all of them: a client that asked waits for its answer,
    // or for its queue to drain before its next request is handled, while
    // news for thousands may wait a turn. The rest is written until the
    // time is up, and what is left comes first in the next turn.
    const auto answers = std::stable_partition(dirty_.begin(), dirty_.end(), [](const TUser* user) {
        return user->held_ || user->output_.Unsent() > user->output_.OthersUnsent();
    });
    const auto mustDo = static_cast<std::size_t>(answers - dirty_.begin());
    const auto until = Clock::now() + turnTime_;
    std::size_t done = 0;
    while (done < dirty_.size() && (done <= mustDo || Clock::now() < until)) {
        TUser* user = dirty_[done++];
        user->dirty_ = false;
        user->FlushQueued();
    }
    dirty_.erase(dirty_.begin(), dirty_.begin() + static_cast<std::ptrdiff_t>(done));
}

void EventLoop::KeepBudget() {
    if (outputHeld_ <= outputBudget_) return;
    // A message shared by many counts until its last holder lets go, so one
    // cut-off may give nothing back: the list is ranked once, not per cut.
    std::vector<std::pair<std::size_t, TUser*>> backlogs;
    for (auto& [id, user] : connections_) {
        const std::size_t backlog = user->output_.OthersUnsent();
        if (backlog > 0) backlogs.emplace_back(backlog, user.get());
    }
    std::sort(backlogs.begin(), backlogs.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second->Id() < b.second->Id();
    });
    // What is left over answers the clients' own requests.
    for (std::size_t i = 0; i < backlogs.size() && outputHeld_ > outputBudget_; ++i) backlogs[i].second->CutOff();
}

void EventLoop::CountInput(TUser& user) {
    const std::size_t pending = user.finished_ ? 0 : user.PendingInput();
    inputHeld_ = inputHeld_ - user.inputCounted_ + pending;
    user.inputCounted_ = pending;
    while (inputHeld_ > inputBudget_) {
        TUser* largest = nullptr;
        for (auto& [id, other] : connections_) {
            if (largest == nullptr || other->inputCounted_ > largest->inputCounted_) largest = other.get();
        }
        if (largest == nullptr || largest->inputCounted_ == 0) return;
        // Handled like a partial message over its own bound.
        largest->input_.Clear();
        largest->next_.reset();
        if (largest->web_) largest->web_->Drop();
        CountInput(*largest);
        largest->Disconnect();
    }
}

void EventLoop::Bury() {
    // Closing a socket reads off what the peer still sent, so many at once
    // are spread over turns. One still listed for writing waits until the
    // list has let go of it.
    std::size_t freed = 0;
    std::size_t kept = 0;
    for (TUser* user : buried_) {
        if (freed < kEndsPerTurn && !user->dirty_) {
            connections_.erase(user->Id());
            ++freed;
        } else {
            buried_[kept++] = user;
        }
    }
    buried_.resize(kept);
}

void EventLoop::GiveBack() {
    const std::size_t held = outputHeld_ + inputHeld_;
    peakHeld_ = std::max(peakHeld_, held);
    peakConnections_ = std::max(peakConnections_, connections_.size());
    // The allocator keeps what was freed for reuse, so after thousands of
    // connections or megabytes of queues have gone the process would stay
    // at its peak. Once most of it is gone, the free pages go back, at most
    // once a second and only in a turn without requests: giving back a
    // large heap takes tens of milliseconds, which nobody should wait for.
    if (handledThisTurn_ > 0 || !fresh_.empty() || !ready_.empty()) return;
    constexpr std::size_t kMuchHeld = 16 * 1024 * 1024;
    constexpr std::size_t kManyConnections = 1000;
    const bool heldWent = peakHeld_ >= kMuchHeld && held <= peakHeld_ / 8;
    const bool connectionsWent =
        peakConnections_ >= kManyConnections && connections_.size() <= peakConnections_ / 2;
    if (!heldWent && !connectionsWent) return;
    const auto now = Clock::now();
    if (now - gaveBack_ < std::chrono::seconds(1)) return;
    gaveBack_ = now;
    malloc_trim(0);
    peakHeld_ = held;
    peakConnections_ = connections_.size();
}

void EventLoop::MakeReady(TUser& user) {
    if (user.ready_ || user.finished_) return;
    user.ready_ = true;
    fresh_.push_back(&user);
}

void EventLoop::MakeDirty(TUser& user) {
    user.dirty_ = true;
    dirty_.push_back(&user);
}

void EventLoop::MakeEnding(TUser& user) {
    if (user.ending_ || user.ended_) {
        return;
    }
    user.ending_ = true;
    ending_.push_back(&user);
    if (user.phase_ == TUser::Phase::kClosing) {
        deadlines_.emplace_back(Clock::now() + TUser::kCloseGrace, user.Id());
    }
}

void EventLoop::Reinterest(TUser& user) {
    if (user.finished_) return;
    const std::uint32_t wanted = user.Interest();
    if (wanted == user.watched_) return;
    if (!Rewatch(user.Handle(), wanted, user)) {
        ConsoleLine("WARNING: The connection from " + user.PeerText() + " could not be served (Code " +
                    std::to_string(errno) + "); connection closed.");
        user.watched_ = 0;
        user.CutOff();
        return;
    }
    user.watched_ = wanted;
}

void EventLoop::Finish(TUser& user) {
    if (user.finished_) return;
    user.finished_ = true;
    CountInput(user);
    // The socket is closed at the end of this turn or a later one (see
    // Bury); until then the loop is not told about it.
    Unwatch(user.Handle());
    user.watched_ = 0;
    if (user.phase_ == TUser::Phase::kDead) {
        // Cut off: a reset, so nothing of what is left reaches the peer.
        linger lg{1, 0};
        setsockopt(user.Handle(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    shutdown(user.Handle(), SHUT_RDWR);
    buried_.push_back(&user);
}

}  // namespace nelv::net
