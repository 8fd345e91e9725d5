#include "base/console.h"

#include <cstdio>
#include <mutex>

namespace nelv {
namespace {
std::mutex& ConsoleMutex() {
    static std::mutex m;
    return m;
}
}  // namespace

void ConsoleLine(std::string_view line) {
    std::lock_guard<std::mutex> lock(ConsoleMutex());
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void FlushConsole() {
    std::lock_guard<std::mutex> lock(ConsoleMutex());
    std::fflush(stdout);
}

}  // namespace nelv
