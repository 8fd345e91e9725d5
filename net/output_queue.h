// OutputQueue: the bytes of one connection that are queued and not yet
// written, in the order they were queued. Short messages are copied into
// pieces of the queue's own; a long message meant for many stays one shared
// block that every queue refers to. The queue counts what the connection's
// own requests caused apart from what others caused, and adds the memory it
// holds to a budget shared by every queue of the server: its own pieces by
// their buffers, its list of pieces, and each shared block once, however
// many queues hold it. Used by the event loop's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/shared_message.h"

namespace nelv::net {

class OutputQueue {
public:
    // Shared messages shorter than this are copied: a copy is cheaper than a
    // reference to write, and the bytes are few.
    static constexpr std::size_t kCopyBelow = 1024;
    // Copies go into pieces of about this size, each freed once written.
    static constexpr std::size_t kPieceSize = 16 * 1024;
    // Most pieces handed to one writev.
    static constexpr int kPiecesPerWrite = 64;

    OutputQueue() = default;
    ~OutputQueue() { Clear(); }
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // The counter of the memory every queue of the server holds; set before
    // anything is queued.
    void CountIn(std::size_t& budget) { budget_ = &budget; }

    // Queues `message` followed by `terminator`. `others`: caused by another
    // connection's request (or by the server), not by this one's own.
    void Append(std::string_view message, char terminator, bool others);
    // Queues bytes exactly as they are.
    void AppendRaw(std::string_view bytes, bool others);
    // Queues a message built for many: as plain bytes with the terminator,
    // or framed for the web.
    void Append(const SharedMessage& message, bool others) { AppendBlock(message.block_, others); }
    void AppendFramed(const SharedMessage& message, bool others) { AppendBlock(message.Framed(), others); }

    std::size_t Unsent() const { return unsent_; }
    std::size_t OthersUnsent() const { return othersUnsent_; }
    bool Empty() const { return unsent_ == 0; }
    // Bytes written since the queue was made: whether the peer reads at all.
    std::uint64_t BytesWritten() const { return written_; }

    enum class Written {
        kAll,      // nothing is left
        kBlocked,  // the socket is full; the rest waits for writability
        kFailed,   // the peer is gone; the caller drops the queue
    };
    // Writes with non-blocking writev until everything is out or the socket
    // is full.
    Written WriteTo(int socket);

    // Drops everything unsent and gives its memory back.
    void Clear();

private:
    using Block = SharedMessage::Block;
    // A stretch of output: a block shared with other queues, or a copy of
    // this queue's own (`own`), which later short messages are appended to.
    struct Piece {
        std::shared_ptr<Block> block;
        std::uint32_t offset = 0;  // bytes already written
        bool others = false;
        bool own = false;
        std::string_view Unsent() const { return std::string_view(block->bytes).substr(offset); }
    };
    void AppendBlock(const std::shared_ptr<Block>& block, bool others);
    // A new piece at the end of the list.
    Piece& NewPiece();
    // The own piece to append to: the last one while it has room.
    Piece& CopyPiece(bool others);
    // Appends to an own piece, counting what its buffer grew by.
    void AppendTo(Piece& piece, std::string_view bytes, char terminator, bool withTerminator);
    void Count(std::size_t bytes, bool others);
    // The piece list's own memory, recounted after it may have changed.
    void CountList();
    // `n` bytes have left, from the front.
    void Consume(std::size_t n);
    void Release(Piece& piece);

    // In order, the first one possibly written in part. A deque grows a
    // small block at a time: a message for thousands then never makes
    // thousands of lists move to twice their size at once. It exists only
    // while something is queued, so an idle connection keeps none.
    std::optional<std::deque<Piece>> pieces_;
    // The buffer of the last own piece written, kept for the next one: a
    // connection's output of each turn then needs no allocation. Small
    // enough that an idle connection may keep it.
    std::string spare_;
    static constexpr std::size_t kSpareCapacity = 8 * 1024;
    std::uint64_t written_ = 0;
    std::size_t unsent_ = 0;
    std::size_t othersUnsent_ = 0;
    std::size_t listCounted_ = 0;  // the piece list's memory, as counted in the budget
    std::size_t ownBudget_ = 0;    // stands in for the budget until CountIn
    std::size_t* budget_ = &ownBudget_;
};

}  // namespace nelv::net
