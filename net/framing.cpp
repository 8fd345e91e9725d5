#include "net/framing.h"

namespace nelv::net {

void FrameCutter::Feed(std::string_view chunk) {
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = scan_ = 0;
    } else if (start_ > 4096 && start_ * 2 > buffer_.size()) {
        buffer_.erase(0, start_);
        scan_ -= start_;
        start_ = 0;
    }
    buffer_.append(chunk);
}

std::optional<std::string> FrameCutter::Next() {
    if (scan_ < start_) scan_ = start_;
    std::size_t pos = buffer_.find(kMessageTerminator, scan_);
    if (pos == std::string::npos) {
        scan_ = buffer_.size();
        return std::nullopt;
    }
    std::string message = buffer_.substr(start_, pos - start_);
    start_ = scan_ = pos + 1;
    return message;
}

bool FrameCutter::Overflowed() const {
    std::size_t tail = buffer_.rfind(kMessageTerminator);
    std::size_t partialStart = (tail == std::string::npos || tail < start_) ? start_ : tail + 1;
    return buffer_.size() - partialStart > kMaxPartial;
}

void FrameCutter::Clear() {
    buffer_.clear();
    start_ = scan_ = 0;
}

}  // namespace nelv::net
