#include "net/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/console.h"

namespace nelv::net {

TServer::TServer(EventLoop& loop, Factory factory) : loop_(loop), factory_(std::move(factory)) {}

TServer::~TServer() {
    if (listenSocket_ >= 0) {
        loop_.Unwatch(listenSocket_);
        close(listenSocket_);
    }
    if (spareFd_ >= 0) close(spareFd_);
}

int TServer::Create(std::uint16_t port, const std::string& bindTo) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return errno;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bindTo != "*") {
        // What is no IPv4 address (the broadcast address included, which
        // the classic conversion uses as its error value) cannot be bound.
        in_addr parsed{};
        if (inet_aton(bindTo.c_str(), &parsed) == 0 || parsed.s_addr == INADDR_NONE) {
            close(fd);
            return EADDRNOTAVAIL;
        }
        address.sin_addr = parsed;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, SOMAXCONN) != 0 || !loop_.Watch(fd, EPOLLIN, *this)) {
        int error = errno;
        close(fd);
        return error;
    }
    listenSocket_ = fd;
    spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    return 0;
}

std::uint16_t TServer::Port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void TServer::Stop(bool announce) {
    if (listenSocket_ < 0) return;
    if (!paused_) loop_.Unwatch(listenSocket_);
    close(listenSocket_);
    listenSocket_ = -1;
    if (announce) ConsoleLine("Server has been shutdown");
}

void TServer::Ready(std::uint32_t) {
    for (int i = 0; i < kAcceptsPerTurn && listenSocket_ >= 0; ++i) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &length,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (!Accepted(errno)) return;
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &TUser::kSendBuffer, sizeof TUser::kSendBuffer);
        std::unique_ptr<TUser> user = factory_();
        user->Attach(fd, peer.sin_addr.s_addr);
        if (web_) user->ServeWeb(*web_);
        loop_.Adopt(std::move(user));
    }
}

bool TServer::Accepted(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK) return false;
    if (error == EINTR || error == ECONNABORTED) return true;
    ConsoleLine("An error occured while accepting a connection (Code " + std::to_string(error) + ").");
    if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) return true;
    if ((error == EMFILE || error == ENFILE) && spareFd_ >= 0) {
        // Out of descriptors: refuse the waiting connection with the spare
        // descriptor instead of failing on it again and again.
        close(spareFd_);
        int fd = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) close(fd);
        spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
        return false;
    }
    // Nothing to give up: stop watching for a moment rather than spin.
    paused_ = true;
    loop_.Unwatch(listenSocket_);
    loop_.At(EventLoop::Clock::now() + kOutOfDescriptorsPause, [this] {
        paused_ = false;
        if (listenSocket_ >= 0 && !loop_.Watch(listenSocket_, EPOLLIN, *this)) {
            ConsoleLine("An error occured while accepting a connection (Code " + std::to_string(errno) +
                        ").");
        }
    });
    return false;
}

}  // namespace nelv::net
