// A process's memory and CPU time as /proc tells them, for the load tools
// to report what a run cost the server (and themselves).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace nelv::load {

// A process's memory (KiB), its CPU time and the time it was ready to run
// but waited for a CPU (all its threads), from /proc.
struct ServerSample {
    bool ok = false;
    long rssKb = 0, hwmKb = 0;
    double cpuS = 0, waitS = 0;
};

inline ServerSample SampleServer(int pid) {
    ServerSample s;
    if (pid <= 0) return s;
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream status(dir + "/status");
    for (std::string key; status >> key; status.ignore(1 << 16, '\n')) {
        if (key == "VmRSS:") status >> s.rssKb;
        if (key == "VmHWM:") status >> s.hwmKb;
    }
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(dir + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        long long ran = 0, waited = 0;
        if (stat >> ran >> waited) {
            s.cpuS += static_cast<double>(ran) / 1e9;
            s.waitS += static_cast<double>(waited) / 1e9;
        }
    }
    s.ok = s.rssKb > 0;
    return s;
}

}  // namespace nelv::load
