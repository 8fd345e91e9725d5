// Any bytes as HTTP requests on the web port.
#include "fuzz/web_wire_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return web_fuzz::FeedWire(data, size, false);
}
