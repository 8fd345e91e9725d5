// What the load tools do before their first connection: use every
// descriptor the system allows, and find the server's IPv4 address.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace nelv::load {

inline void RaiseFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// The address of `host` at `port`; nothing (said on stderr as `program`) when it has none.
inline std::optional<sockaddr_in> ServerAddress(const std::string& program, const std::string& host,
                                                std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0 || !found) {
        std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), host.c_str(), gai_strerror(rc));
        return std::nullopt;
    }
    sockaddr_in address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    address.sin_port = htons(port);
    freeaddrinfo(found);
    return address;
}

}  // namespace nelv::load
