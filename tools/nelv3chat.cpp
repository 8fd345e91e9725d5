// nelv3chat: a terminal client for NELV 3-Server. On a terminal it reads
// commands with line editing and history; otherwise it reads them line by
// line and, at the end of its input, waits (at most 5 seconds) until the
// server has answered everything sent before it closes, so it can be
// scripted. Every message from the server is shown as one readable line;
// when the server closes the connection, the client ends.
#include <CLI/CLI.hpp>
#include <editline/readline.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/wire.h"
#include "tools/command_line.h"
#include "tools/chat/charset.h"
#include "tools/chat/client.h"

namespace {

class Connection {
public:
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }

    // Connects to host:port; an error text on failure.
    std::string Open(const std::string& host, std::uint16_t port) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
            return host + ": " + gai_strerror(rc);
        }
        std::string error = "cannot connect to " + host + ":" + std::to_string(port);
        for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
            int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
                fd_ = fd;
            } else if (fd >= 0) {
                error += std::string(": ") + std::strerror(errno);
                close(fd);
            }
        }
        freeaddrinfo(found);
        if (fd_ < 0) return error;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return {};
    }

    bool Send(const std::string& message) {
        std::string bytes = message + nelv::protocol::kMessageTerminator;
        std::lock_guard<std::mutex> lock(sendMutex_);
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Receives some bytes; false at the end of the stream.
    bool Receive(std::string& into) {
        char chunk[4096];
        for (;;) {
            ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            into.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    }

    void Shutdown() { shutdown(fd_, SHUT_RDWR); }

private:
    int fd_ = -1;
    std::mutex sendMutex_;
};

struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    int syncsPending = 0;
    bool closed = false;
    bool quitting = false;
};

// Lines in the terminal's character set.
void Print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::cout << nelv::client::FromWire(line) << '\n';
    std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // the terminal's character set, for line editing and conversion
    CLI::App app{"nelv3chat: a terminal client for NELV 3-Server. Type /help for the commands.", "nelv3chat"};
    std::string host = "127.0.0.1", nick, password;
    std::uint16_t port = nelv::protocol::kDefaultChatPort;
    app.add_option("--host", host, "server address")->capture_default_str();
    app.add_option("--port", port, "server port")->capture_default_str();
    app.add_option("--nick", nick, "log in at once under this nickname");
    app.add_option("--password", password, "the password of a registered nickname");
    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3chat", argc, argv)) return *code;

    Connection connection;
    if (std::string error = connection.Open(host, port); !error.empty()) {
        std::cerr << "nelv3chat: " << error << '\n';
        return 1;
    }
    const bool terminal = isatty(STDIN_FILENO);
    nelv::client::Session session(isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR"));
    Shared shared;

    std::thread reader([&] {
        std::string buffer;
        while (connection.Receive(buffer)) {
            for (std::size_t end; (end = buffer.find(nelv::protocol::kMessageTerminator)) != std::string::npos;) {
                const std::string message = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                std::lock_guard<std::mutex> lock(shared.mutex);
                if (shared.syncsPending > 0 && session.IsSyncAnswer(message)) {
                    --shared.syncsPending;
                    shared.changed.notify_all();
                    continue;
                }
                Print(session.Describe(message));
                for (const std::string& request : session.TakeFollowUps()) connection.Send(request);
            }
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.closed = true;
        shared.changed.notify_all();
        if (shared.quitting) return;
        // The server ended the session: so does the client, even while it
        // waits for input.
        Print({"! the connection is closed"});
        std::_Exit(0);
    });

    auto type = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(shared.mutex);
        const nelv::client::Typed typed = session.Type(nelv::client::ToWire(line));
        Print(typed.lines);
        for (const std::string& request : typed.requests) connection.Send(request);
        return !typed.quit && !shared.closed;
    };
    if (!nick.empty()) type("/nick " + nick + (password.empty() ? "" : " " + password));

    if (terminal) {
        while (char* raw = readline("> ")) {
            const std::string line(raw);
            std::free(raw);
            if (!line.empty()) add_history(line.c_str());
            if (!type(line)) break;
        }
    } else {
        for (std::string line; std::getline(std::cin, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!type(line)) break;
        }
    }

    // Everything sent is answered before the lookup that follows it is.
    {
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (!shared.closed) {
            ++shared.syncsPending;
            connection.Send(session.SyncRequest());
            shared.changed.wait_for(lock, std::chrono::seconds(5),
                                    [&] { return shared.closed || shared.syncsPending == 0; });
        }
        shared.quitting = true;
    }
    connection.Shutdown();
    reader.join();
    return 0;
}
