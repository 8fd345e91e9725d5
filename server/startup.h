// Process start-up: banner, configuration, welcome text, user database,
// listener, signal handling, then the maintenance loop. Returns only with
// the exit code of a failed start.
#pragma once

#include <string>

namespace nelv::server {

// The directory of the executable, with a trailing "/".
std::string ExecutableDir();

// Runs the server. argv[1], when given, names the data directory to use
// instead of the executable's own.
int RunServer(int argc, char** argv);

}  // namespace nelv::server
