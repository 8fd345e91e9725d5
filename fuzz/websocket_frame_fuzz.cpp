// Any bytes as WebSocket frames after an upgrade.
#include "fuzz/web_wire_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return web_fuzz::FeedWire(data, size, true);
}
