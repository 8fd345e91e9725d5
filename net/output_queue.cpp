#include "net/output_queue.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace nelv::net {

OutputQueue::Piece& OutputQueue::CopyPiece(bool others) {
    if (head_ < pieces_.size()) {
        Piece& last = pieces_.back();
        if (!last.shared && last.others == others && last.copy.size() < kPieceSize) return last;
    }
    Piece& piece = pieces_.emplace_back();
    piece.others = others;
    piece.copy.swap(spare_);
    return piece;
}

void OutputQueue::Count(std::size_t bytes, bool others) {
    unsent_ += bytes;
    if (others) othersUnsent_ += bytes;
}

void OutputQueue::Append(std::string_view message, char terminator, bool others) {
    Piece& piece = CopyPiece(others);
    piece.copy.append(message);
    piece.copy.push_back(terminator);
    Count(message.size() + 1, others);
    *budget_ += message.size() + 1;
}

void OutputQueue::AppendRaw(std::string_view bytes, bool others) {
    CopyPiece(others).copy.append(bytes);
    Count(bytes.size(), others);
    *budget_ += bytes.size();
}

void OutputQueue::AppendBlock(const std::shared_ptr<SharedMessage::Block>& block, bool others) {
    const std::string& bytes = block->bytes;
    if (bytes.size() < kCopyBelow) {
        AppendRaw(bytes, others);
        return;
    }
    Piece& piece = pieces_.emplace_back();
    piece.shared = block;
    piece.others = others;
    if (piece.shared->queues++ == 0) *budget_ += bytes.size();
    Count(bytes.size(), others);
}

void OutputQueue::Release(Piece& piece) {
    if (piece.shared) {
        if (--piece.shared->queues == 0) *budget_ -= piece.shared->bytes.size();
        piece.shared.reset();
    } else {
        *budget_ -= piece.copy.size() - piece.offset;
        if (piece.copy.capacity() <= kSpareCapacity && spare_.capacity() < piece.copy.capacity()) {
            piece.copy.clear();
            spare_.swap(piece.copy);
        }
        std::string().swap(piece.copy);
    }
}

void OutputQueue::Consume(std::size_t n) {
    written_ += n;
    while (n > 0) {
        Piece& piece = pieces_[head_];
        const std::size_t size = piece.Bytes().size();
        const std::size_t taken = std::min(n, size - piece.offset);
        piece.offset += taken;
        n -= taken;
        unsent_ -= taken;
        if (piece.others) othersUnsent_ -= taken;
        if (!piece.shared) *budget_ -= taken;
        if (piece.offset < size) break;
        piece.offset = size;
        Release(piece);
        ++head_;
    }
    if (head_ == pieces_.size()) {
        // Drained: a burst leaves no long list of pieces behind.
        if (pieces_.capacity() > 8) {
            std::vector<Piece>().swap(pieces_);
        } else {
            pieces_.clear();
        }
        head_ = 0;
    } else if (head_ > 32 && head_ * 2 > pieces_.size()) {
        pieces_.erase(pieces_.begin(), pieces_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

OutputQueue::Written OutputQueue::WriteTo(int socket) {
    iovec parts[kPiecesPerWrite];
    while (head_ < pieces_.size()) {
        int count = 0;
        std::size_t total = 0;
        for (std::size_t i = head_; i < pieces_.size() && count < kPiecesPerWrite; ++i, ++count) {
            std::string_view bytes = pieces_[i].Bytes().substr(pieces_[i].offset);
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
    for (std::size_t i = head_; i < pieces_.size(); ++i) Release(pieces_[i]);
    std::vector<Piece>().swap(pieces_);
    head_ = 0;
    unsent_ = othersUnsent_ = 0;
}

}  // namespace nelv::net
