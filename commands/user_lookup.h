// User lookup (command 23): who is behind a nickname, from the online
// connection and the registered record. The idle-time arithmetic is kept
// apart from the handler so that it can be checked without a clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace nelv::commands {

// Seconds between two date-times (days), rounded half to even, or nothing
// when the result does not fit a signed 32-bit integer (or is not a number).
// The day is deliberately taken as a hair under 86400 seconds so that the
// figures match what clients of this server show; 86400 would differ.
std::optional<std::int32_t> IdleSeconds(double lastActivity, double now);

// The two console lines written when IdleSeconds gives nothing.
std::array<std::string, 2> IdleOverflowLines(double lastActivity, double now);

// The idle field of a lookup for a connection whose last message arrived at
// `lastActivity`, at `now`. On overflow the console lines are written and
// the field is "0"; the asker is not told.
std::string IdleSecondsText(double lastActivity, double now);

}  // namespace nelv::commands
