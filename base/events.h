// Events worth a line in the event log (connections, logins). Every layer
// reports through LogEvent; the server layer installs the sink that writes
// the log file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace nelv {

// Records one event. Never fails towards the caller. Safe from any thread.
void LogEvent(std::string_view text);

// Installs where events go; without a sink they are dropped.
void SetEventSink(std::function<void(std::string_view)> sink);

// Client text as it may appear in a log line: every byte below 0x20 is
// written as \xHH so one event always stays one line.
std::string LogSafe(std::string_view clientText);

}  // namespace nelv
