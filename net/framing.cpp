#include "net/framing.h"

namespace nelv::net {

void FrameCutter::Feed(std::string_view chunk) {
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = scan_ = complete_ = 0;
    } else if (start_ > kKeptCapacity && start_ * 2 > buffer_.size()) {
        buffer_.erase(0, start_);
        scan_ -= start_;
        complete_ -= start_;
        start_ = 0;
    }
    // Only the new bytes are looked at: the end of the last complete message.
    const std::size_t last = chunk.rfind(kMessageTerminator);
    if (last != std::string_view::npos) complete_ = buffer_.size() + last + 1;
    buffer_.append(chunk);
}

std::optional<std::string> FrameCutter::Next() {
    if (scan_ < start_) scan_ = start_;
    std::size_t pos = scan_ < complete_ ? buffer_.find(kMessageTerminator, scan_) : std::string::npos;
    if (pos == std::string::npos) {
        scan_ = buffer_.size();
        return std::nullopt;
    }
    std::string message = buffer_.substr(start_, pos - start_);
    start_ = scan_ = pos + 1;
    // A burst leaves no large buffer behind once everything is taken.
    if (start_ == buffer_.size() && buffer_.capacity() > kKeptCapacity) Clear();
    return message;
}

bool FrameCutter::Overflowed() const {
    const std::size_t partialStart = complete_ > start_ ? complete_ : start_;
    return buffer_.size() - partialStart > kMaxPartial;
}

void FrameCutter::Clear() {
    std::string().swap(buffer_);
    start_ = scan_ = complete_ = 0;
}

}  // namespace nelv::net
