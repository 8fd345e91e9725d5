// The words of the chat protocol, for the server and for the tools alike:
// command bytes, status codes, sub-codes, event codes and the field layout.
// It knows nothing of connections or of the chat's state.
//
// A request is a command byte, a sub-code byte and a payload; a reply adds a
// status byte after the sub-code. The transport ends each message with
// 0x1F. Fields inside a payload are separated by 0x01; the entries of a list
// each end with 0x02. Text is Windows-1252 bytes, passed on unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace nelv::protocol {

// The server build the greeting announces, after the protocol version 3.
inline constexpr int kBuildNumber = 263;

// The chat port a client tries when it is told no other.
inline constexpr std::uint16_t kDefaultChatPort = 1995;

inline constexpr char kMessageTerminator = '\x1F';
inline constexpr char kFieldSeparator = '\x01';
inline constexpr char kEntrySeparator = '\x02';

// Where the parts of a reply sit: one byte each for the command, the
// sub-code and the status, then the payload.
enum ReplyByte : std::size_t { kCommandByte, kSubCodeByte, kStatusByte, kPayloadStart };

// A colour is six hexadecimal digits.
inline constexpr std::size_t kColorLength = 6;

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

// Status byte of a reply, and the reason of a closing notice (15/0).
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

// The sub-code to send where the command gives it no meaning.
inline constexpr std::uint8_t kNoSubCode = 0;

// Switch sub-codes of invisible, mute and address ban: toggle, on, off.
inline constexpr std::uint8_t kToggle = 0;
inline constexpr std::uint8_t kSwitchOn = 21;
inline constexpr std::uint8_t kSwitchOff = 22;

// Sub-code 6 of a private message, text or invitation reply: the addressee is away.
inline constexpr std::uint8_t kAwayNotice = 6;

// Sub-codes of a delivery (command 5), as the recipient's client tells them apart.
enum DeliveryKind : std::uint8_t {
    kDeliverPrivate = 0,
    kDeliverInvitation = 1,
    kDeliverKicked = 2,
    kDeliverWithAddress = 3,
};

// Room event codes (the sub-code of command 14).
enum EventCode : std::uint8_t {
    kMemberPresent = 0,
    kRoomMessage = 1,
    kMemberJoined = 2,
    kMemberLeft = 3,
    kAwayChanged = 4,
    kBanChanged = 5,
    kRemovedFromServer = 6,
    kColorChanged = 7,
    kMuteChanged = 8,
    kMemberKicked = 9,
    kNicknameChanged = 10,
    kStatusChanged = 11,
    kSettingsChanged = 12,
    kJoinRefused = 13,
};

// Sub-codes of the user list (command 11) and the room list (command 19).
namespace lists {
inline constexpr std::uint8_t kUserStatus = 19;
inline constexpr std::uint8_t kUserGone = 20;
inline constexpr std::uint8_t kRoomInfo = 19;
inline constexpr std::uint8_t kRoomGone = 20;
}  // namespace lists

// Sub-codes of the server information's replies (command 10), one each.
namespace server_data {
inline constexpr std::uint8_t kWelcome = 1;
inline constexpr std::uint8_t kBanners = 3;
inline constexpr std::uint8_t kRooms = 4;
inline constexpr std::uint8_t kUsers = 5;
}  // namespace server_data

// Room messages (command 3): the one sub-code the server gives a meaning.
inline constexpr std::uint8_t kOperatorMessage = 13;

// Room settings (command 4): the sub-code is a set of these bits, applied
// in the order listed.
namespace settings {
inline constexpr std::uint8_t kTopic = 0x08;
inline constexpr std::uint8_t kColor = 0x10;
inline constexpr std::uint8_t kLimit = 0x20;
inline constexpr std::uint8_t kClosed = 0x80;
inline constexpr std::uint8_t kHidden = 0x40;
inline constexpr unsigned kFieldCount = 6;
// The fields of the request, in order; each bit reads its own.
enum Field : std::size_t { kRoomField, kTopicField, kColorField, kLimitField, kClosedField, kHiddenField };
}  // namespace settings

// The room information text (the answer to 6, the entries of the room list,
// the settings event), field by field. A limit of 0 is none.
namespace room_info {
enum Field : std::size_t { kName, kTopic, kColor, kMembers, kLimit, kPermanent, kClosed, kHidden, kFieldCount };
inline constexpr int kNoLimit = 0;
}  // namespace room_info

// Standing: the sub-codes of operator rights (command 12), the value byte
// of the standing event (room event 11) each change causes, and the
// character a standing travels as.
namespace standing {
inline constexpr std::uint8_t kRevokeOperator = '0';
inline constexpr std::uint8_t kGrantOperator = '1';
inline constexpr std::uint8_t kHandOver = '2';
inline constexpr std::uint8_t kOperatorGranted = 7;
inline constexpr std::uint8_t kOperatorRevoked = 8;
inline constexpr std::uint8_t kOwnershipReceived = 9;
inline constexpr std::uint8_t kOwnershipGivenUp = 10;
inline constexpr std::uint8_t kPrivilegeDropped = 12;
// The character a standing travels as wherever it is shown (user status,
// user list, room events). Later ones win; away, when shown, beats all.
inline constexpr char kOrdinaryChar = '0';
inline constexpr char kOperatorChar = '1';
inline constexpr char kOwnerChar = '2';
inline constexpr char kPrivilegedChar = '3';
inline constexpr char kAwayChar = '4';
}  // namespace standing

// Nickname registration (command 7).
namespace account {
inline constexpr std::uint8_t kRegister = 15;
inline constexpr std::uint8_t kReadProfile = 16;
inline constexpr std::uint8_t kChangeProfile = 17;
inline constexpr std::uint8_t kUnregister = 18;
// Every sub-code reads six fields; the last keeps any further separators.
inline constexpr unsigned kFieldCount = 6;
// True for the sub-codes that act on a logged-in user's own registration.
inline constexpr bool ActsOnProfile(std::uint8_t subCode) {
    return subCode == kReadProfile || subCode == kChangeProfile || subCode == kUnregister;
}
}  // namespace account

// The fields of a user lookup's answer (command 23), in order.
namespace lookup {
enum Field : std::size_t {
    kNickname,
    kColor,
    kAwayFlag,
    kAwayText,
    kIdle,
    kAddress,
    kProfile1,
    kProfile2,
    kProfile3,
    kPrivileged,
    kFieldCount,
};
}  // namespace lookup

// Cuts `text` at `separator` into at most `maxFields` fields (the last one
// keeps the rest, separators included), then pads with empty fields up to
// `minFields`. A trailing separator makes no empty field of its own.
std::vector<std::string> SplitFields(std::string_view text, char separator, unsigned maxFields,
                                     unsigned minFields);

// The fields joined by the field separator, none after the last.
std::string JoinFields(std::initializer_list<std::string_view> fields);
std::string JoinFields(const std::vector<std::string>& fields);

// 1 or 0 from the first character "1" or "0" of `text`; else `fallback`.
int ParseFlag(std::string_view text, int fallback);

// "0" or "1", and the same as one byte (for sub-codes and value bytes).
inline const char* FlagText(bool flag) { return flag ? "1" : "0"; }
inline char FlagChar(bool flag) { return flag ? '1' : '0'; }

// The bytes of a request (without terminator).
std::string BuildRequest(Command command, std::uint8_t subCode, std::string_view payload = {});
// The bytes of a reply (without terminator).
std::string BuildReply(Command command, std::uint8_t subCode, std::uint8_t status, std::string_view payload = {});

}  // namespace nelv::protocol
