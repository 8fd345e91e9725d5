// Console output: whole lines on standard output, flushed at once so a pipe
// sees every line when it happens. Safe from any thread.
#pragma once

#include <string_view>

namespace nelv {

void ConsoleLine(std::string_view line);

// Writes whatever is buffered; used right before the process ends.
void FlushConsole();

}  // namespace nelv
