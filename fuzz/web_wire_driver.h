// What both web fuzz targets share: a sink that checks what the wire hands
// on, and a driver that feeds it any bytes in any chunking. The wire never
// holds more than its limits allow, every message it hands on is within the
// message limit, and once closed it stays silent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/web_wire.h"

namespace web_fuzz {

struct Sink : nelv::net::WebWire::Sink {
    std::size_t emitted = 0;
    bool closed = false;
    bool silentAfterClose = true;
    void Emit(std::string_view bytes) override {
        if (closed) silentAfterClose = false;
        emitted += bytes.size();
    }
    bool Upgraded(std::uint32_t) override { return true; }
    void Message(std::string_view message) override {
        FUZZ_CHECK(!closed);
        FUZZ_CHECK(message.size() <= nelv::net::WebWire::kMaxMessage);
    }
    void Close() override { closed = true; }
    std::size_t Unsent() const override { return 0; }
};

// Feeds `data` (its first byte picks the chunk size) to a fresh wire, after
// an upgrade request when `upgraded`.
inline int FeedWire(const std::uint8_t* data, std::size_t size, bool upgraded) {
    if (size < 1) return 0;
    const std::size_t chunk = data[0] % 64 + 1;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (upgraded) {
        input = "GET /chat HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n" + input;
    }
    nelv::net::WebSettings settings;
    settings.root = "/nonexistent-web-root";
    nelv::net::WebWire wire(settings, 0x0100007F);
    Sink sink;
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        wire.Take(std::string_view(input).substr(at, chunk), sink, 1 << 20);
        const std::size_t bound = wire.Upgraded() ? nelv::net::WebWire::kMaxMessage + 14 + chunk
                                                  : nelv::net::WebWire::kMaxHead + chunk;
        FUZZ_CHECK(wire.Pending() <= 2 * bound);
    }
    FUZZ_CHECK(sink.silentAfterClose);
    return 0;
}

}  // namespace web_fuzz
