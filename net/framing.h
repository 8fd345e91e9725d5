// Message framing: the byte stream of a connection is a series of messages,
// each ended by the terminator byte 0x1F. FrameCutter turns received chunks
// into whole messages; it is pure and knows nothing of sockets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire.h"

namespace nelv::net {

inline constexpr char kMessageTerminator = protocol::kMessageTerminator;

class FrameCutter {
public:
    // Most bytes of one message that may wait for its terminator. A peer that
    // sends more is cut off; the partial data is discarded.
    static constexpr std::size_t kMaxPartial = 64 * 1024;
    // Capacity a buffer may keep once everything in it has been taken.
    static constexpr std::size_t kKeptCapacity = 4 * 1024;

    // Appends a received chunk; costs the chunk's length, not the buffer's.
    void Feed(std::string_view chunk);

    // Cuts the next complete message (terminator removed) off the front.
    std::optional<std::string> Next();

    // Bytes received and not yet handed out as messages.
    std::size_t Pending() const { return buffer_.size() - start_; }

    // True when the data after the last terminator exceeds kMaxPartial.
    // Constant time.
    bool Overflowed() const;

    // Drops everything and gives the buffer back.
    void Clear();

private:
    std::string buffer_;
    std::size_t start_ = 0;  // first byte not yet handed out
    std::size_t scan_ = 0;   // bytes before this offset hold no terminator
    std::size_t complete_ = 0;  // just after the last terminator received
};

}  // namespace nelv::net
