#include "net/output_queue.h"

#include <sys/socket.h>

#include <cerrno>

namespace nelv::net {

void OutputQueue::Append(std::string_view message, char terminator) {
    // Written bytes are cut off the front only once they are the larger
    // part, so a slow peer does not cost a move of the rest per message.
    if (offset_ > 0 && offset_ * 2 >= buffer_.size()) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(message);
    buffer_.push_back(terminator);
}

OutputQueue::Written OutputQueue::WriteTo(int socket) {
    while (offset_ < buffer_.size()) {
        ssize_t n = send(socket, buffer_.data() + offset_, buffer_.size() - offset_,
                         MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            offset_ += static_cast<std::size_t>(n);
            // A short send means the socket is full: the next one would only fail.
            if (offset_ < buffer_.size()) return Written::kBlocked;
            break;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Written::kBlocked;
        return Written::kFailed;
    }
    Clear();
    return Written::kAll;
}

void OutputQueue::Clear() {
    buffer_.clear();
    offset_ = 0;
}

}  // namespace nelv::net
