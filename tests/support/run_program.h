// Runs one of the built programs as a child process and collects what it prints.
#pragma once

#include <string>
#include <vector>

#include "support/test_server.h"

namespace nelv::test {

struct ProgramRun {
    int code = -1;  // exit code, 128 + signal, or -1 when it was killed at the deadline
    std::string out, err;
};

// Runs the program in `dir` with the arguments and collects its output until it ends.
ProgramRun RunProgram(const std::string& program, std::vector<std::string> args, const std::string& dir,
                      Duration timeout = kStartTimeout);

}  // namespace nelv::test
