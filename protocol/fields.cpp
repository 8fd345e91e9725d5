#include "protocol/wire.h"

namespace nelv::protocol {
namespace {

template <typename Fields>
std::string JoinAny(const Fields& fields) {
    std::string text;
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) text += kFieldSeparator;
        text.append(field);
        first = false;
    }
    return text;
}

}  // namespace

std::vector<std::string> SplitFields(std::string_view text, char separator, unsigned maxFields,
                                     unsigned minFields) {
    std::vector<std::string> fields;
    while (!text.empty()) {
        std::size_t pos = text.find(separator);
        if (pos == std::string_view::npos || fields.size() + 1 >= maxFields) {
            fields.emplace_back(text);
            break;
        }
        fields.emplace_back(text.substr(0, pos));
        text.remove_prefix(pos + 1);
    }
    while (fields.size() < minFields) fields.emplace_back();
    return fields;
}

int ParseFlag(std::string_view text, int fallback) {
    if (!text.empty()) {
        if (text[0] == '0') return 0;
        if (text[0] == '1') return 1;
    }
    return fallback;
}

std::string JoinFields(std::initializer_list<std::string_view> fields) { return JoinAny(fields); }

std::string JoinFields(const std::vector<std::string>& fields) { return JoinAny(fields); }

std::string BuildRequest(Command command, std::uint8_t subCode, std::string_view payload) {
    std::string request;
    request.reserve(2 + payload.size());
    request.push_back(static_cast<char>(command));
    request.push_back(static_cast<char>(subCode));
    request.append(payload);
    return request;
}

std::string BuildReply(Command command, std::uint8_t subCode, std::uint8_t status, std::string_view payload) {
    std::string reply;
    reply.reserve(3 + payload.size());
    reply.push_back(static_cast<char>(command));
    reply.push_back(static_cast<char>(subCode));
    reply.push_back(static_cast<char>(status));
    reply.append(payload);
    return reply;
}

}  // namespace nelv::protocol
