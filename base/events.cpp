#include "base/events.h"

#include <mutex>

namespace nelv {
namespace {
std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}
std::function<void(std::string_view)>& Sink() {
    static std::function<void(std::string_view)> sink;
    return sink;
}
}  // namespace

void LogEvent(std::string_view text) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) Sink()(text);
}

void SetEventSink(std::function<void(std::string_view)> sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(sink);
}

std::string LogSafe(std::string_view clientText) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(clientText.size());
    for (char ch : clientText) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace nelv
