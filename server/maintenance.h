// The minute's maintenance (idle sweep and CUI file) as a timer of the
// event loop, and the shutdown that tells every client and lets the loop
// write what is left.
#pragma once

#include <string>

#include "base/server_lock.h"
#include "chat/chat_state.h"

namespace nelv::net {
class EventLoop;
class TServer;
}  // namespace nelv::net

namespace nelv::server {

// Drops every connection idle for longer than the configured time-out at
// `now` (closing notice, status 11).
void IdleSweep(chat::ChatState& chat, double now) EXCLUDES(ServerLock);

// The CUI file text: "nickname colour" + CR LF per visible user.
std::string CuiText(chat::ChatState& chat) REQUIRES(ServerLock);

// The CUI file at its configured path (none when the path is empty).
class CuiFile {
public:
    explicit CuiFile(std::string path) : path_(std::move(path)) {}
    CuiFile(const CuiFile&) = delete;
    CuiFile& operator=(const CuiFile&) = delete;

    // Rewrites the file; warns on the console when it cannot be created.
    void Write(chat::ChatState& chat) EXCLUDES(ServerLock);

    // Deletes the file for good: later writes do nothing.
    void Retire();

private:
    const std::string path_;
    bool retired_ = false;
};

// One pass: the sweep, then the CUI file.
void MaintenancePass(chat::ChatState& chat, CuiFile& cui, double now) EXCLUDES(ServerLock);

// Runs a pass on `loop` at once, and again 60 seconds after each pass.
void ScheduleMaintenance(net::EventLoop& loop, chat::ChatState& chat, CuiFile& cui);

// Tells every client the server is going down (last connected first),
// stops the listeners (the web one, when there is one, quietly) and has the
// loop write what is queued; the loop's Run returns once that is done or the
// grace time is over. A second call does nothing.
void ShutdownHandler(chat::ChatState& chat, CuiFile& cui, net::TServer& listener, net::TServer* web,
                     net::EventLoop& loop) EXCLUDES(ServerLock);

}  // namespace nelv::server
