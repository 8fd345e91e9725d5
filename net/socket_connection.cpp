#include "net/socket_connection.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "base/console.h"
#include "base/server_lock.h"
#include "net/address_rules.h"
#include "net/output_pump.h"

namespace nelv::net {
namespace {

std::atomic<std::uint64_t> g_nextId{1};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kThreadStack = 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kThreadStack = 1024 * 1024;
#else
constexpr std::size_t kThreadStack = 256 * 1024;
#endif
#else
constexpr std::size_t kThreadStack = 256 * 1024;
#endif

void* ConnectionThreadMain(void* arg) {
    auto* holder = static_cast<std::shared_ptr<TUser>*>(arg);
    std::shared_ptr<TUser> user = std::move(*holder);
    delete holder;
    user->Execute();
    return nullptr;
}

}  // namespace

TUser::TUser(OutputPump& pump) : pump_(pump), id_(g_nextId.fetch_add(1)) {}

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
    // Wakes the connection's own thread if it waits in receive; the write
    // side stays open until the pump has written what is queued.
    shutdown(socket_, SHUT_RD);
    pump_.Wake(closed == OutputQueue::Closed::kNowWakePump ? shared_from_this() : nullptr);
}

void TUser::Execute() { ReceiveLoop(); }

void TUser::ReceiveLoop() {
    // At most 1000 bytes per receive: every complete message of a chunk is
    // handled even when the connection ends meanwhile, so the chunk size
    // bounds what a connection can still get done after it was closed.
    char chunk[1000];
    for (;;) {
        ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) {
            Disconnect();
        } else {
            receiveBuffer_.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
            while (auto message = receiveBuffer_.Next()) {
                // A client whose own output piles up waits here, unlocked,
                // until it has read enough of it.
                output_.WaitForRoom();
                ServerLockGuard lock;
                try {
                    HandleMessage(*message);
                } catch (const std::exception& e) {
                    ConsoleLine(std::string("WARNING: A message from ") + peerText_ +
                                " could not be handled (" + e.what() + "); connection closed.");
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
        }
        if (Terminated()) return;
    }
}

int StartConnectionThread(std::shared_ptr<TUser> user) {
    pthread_attr_t attr;
    if (int rc = pthread_attr_init(&attr)) return rc;
    pthread_attr_setstacksize(&attr, kThreadStack);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto* holder = new std::shared_ptr<TUser>(std::move(user));
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, ConnectionThreadMain, holder);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        user = std::move(*holder);
        delete holder;
    }
    return rc;
}

}  // namespace nelv::net
