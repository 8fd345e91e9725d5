// Client text as it may appear in a log or console line.
#pragma once

#include <string>
#include <string_view>

namespace nelv {

// Every byte below 0x20 is written as \xHH, so one event always stays one line.
std::string LogSafe(std::string_view clientText);

}  // namespace nelv
