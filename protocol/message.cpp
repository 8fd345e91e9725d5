#include "protocol/message.h"

#include "protocol/chat_connection.h"
#include "rooms/room.h"
#include "userdb/user_record.h"

namespace nelv::protocol {

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

std::string BuildReply(std::uint8_t command, std::uint8_t subCode, std::uint8_t status,
                       std::string_view payload) {
    std::string reply;
    reply.reserve(3 + payload.size());
    reply.push_back(static_cast<char>(command));
    reply.push_back(static_cast<char>(subCode));
    reply.push_back(static_cast<char>(status));
    reply.append(payload);
    return reply;
}

void SendReply(TActUser& user, std::uint8_t command, std::uint8_t subCode, std::uint8_t status,
               std::string_view payload) {
    user.SendText(BuildReply(command, subCode, status, payload));
}

void SendToAll(const std::string& reply) {
    for (auto& entry : OnlineUsers()) entry.value->SendText(reply);
}

char StatusChar(const TActUser& user, const rooms::TRoom* room, bool showAway) {
    char status = '0';
    if (room) {
        if (room->IsOperator(user)) status = '1';
        if (room->IsOwner(user)) status = '2';
    }
    if (user.Account && user.Account->Privileged()) status = '3';
    if (showAway && user.Away) status = '4';
    return status;
}

std::string UserStatusText(const TActUser& user) {
    const char status = StatusChar(user, nullptr, true);
    return JoinFields({user.Nickname, user.Color, std::string_view(&status, 1)});
}

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

std::string JoinFields(std::initializer_list<std::string_view> fields) { return JoinAny(fields); }

std::string JoinFields(const std::vector<std::string>& fields) { return JoinAny(fields); }

std::string TextAndStanding(std::string_view text, const TActUser& user, const rooms::TRoom& room) {
    const char status = StatusChar(user, &room, true);
    return JoinFields({text, std::string_view(&status, 1)});
}

}  // namespace nelv::protocol
