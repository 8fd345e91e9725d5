#include "net/socket_connection.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>

#include "base/console.h"
#include "net/address_rules.h"

namespace nelv::net {
namespace {

std::atomic<std::uint64_t> g_nextId{1};

}  // namespace

TUser::TUser() : id_(g_nextId.fetch_add(1)) {}

TUser::~TUser() {
    if (socket_ < 0) return;
    if (phase_ != Phase::kDead) {
        // Read off what the peer sent meanwhile: closing with unread input
        // would reset the connection and could destroy output the peer has
        // not read yet.
        char scratch[4096];
        for (std::size_t read = 0; read < kReadOffOnClose; read += sizeof scratch) {
            if (recv(socket_, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
        }
    }
    close(socket_);
}

void TUser::Attach(int socket, std::uint32_t peerAddress) {
    socket_ = socket;
    peerAddress_ = peerAddress;
    peerText_ = AddressText(peerAddress);
}

void TUser::ServeWeb(const WebSettings& settings) { web_ = std::make_unique<WebWire>(settings, peerAddress_); }

void TUser::SendText(std::string_view data) {
    if (phase_ != Phase::kOpen) return;
    const bool others = loop_ == nullptr || !loop_->Handling(*this);
    if (web_) {
        output_.AppendRaw(WebFrameHeader(0x2, data.size()), others);
        output_.AppendRaw(data, others);
    } else {
        output_.Append(data, kMessageTerminator, others);
    }
    Queued();
}

void TUser::SendShared(const SharedMessage& message) {
    if (phase_ != Phase::kOpen) return;
    const bool others = loop_ == nullptr || !loop_->Handling(*this);
    if (web_) {
        output_.AppendFramed(message, others);
    } else {
        output_.Append(message, others);
    }
    Queued();
}

void TUser::Queued() {
    if (!dirty_ && loop_ != nullptr) loop_->MakeDirty(*this);
}

void TUser::WatchSlow() {
    if (slowWatch_ || loop_ == nullptr) return;
    slowWatch_ = true;
    loop_->At(EventLoop::Clock::now() + kSlowGrace, [loop = loop_, id = id_, written = output_.BytesWritten()] {
        if (TUser* user = loop->Find(id)) user->CheckSlow(written);
    });
}

void TUser::CheckSlow(std::uint64_t written) {
    slowWatch_ = false;
    if (phase_ == Phase::kDead || output_.OthersUnsent() <= kMaxPendingOutput) return;
    if (output_.BytesWritten() - written < kSlowPace) {
        CutOff();  // it has not kept up for the whole grace
    } else {
        WatchSlow();
    }
}

void TUser::Disconnect() {
    if (phase_ != Phase::kOpen) return;
    if (web_) {
        // A web client is told with a close frame after the last message.
        const std::string goodbye = web_->Goodbye();
        if (!goodbye.empty()) {
            output_.AppendRaw(goodbye, false);
            Queued();
            if (phase_ != Phase::kOpen) return;
        }
    }
    phase_ = Phase::kClosing;
    if (loop_ == nullptr) return;
    loop_->MakeEnding(*this);
    // The socket stays watched for input until input actually comes (see
    // Ready): most closing connections are finished within the turn, and
    // the close of the socket takes it out of the epoll set anyway.
    if (held_) Release();
}

void TUser::CutOff() {
    if (phase_ == Phase::kDead) return;
    const bool wasOpen = phase_ == Phase::kOpen;
    phase_ = Phase::kDead;
    output_.Clear();
    blocked_ = false;
    if (loop_ == nullptr) return;
    if (wasOpen) loop_->MakeEnding(*this);
    if (held_) {
        Release();
    } else {
        loop_->Reinterest(*this);
    }
    if (ended_) loop_->Finish(*this);
}

void TUser::Release() {
    held_ = false;
    loop_->Reinterest(*this);
    loop_->MakeReady(*this);
}

std::uint32_t TUser::Interest() const {
    std::uint32_t events = 0;
    if (phase_ == Phase::kOpen && !held_ && !ready_) events |= EPOLLIN;
    if (blocked_ && phase_ != Phase::kDead) events |= EPOLLOUT;
    return events;
}

void TUser::Ready(std::uint32_t events) {
    if (finished_) return;
    const bool gone = (events & (EPOLLERR | EPOLLHUP)) != 0;
    if (blocked_ && ((events & EPOLLOUT) != 0 || gone)) Flush();
    if (finished_) return;
    if ((events & EPOLLIN) != 0 || gone) {
        if (Eligible()) {
            Receive();
        } else if (gone && held_ && phase_ == Phase::kOpen) {
            // Nothing more can reach the peer; without this the hang-up
            // would be reported again on every turn.
            Disconnect();
        } else if ((watched_ & EPOLLIN) != 0) {
            // Input is not taken now (closing, or messages still in hand):
            // stop being told about it until it is.
            loop_->Reinterest(*this);
        }
    }
}

void TUser::Receive() {
    char chunk[kReceiveChunk];
    ssize_t n = recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 1) {
        Disconnect();
        return;
    }
    if (web_) {
        TakeWeb(std::string_view(chunk, static_cast<std::size_t>(n)));
        return;
    }
    input_.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
    loop_->MakeReady(*this);
    loop_->CountInput(*this);
}

// What the web wire asks of its connection.
class TUser::WebSink : public WebWire::Sink {
public:
    explicit WebSink(TUser& user) : user_(user) {}
    void Emit(std::string_view bytes) override {
        if (user_.phase_ != Phase::kOpen) return;
        user_.output_.AppendRaw(bytes, false);
        user_.Queued();
    }
    bool Upgraded(std::uint32_t address) override {
        user_.peerAddress_ = address;
        user_.peerText_ = AddressText(address);
        user_.started_ = user_.Started();
        if (!user_.started_) user_.ended_ = true;
        return user_.started_;
    }
    void Message(std::string_view message) override {
        user_.input_.Feed(message);
        user_.input_.Feed(std::string_view(&kMessageTerminator, 1));
    }
    void Close() override { user_.Disconnect(); }
    std::size_t Unsent() const override { return user_.output_.Unsent(); }

private:
    TUser& user_;
};

void TUser::TakeWeb(std::string_view chunk) {
    WebSink sink(*this);
    web_->Take(chunk, sink, kSoftMark);
    loop_->MakeReady(*this);
    loop_->CountInput(*this);
    if (phase_ == Phase::kOpen && web_->Waiting() && !held_) {
        // Requests wait in the socket until the responses have left.
        held_ = true;
        loop_->Reinterest(*this);
    }
}

void TUser::CheckIdle() {
    if (phase_ != Phase::kOpen) return;
    switch (web_->CheckIdle(WebWire::Clock::now())) {
        case WebWire::Idle::kPing: {
            WebSink sink(*this);
            sink.Emit(WebFrame(0x9, {}));
            break;
        }
        case WebWire::Idle::kClose:
            Disconnect();
            return;
        case WebWire::Idle::kNothing:
            break;
    }
    loop_->At(EventLoop::Clock::now() + kIdleCheck, [loop = loop_, id = id_] {
        if (TUser* user = loop->Find(id)) user->CheckIdle();
    });
}

std::size_t TUser::PendingInput() const { return input_.Pending() + (web_ ? web_->Pending() : 0); }

TUser::Handled TUser::HandleNext() {
    if (web_ && !web_->Upgraded()) {
        if (phase_ == Phase::kOpen && web_->Waiting() && !held_) TakeWeb({});
        return Handled::kNone;
    }
    if (!next_) {
        next_ = input_.Next();
        if (next_) loop_->CountInput(*this);
    }
    if (!next_) {
        if (input_.Overflowed()) {
            input_.Clear();
            loop_->CountInput(*this);
            Disconnect();
        }
        return Handled::kNone;
    }
    if (phase_ == Phase::kOpen &&
        (output_.Unsent() > kSoftMark || (output_.Unsent() > 0 && loop_->OutputScarce()))) {
        held_ = true;
        loop_->Reinterest(*this);
        return Handled::kHeld;
    }
    std::string message = std::move(*next_);
    next_.reset();
    EventLoop::HandlingScope scope(*loop_, *this);
    try {
        HandleMessage(message);
    } catch (const std::exception& e) {
        ConsoleLine("WARNING: A message from " + peerText_ + " could not be handled (" + e.what() +
                    "); connection closed.");
        Disconnect();
    } catch (...) {
        ConsoleLine("WARNING: A message from " + peerText_ + " could not be handled; connection closed.");
        Disconnect();
    }
    return Handled::kOne;
}

void TUser::FlushQueued() {
    if (!blocked_) {
        Flush();
    } else if (output_.OthersUnsent() > kMaxPendingOutput && phase_ != Phase::kDead) {
        WatchSlow();
    }
}

void TUser::Flush() {
    if (phase_ == Phase::kDead || finished_) return;
    switch (output_.WriteTo(socket_)) {
        case OutputQueue::Written::kAll:
            if (blocked_) {
                blocked_ = false;
                loop_->Reinterest(*this);
            }
            if (held_) Release();
            if (phase_ == Phase::kClosing && ended_) loop_->Finish(*this);
            return;
        case OutputQueue::Written::kBlocked:
            if (!blocked_) {
                blocked_ = true;
                loop_->Reinterest(*this);
            }
            if (output_.OthersUnsent() > kMaxPendingOutput) WatchSlow();
            if (held_ && output_.Unsent() <= kLowMark && !loop_->OutputScarce()) Release();
            return;
        case OutputQueue::Written::kFailed:
            CutOff();
            return;
    }
}

}  // namespace nelv::net
