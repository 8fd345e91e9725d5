// What must hold of a chat state after every step, whatever the clients
// sent: membership agrees in both directions, owners and operators are
// members, user rooms are never empty, online names are unique, the user
// database in memory is what its file holds, and every message sent is
// well formed. Each check returns the first breach found, or nothing.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"
#include "chat/message.h"
#include "chat/room.h"
#include "userdb/user_record.h"

namespace nelv::testing {

inline std::optional<std::string> CheckChatState(chat::ChatState& chat, const std::string& udbImage)
    REQUIRES(ServerLock) {
    auto& online = chat.OnlineUsers;
    std::size_t counted = 0;
    for (const auto& [address, count] : chat.ConnectionsByAddress) {
        if (count == 0) return "an address is counted with no connection";
        counted += count;
    }
    if (counted != online.size()) return "the connections per address do not add up to the online list";
    if (chat.ConnectionIds.size() != online.size()) return "the identities are not those of the online list";
    for (std::size_t i = 0; i < online.size(); ++i) {
        const chat::TActUser& user = *online[i].value;
        if (!chat.ConnectionIds.contains(user.Id())) return user.Nickname + " is online without its identity";
        if (online[i].name != user.Nickname) return "online entry " + online[i].name + " is not its nickname";
        for (std::size_t j = 0; j < i; ++j) {
            if (SameName(online[j].name, online[i].name)) return "two online users named " + online[i].name;
        }
        for (const auto& mine : user.Rooms) {
            const auto* room = chat.RoomList.Find(mine.name);
            if (!room || room->get() != mine.value) return user.Nickname + " lists a room that is gone";
            if (!mine.value->IsMember(user)) return user.Nickname + " lists a room it is not in";
        }
        if (user.Account) {
            bool found = false;
            for (std::size_t r = 0; r < chat.RegisteredUsers.size(); ++r) found |= chat.RegisteredUsers.At(r) == user.Account;
            if (!found) return user.Nickname + " refers to a released record";
        }
    }
    for (const auto& entry : chat.RoomList) {
        chat::TRoom& room = *entry.value;
        if (entry.name != room.Name) return "room list entry " + entry.name + " is not its room";
        if (!room.Permanent && room.Members.empty()) return "user room " + room.Name + " is empty";
        std::vector<std::uint64_t> members;
        for (const auto& member : room.Members) {
            if (!online.IndexOfValue(member.value)) return room.Name + " has a member that is gone";
            if (member.name != member.value->Nickname) return room.Name + " lists " + member.name + " under an old name";
            if (!member.value->Rooms.IndexOfValue(&room)) return member.name + " is in " + room.Name + " unawares";
            members.push_back(member.value->Id());
        }
        auto isMember = [&](std::uint64_t id) { return std::find(members.begin(), members.end(), id) != members.end(); };
        if (room.OwnerId() != 0 && !isMember(room.OwnerId())) return room.Name + " has an owner that is no member";
        for (std::uint64_t id : room.OperatorIds()) {
            if (!isMember(id)) return room.Name + " has an operator that is no member";
        }
    }
    // The kept list answers are those a fresh walk gives; the check keeps
    // them, so the next one shows whether a change let go of them.
    const auto& lists = chat.Lists();
    if (lists.rooms.Message() != chat::RoomListReply(chat)) return "the kept room list is out of date";
    if (lists.users.Message() != chat::UserListReply(chat)) return "the kept user list is out of date";
    auto& users = chat.RegisteredUsers;
    if (udbImage.size() != users.size() * userdb::kRecordSize) return "the file image has another size";
    for (std::size_t i = 0; i < users.size(); ++i) {
        const std::string_view slot(udbImage.data() + i * userdb::kRecordSize, userdb::kRecordSize);
        const userdb::UserRecord* record = users.At(i);
        if (record) {
            if (slot != std::string_view(reinterpret_cast<const char*>(record->bytes().data()), userdb::kRecordSize)) {
                return "record " + std::to_string(i) + " differs from its file slot";
            }
        } else if (slot[0] != 0) {
            return "freed record " + std::to_string(i) + " is still in use in the file";
        }
    }
    return std::nullopt;
}

// A message the server sent: the three header bytes, a command the server
// sends, a status of the table, room events with their value byte.
inline std::optional<std::string> CheckMessage(std::string_view message) {
    if (message.size() < 3) return "a message shorter than its header";
    if (message.find('\x1F') != std::string_view::npos) return "a terminator inside a message";
    const auto command = static_cast<unsigned char>(message[0]);
    const auto status = static_cast<unsigned char>(message[2]);
    if (command > 26 || command == 25) return "an unknown command " + std::to_string(command);
    if (status > 20 || status == 12 || status == 16) return "an unknown status " + std::to_string(status);
    if (command == 14 && message.size() < 4) return "a room event without its value byte";
    return std::nullopt;
}

}  // namespace nelv::testing
