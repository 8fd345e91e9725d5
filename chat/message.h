// The chat message format, and every message the server sends.
//
// Inbound: command byte, sub-code byte, payload. Outbound reply: command,
// sub-code, status, payload. The transport adds the terminator 0x1F. Fields
// inside a payload are separated by 0x01; list entries are each followed by
// 0x02. Text is raw 8-bit bytes throughout.
//
// The bytes of each kind of message are put together here and nowhere
// else; handlers pick a builder and a recipient.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/server_lock.h"
#include "chat/rank.h"
#include "protocol/wire.h"

namespace nelv::chat {

// The chat speaks the protocol's words.
using namespace nelv::protocol;

class ChatState;
class TActUser;
class TRoom;

// Queues a reply to `user`.
void SendReply(TActUser& user, Command command, std::uint8_t subCode, std::uint8_t status,
               std::string_view payload = {}) REQUIRES(ServerLock);

// Queues the same bytes to every online connection, in list order.
void SendToAll(ChatState& chat, const std::string& message) REQUIRES(ServerLock);

// --- The messages the server sends on its own -------------------------------

// 8/0: the greeting with the protocol version and build number.
std::string Greeting();

// 15/0: the closing notice; the reason is the status, the payload the
// kicker's nickname for kKicked and empty otherwise.
std::string ClosingNotice(Status reason, std::string_view payload = {});

// 11/19: nickname, colour and general standing (away shown) of a user.
std::string UserStatusLine(const TActUser& user) REQUIRES(ServerLock);
// The same three fields, as entries of the user list.
std::string UserStatusText(const TActUser& user) REQUIRES(ServerLock);

// 11/20: the user of that nickname is no longer to be seen.
std::string UserGoneLine(std::string_view nickname);

// 5/kind: a delivery from `sender`: 0x00, nickname, colour, content.
std::string Delivery(DeliveryKind kind, const TActUser& sender, std::string_view content)
    REQUIRES(ServerLock);

// command/6: `target` is away: nickname, away text, `extra`.
std::string AwayNoticeReply(Command command, const TActUser& target, std::string_view extra)
    REQUIRES(ServerLock);

// 14/code: a room event. Value byte, room name, actor nickname, actor
// colour, data (the actor fields are empty without an actor).
std::string RoomEvent(const TRoom& room, std::uint8_t code, std::uint8_t value,
                      std::string_view data, const TActUser* actor) REQUIRES(ServerLock);

// The standing of `user` in `room` (away shown) as a one-character text.
std::string StatusText(const TActUser& user, const TRoom* room) REQUIRES(ServerLock);

// `text`, the field separator, then the user's standing in `room` with away
// shown: the data of the room events that report a changed standing.
std::string TextAndStanding(std::string_view text, const TActUser& user, const TRoom& room)
    REQUIRES(ServerLock);

// Room information: name, topic, colour, member count, member limit,
// permanent, closed, hidden.
std::string RoomInfoText(const TRoom& room) REQUIRES(ServerLock);

// The list answers of the server information: the room information of every room that is not hidden, and the status of every
// visible user, each entry followed by the entry separator. Answers take
// them from ChatState::Lists, which keeps them until something changes.
std::string RoomListReply(ChatState& chat) REQUIRES(ServerLock);
std::string UserListReply(ChatState& chat) REQUIRES(ServerLock);

// 19/19: a room's information, to everyone.
std::string RoomInfoLine(const TRoom& room) REQUIRES(ServerLock);

// 19/20: the room is gone, or hidden now.
std::string RoomRemovalLine(const TRoom& room);

}  // namespace nelv::chat
