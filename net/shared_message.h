// SharedMessage: one message built once for many connections. It holds the
// bytes with the terminator, so every queue that takes it refers to the same
// memory instead of copying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/framing.h"
#include "net/web_wire.h"

namespace nelv::net {

class SharedMessage {
public:
    explicit SharedMessage(std::string_view message) : block_(std::make_shared<Block>()) {
        block_->bytes.reserve(message.size() + 1);
        block_->bytes.append(message);
        block_->bytes.push_back(kMessageTerminator);
    }

    // The message without its terminator.
    std::string_view Message() const { return {block_->bytes.data(), block_->bytes.size() - 1}; }

private:
    friend class OutputQueue;
    struct Block {
        std::string bytes;
        std::uint32_t queues = 0;  // queues holding it; its bytes count once toward the budget
    };
    // The message as one WebSocket frame, built by the first web client
    // that takes it and shared by the others.
    const std::shared_ptr<Block>& Framed() const {
        if (!framed_) {
            framed_ = std::make_shared<Block>();
            framed_->bytes = BinaryFrame(Message());
        }
        return framed_;
    }
    std::shared_ptr<Block> block_;
    mutable std::shared_ptr<Block> framed_;
};

}  // namespace nelv::net
