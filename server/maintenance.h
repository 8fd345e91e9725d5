// The maintenance loop (idle sweep and CUI file, once a minute) and the
// shutdown that tells every client and ends the process.
#pragma once

#include <mutex>
#include <string>

#include "base/server_lock.h"
#include "chat/chat_state.h"

namespace nelv::net {
class OutputPump;
class TServer;
}  // namespace nelv::net

namespace nelv::server {

// Drops every connection idle for longer than the configured time-out at
// `now` (closing notice, status 11).
void IdleSweep(chat::ChatState& chat, double now) EXCLUDES(ServerLock);

// The CUI file text: "nickname colour" + CR LF per visible user.
std::string CuiText(chat::ChatState& chat) REQUIRES(ServerLock);

// The CUI file at its configured path (none when the path is empty). A
// rewrite that is under way when the file is retired finishes first, so
// the file never comes back after shutdown deleted it.
class CuiFile {
public:
    explicit CuiFile(std::string path) : path_(std::move(path)) {}
    CuiFile(const CuiFile&) = delete;
    CuiFile& operator=(const CuiFile&) = delete;

    // Rewrites the file; warns on the console when it cannot be created.
    void Write(chat::ChatState& chat) EXCLUDES(ServerLock);

    // Deletes the file for good.
    void Retire();

private:
    const std::string path_;
    std::mutex mutex_;
    bool retired_ = false;  // guarded by mutex_
};

// One pass: the sweep, then the CUI file.
void MaintenancePass(chat::ChatState& chat, CuiFile& cui, double now) EXCLUDES(ServerLock);

// Runs a pass every 60 seconds, forever.
[[noreturn]] void MaintenanceLoop(chat::ChatState& chat, CuiFile& cui);

// Tells every client the server is going down, closes every connection,
// waits (briefly) for the notices to leave and ends the process with exit
// code 0.
[[noreturn]] void ShutdownHandler(chat::ChatState& chat, CuiFile& cui, net::TServer& listener,
                                  net::OutputPump& pump);

}  // namespace nelv::server
