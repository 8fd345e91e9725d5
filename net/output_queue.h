// OutputQueue: the bytes of one connection that are queued and not yet
// written, in the order they were queued. It only holds bytes; when they may
// leave and what happens when they cannot is the connection's business.
// Used by the event loop's thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nelv::net {

class OutputQueue {
public:
    // Queues `message` followed by `terminator`.
    void Append(std::string_view message, char terminator);

    std::size_t Unsent() const { return buffer_.size() - offset_; }
    bool Empty() const { return Unsent() == 0; }

    enum class Written {
        kAll,      // nothing is left
        kBlocked,  // the socket is full; the rest waits for writability
        kFailed,   // the peer is gone; the caller drops the queue
    };
    // One non-blocking send of everything unsent.
    Written WriteTo(int socket);

    // Drops everything unsent; the buffer keeps its capacity for the next turn.
    void Clear();

private:
    std::string buffer_;
    std::size_t offset_ = 0;  // bytes of buffer_ already written
};

}  // namespace nelv::net
