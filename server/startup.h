// Process start-up: banner, configuration, welcome text, user database,
// listener and signal handling; then the event loop runs until a shutdown
// signal has been handled.
#pragma once

#include <string>

namespace nelv::server {

// Tells systemd, when it started the server as a notify service, that the
// server is ready, or that it stops. Does nothing elsewhere, or when the
// server was built without libsystemd.
void NotifyReady();
void NotifyStopping();

// The directory of the executable, with a trailing "/".
std::string ExecutableDir();

// Where the web client's files are when the configuration does not say:
// `web` beside the executable, `../web` when it runs from the build tree,
// else the folder it was installed to.
std::string DefaultWebRoot();

// Runs the server on `dataDir`, or on the executable's own directory when
// it is empty. Returns the exit code: 0 after a shutdown, 1 when the start
// failed.
int RunServer(const std::string& dataDir);

}  // namespace nelv::server
