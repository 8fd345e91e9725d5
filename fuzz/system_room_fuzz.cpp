// The value of a system room entry: the colour is its six leading hex
// digits when exactly six come before the first comma, else white, and the
// topic is everything after that comma.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "chat/room.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const auto parsed = nelv::chat::ParseSystemRoomValue(value);
    const std::size_t comma = value.find(',');
    const std::string_view head = value.substr(0, comma);
    bool hex = head.size() == 6;
    for (char c : head) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
    FUZZ_CHECK(parsed.color == (hex ? std::string(head) : std::string("FFFFFF")));
    FUZZ_CHECK(parsed.topic == (comma == std::string_view::npos ? "" : std::string(value.substr(comma + 1))));
    return 0;
}
