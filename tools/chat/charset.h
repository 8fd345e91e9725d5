// Text between the terminal and the wire. The chat's text is Windows-1252
// bytes; the terminal's character set is the one of the current locale
// (LC_CTYPE). In the plain "C" locale bytes pass through unchanged, so
// scripts that feed raw bytes keep working.
#pragma once

#include <string>
#include <string_view>

namespace nelv::client {

// Typed text as Windows-1252; a character that has no byte there becomes '?'.
std::string ToWire(std::string_view typed);

// Windows-1252 text for the terminal; a character the terminal's set
// cannot show becomes '?'.
std::string FromWire(std::string_view bytes);

}  // namespace nelv::client
