#include "net/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "base/console.h"

namespace nelv::net {

int TServer::Create(std::uint16_t port, const std::string& bindTo, Factory factory, ReceiveLoop& loop,
                    std::function<void()> onStart) {
    factory_ = std::move(factory);
    loop_ = &loop;
    onStart_ = std::move(onStart);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
        listen(fd, SOMAXCONN) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    listenSocket_ = fd;
    spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::thread([this] { Execute(); }).detach();
    return 0;
}

void TServer::Stop() {
    terminated_.store(true);
    shutdown(listenSocket_, SHUT_RDWR);  // wakes the thread waiting in accept
}

void TServer::AcceptFailed(int error) {
    if (terminated_.load()) return;
    if ((error == EMFILE || error == ENFILE) && spareFd_ >= 0) {
        // Out of descriptors: refuse the waiting connection with the spare
        // descriptor instead of spinning on the same failure.
        close(spareFd_);
        int fd = accept(listenSocket_, nullptr, nullptr);
        if (fd >= 0) close(fd);
        spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ConsoleLine("An error occured while accepting a connection (Code " + std::to_string(error) +
                    ").");
        return;
    }
    if (error == EINTR || error == ECONNABORTED) return;
    ConsoleLine("An error occured while accepting a connection (Code " + std::to_string(error) +
                ").");
    if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        // No spare descriptor to help: wait a moment rather than spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void TServer::Execute() {
    if (onStart_) onStart_();
    while (!terminated_.load()) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            AcceptFailed(errno);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::shared_ptr<TUser> user = factory_();
        user->Attach(fd, peer.sin_addr.s_addr);
        loop_->Adopt(std::move(user));
    }
    close(listenSocket_);
    ConsoleLine("Server has been shutdown");
}

}  // namespace nelv::net
