// The maintenance loop (idle sweep and CUI file, once a minute) and the
// shutdown that tells every client and ends the process.
#pragma once

#include <string>

#include "base/server_lock.h"

namespace nelv::net {
class TServer;
}

namespace nelv::server {

// Drops every connection idle for longer than the configured time-out at
// `now` (closing notice, status 11).
void IdleSweep(double now) EXCLUDES(ServerLock);

// The CUI file text: "nickname colour" + CR LF per visible user.
std::string CuiText() REQUIRES(ServerLock);

// Rewrites the CUI file, when one is configured.
void WriteCuiFile() EXCLUDES(ServerLock);

// One pass: the sweep, then the CUI file.
void MaintenancePass(double now) EXCLUDES(ServerLock);

// Runs a pass every 60 seconds, forever.
[[noreturn]] void MaintenanceLoop();

// Tells every client the server is going down, closes every connection,
// and ends the process with exit code 0.
[[noreturn]] void ShutdownHandler(net::TServer& listener);

}  // namespace nelv::server
