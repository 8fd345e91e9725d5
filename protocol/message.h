// The chat message format. Inbound: command byte, sub-code byte, payload.
// Outbound reply: command, sub-code, status, payload. The transport adds the
// terminator 0x1F. Fields inside a payload are separated by 0x01; list
// entries are each followed by 0x02. Text is raw 8-bit bytes throughout.
//
// Replies are built here and nowhere else (BuildReply); room events are
// built by the rooms layer on top of it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/server_lock.h"

namespace nelv::rooms {
class TRoom;
}

namespace nelv::protocol {

class TActUser;

inline constexpr char kFieldSeparator = '\x01';
inline constexpr char kEntrySeparator = '\x02';

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

// Cuts `text` at `separator` into at most `maxFields` fields (the last one
// keeps the rest, separators included), then pads with empty fields up to
// `minFields`. A trailing separator makes no empty field of its own.
std::vector<std::string> SplitFields(std::string_view text, char separator, unsigned maxFields,
                                     unsigned minFields);

// 1 or 0 from the first character "1" or "0" of `text`; else `fallback`.
int ParseFlag(std::string_view text, int fallback);

// The bytes of a reply (without terminator).
std::string BuildReply(std::uint8_t command, std::uint8_t subCode, std::uint8_t status,
                       std::string_view payload);

// Queues a reply to `user`.
void SendReply(TActUser& user, std::uint8_t command, std::uint8_t subCode, std::uint8_t status,
               std::string_view payload = {}) REQUIRES(ServerLock);

// Queues the same reply bytes to every online connection, in list order.
void SendToAll(const std::string& reply) REQUIRES(ServerLock);

// A user's standing: '0' ordinary, '1' operator of `room`, '2' its owner,
// '3' privileged account, '4' away (only when `showAway`). Later rules win.
char StatusChar(const TActUser& user, const rooms::TRoom* room, bool showAway) REQUIRES(ServerLock);

// Nickname, 0x01, colour, 0x01, general status character (away shown): the
// form in which a user is announced and listed.
std::string UserStatusText(const TActUser& user) REQUIRES(ServerLock);

// The fields joined by the field separator, none after the last.
std::string JoinFields(std::initializer_list<std::string_view> fields);
std::string JoinFields(const std::vector<std::string>& fields);

// `text`, the field separator, then the user's standing in `room` with away
// shown: the data of the room events that report a changed standing.
std::string TextAndStanding(std::string_view text, const TActUser& user, const rooms::TRoom& room)
    REQUIRES(ServerLock);

// "0" or "1".
inline const char* FlagText(bool flag) { return flag ? "1" : "0"; }

}  // namespace nelv::protocol
