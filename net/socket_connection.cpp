#include "net/socket_connection.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "base/console.h"
#include "base/server_lock.h"
#include "net/address_rules.h"
#include "net/output_pump.h"
#include "net/receive_loop.h"

namespace nelv::net {
namespace {

std::atomic<std::uint64_t> g_nextId{1};

}  // namespace

TUser::TUser(OutputPump& pump)
    : pump_(pump), id_(g_nextId.fetch_add(1)), output_([this] { RoomForOutput(); }) {}
TUser::~TUser() {
    if (socket_ < 0) return;
    // Read off what the peer sent meanwhile: closing with unread input would
    // reset the connection and could destroy output the peer has not read.
    char scratch[4096];
    for (int i = 0; i < 64; ++i) {
        if (recv(socket_, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
    }
    close(socket_);
}

void TUser::Attach(int socket, std::uint32_t peerAddress) {
    socket_ = socket;
    peerAddress_ = peerAddress;
    peerText_ = AddressText(peerAddress);
}

void TUser::SendText(std::string_view data) {
    const OutputQueue::Appended queued = output_.Append(data, kMessageTerminator, kMaxPendingOutput);
    if (queued.overflowed) {
        MarkTerminated();
        shutdown(socket_, SHUT_RDWR);
    }
    if (queued.wakePump) {
        pump_.Wake(shared_from_this());
    } else if (queued.overflowed) {
        pump_.Wake(nullptr);  // the pump holds it already and must see it dead
    }
}

void TUser::Disconnect() {
    MarkTerminated();
    const OutputQueue::Closed closed = output_.Close(std::chrono::steady_clock::now() + kCloseGrace);
    if (closed == OutputQueue::Closed::kAlready) return;
    // Wakes the receive loop to let the connection go; the write side stays
    // open until the pump has written what is queued.
    shutdown(socket_, SHUT_RD);
    pump_.Wake(closed == OutputQueue::Closed::kNowWakePump ? shared_from_this() : nullptr);
}

void TUser::RoomForOutput() {
    if (loop_ == nullptr) return;
    if (auto self = weak_from_this().lock()) loop_->Resume(std::move(self));
}

TUser::Receiving TUser::Receive() {
    if (Terminated()) return Receiving::kEnded;
    // At most 1000 bytes per receive: every complete message of a chunk is
    // handled even when the connection ends meanwhile, so the chunk size
    // bounds what a connection can still get done after it was closed.
    char chunk[1000];
    ssize_t n = recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return Receiving::kWaiting;
    if (n < 1) {
        Disconnect();
        return Receiving::kEnded;
    }
    receiveBuffer_.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
    return HandleReceived();
}

TUser::Receiving TUser::HandleReceived() {
    for (;;) {
        if (!heldMessage_) heldMessage_ = receiveBuffer_.Next();
        if (!heldMessage_) break;
        // A client whose own output piles up is not read from until it has
        // read enough of it; other connections go on meanwhile.
        if (output_.HoldBack()) return Receiving::kHeld;
        std::string message = std::move(*heldMessage_);
        heldMessage_.reset();
        ServerLockGuard lock;
        try {
            HandleMessage(message);
        } catch (const std::exception& e) {
            ConsoleLine(std::string("WARNING: A message from ") + peerText_ + " could not be handled (" +
                        e.what() + "); connection closed.");
            Disconnect();
        } catch (...) {
            ConsoleLine(std::string("WARNING: A message from ") + peerText_ +
                        " could not be handled; connection closed.");
            Disconnect();
        }
    }
    if (receiveBuffer_.Overflowed()) {
        receiveBuffer_.Clear();
        Disconnect();
    }
    return Terminated() ? Receiving::kEnded : Receiving::kWaiting;
}

}  // namespace nelv::net
