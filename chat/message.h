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

namespace nelv::chat {

class ChatState;
class TActUser;
class TRoom;

inline constexpr char kFieldSeparator = '\x01';
inline constexpr char kEntrySeparator = '\x02';

// The command byte of a request, and of the reply that answers it. The
// server sends 5, 10, 11, 14, 15 and 19 on its own; clients' requests with
// those values are ignored.
enum class Command : std::uint8_t {
    kJoin = 0,
    kInvitation = 1,
    kTextWithAddress = 2,
    kRoomMessage = 3,
    kRoomSettings = 4,
    kDelivery = 5,
    kRoomInfo = 6,
    kAccount = 7,
    kServerInfo = 8,
    kInvisible = 9,
    kServerData = 10,
    kUserList = 11,
    kStanding = 12,
    kAway = 13,
    kRoomEvent = 14,
    kClose = 15,
    kRoomKick = 16,
    kLeave = 17,
    kColor = 18,
    kRoomList = 19,
    kMute = 20,
    kAddressBan = 21,
    kServerKick = 22,
    kUserLookup = 23,
    kPrivateMessage = 24,
    kLogin = 26,
};

// Status byte of a reply.
enum Status : std::uint8_t {
    kOk = 0,
    kNicknameInvalid = 1,
    kOnlyRegistered = 2,
    kFull = 3,
    kWrongPassword = 4,
    kNicknameInUse = 5,
    kAlreadyRegistered = 6,
    kAddressRefused = 7,
    kRoomClosed = 8,
    kTemporarilyBanned = 9,
    kKicked = 10,
    kIdleTimeout = 11,
    kShuttingDown = 13,
    kNotLoggedIn = 14,
    kNoSuchUser = 15,
    kNotPermitted = 17,
    kMuted = 18,
    kTooManyRooms = 19,
    kAccountDisabled = 20,
};

// Switch sub-codes: toggle, on, off.
inline constexpr std::uint8_t kToggle = 0;
inline constexpr std::uint8_t kSwitchOn = 21;
inline constexpr std::uint8_t kSwitchOff = 22;

// Sub-codes of a delivery (command 5), as the recipient's client tells them apart.
enum DeliveryKind : std::uint8_t {
    kDeliverPrivate = 0,
    kDeliverInvitation = 1,
    kDeliverKicked = 2,
    kDeliverWithAddress = 3,
};

// A user's standing, in general or in one room. Later ones win: a room's
// owner that is privileged is kPrivileged; away, when shown, beats all.
enum class Rank : std::uint8_t { kOrdinary, kOperator, kOwner, kPrivileged, kAway };

// The standing of `user` in `room` (or in general for nullptr), away
// reported only when `showAway`.
Rank RankOf(const TActUser& user, const TRoom* room, bool showAway) REQUIRES(ServerLock);

// The rights a rank carries when away is not shown.
inline bool HasOperatorRights(Rank rank) { return rank != Rank::kOrdinary; }
inline bool HasOwnerRights(Rank rank) { return rank == Rank::kOwner || rank == Rank::kPrivileged; }

// The rank as it travels: '0' to '4'.
char StatusChar(Rank rank);

// Cuts `text` at `separator` into at most `maxFields` fields (the last one
// keeps the rest, separators included), then pads with empty fields up to
// `minFields`. A trailing separator makes no empty field of its own.
std::vector<std::string> SplitFields(std::string_view text, char separator, unsigned maxFields,
                                     unsigned minFields);

// 1 or 0 from the first character "1" or "0" of `text`; else `fallback`.
int ParseFlag(std::string_view text, int fallback);

// "0" or "1", and the same as one byte (for sub-codes and value bytes).
inline const char* FlagText(bool flag) { return flag ? "1" : "0"; }
inline char FlagChar(bool flag) { return flag ? '1' : '0'; }

// The fields joined by the field separator, none after the last.
std::string JoinFields(std::initializer_list<std::string_view> fields);
std::string JoinFields(const std::vector<std::string>& fields);

// The bytes of a reply (without terminator).
std::string BuildReply(Command command, std::uint8_t subCode, std::uint8_t status,
                       std::string_view payload = {});

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

// The lists of the server information: the room information of every room
// that is not hidden, and the status of every visible user, each entry
// followed by the entry separator.
std::string RoomListText(ChatState& chat) REQUIRES(ServerLock);
std::string UserListText(ChatState& chat) REQUIRES(ServerLock);

// 19/19: a room's information, to everyone.
std::string RoomInfoLine(const TRoom& room) REQUIRES(ServerLock);

// 19/20: the room is gone, or hidden now.
std::string RoomRemovalLine(const TRoom& room);

}  // namespace nelv::chat
