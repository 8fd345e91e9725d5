#include "net/output_queue.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace nelv::net {

OutputQueue::Piece& OutputQueue::NewPiece() {
    if (!pieces_) pieces_.emplace();
    Piece& piece = pieces_->emplace_back();
    CountList();
    return piece;
}

OutputQueue::Piece& OutputQueue::CopyPiece(bool others) {
    if (pieces_ && !pieces_->empty()) {
        Piece& last = pieces_->back();
        if (last.own && last.others == others && last.block->bytes.size() < kPieceSize) return last;
    }
    Piece& piece = NewPiece();
    piece.block = std::make_shared<Block>();
    piece.block->bytes.swap(spare_);
    piece.others = others;
    piece.own = true;
    *budget_ += piece.block->bytes.capacity();
    return piece;
}

void OutputQueue::AppendTo(Piece& piece, std::string_view bytes, char terminator, bool withTerminator) {
    std::string& buffer = piece.block->bytes;
    const std::size_t before = buffer.capacity();
    // One growth for the message and its terminator, not one for each.
    const std::size_t needed = buffer.size() + bytes.size() + (withTerminator ? 1 : 0);
    if (needed > before) buffer.reserve(std::max(needed, 2 * before));
    buffer.append(bytes);
    if (withTerminator) buffer.push_back(terminator);
    *budget_ += buffer.capacity() - before;
}

void OutputQueue::Count(std::size_t bytes, bool others) {
    unsent_ += bytes;
    if (others) othersUnsent_ += bytes;
}

void OutputQueue::CountList() {
    // A deque holds its pieces in blocks of kListBlock bytes (at least
    // one), plus a small index.
    constexpr std::size_t kListBlock = 512;
    constexpr std::size_t kPerBlock = std::max<std::size_t>(1, kListBlock / sizeof(Piece));
    const std::size_t now = pieces_ ? (pieces_->size() / kPerBlock + 1) * kListBlock + 64 : 0;
    *budget_ = *budget_ - listCounted_ + now;
    listCounted_ = now;
}

void OutputQueue::Append(std::string_view message, char terminator, bool others) {
    AppendTo(CopyPiece(others), message, terminator, true);
    Count(message.size() + 1, others);
}

void OutputQueue::AppendRaw(std::string_view bytes, bool others) {
    AppendTo(CopyPiece(others), bytes, 0, false);
    Count(bytes.size(), others);
}

void OutputQueue::AppendBlock(const std::shared_ptr<Block>& block, bool others) {
    const std::string& bytes = block->bytes;
    if (bytes.size() < kCopyBelow) {
        AppendRaw(bytes, others);
        return;
    }
    Piece& piece = NewPiece();
    piece.block = block;
    piece.others = others;
    if (block->queues++ == 0) *budget_ += bytes.size();
    Count(bytes.size(), others);
}

void OutputQueue::Release(Piece& piece) {
    std::string& buffer = piece.block->bytes;
    if (!piece.own) {
        if (--piece.block->queues == 0) *budget_ -= buffer.size();
    } else {
        *budget_ -= buffer.capacity();
        if (buffer.capacity() <= kSpareCapacity && spare_.capacity() < buffer.capacity()) {
            buffer.clear();
            spare_.swap(buffer);
        }
    }
    piece.block.reset();
}

void OutputQueue::Consume(std::size_t n) {
    written_ += n;
    while (n > 0) {
        Piece& piece = pieces_->front();
        const std::size_t left = piece.Unsent().size();
        const std::size_t taken = std::min(n, left);
        piece.offset += static_cast<std::uint32_t>(taken);
        n -= taken;
        unsent_ -= taken;
        if (piece.others) othersUnsent_ -= taken;
        if (taken < left) break;
        Release(piece);
        pieces_->pop_front();
    }
    // Drained: nothing of the list is kept.
    if (pieces_->empty()) pieces_.reset();
    CountList();
}

OutputQueue::Written OutputQueue::WriteTo(int socket) {
    iovec parts[kPiecesPerWrite];
    while (pieces_) {
        int count = 0;
        std::size_t total = 0;
        for (auto it = pieces_->begin(); it != pieces_->end() && count < kPiecesPerWrite; ++it, ++count) {
            std::string_view bytes = it->Unsent();
            parts[count].iov_base = const_cast<char*>(bytes.data());
            parts[count].iov_len = bytes.size();
            total += bytes.size();
        }
        msghdr header{};
        header.msg_iov = parts;
        header.msg_iovlen = static_cast<std::size_t>(count);
        ssize_t n = sendmsg(socket, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            Consume(static_cast<std::size_t>(n));
            // A short write means the socket is full: the next one would only fail.
            if (static_cast<std::size_t>(n) < total) return Written::kBlocked;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Written::kBlocked;
        return Written::kFailed;
    }
    return Written::kAll;
}

void OutputQueue::Clear() {
    if (pieces_) {
        for (Piece& piece : *pieces_) Release(piece);
        pieces_.reset();
    }
    unsent_ = othersUnsent_ = 0;
    CountList();
}

}  // namespace nelv::net
