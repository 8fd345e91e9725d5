// The command dispatch: one row per command byte, saying which handler
// serves it, whether the sender must have logged in, and how many fields
// its payload holds.
#include "commands/dispatch.h"

#include <array>
#include <optional>

#include "commands/commands.h"

namespace nelv::commands {
namespace {

using chat::Command;
using Handler = void (*)(ChatState&, TActUser&, const Request&);

// Who may send a command.
enum class Login : std::uint8_t {
    kNeeded,       // before a login it is answered with status 14
    kNotNeeded,    // anybody connected
    kForProfiles,  // registration: only the sub-codes that act on the sender's
                   // own registration need one; registering (15) does not,
                   // and unknown sub-codes are left to the handler to ignore
};

struct CommandRow {
    Command command;
    Handler handler;
    Login login;
    // The payload is cut into at most `fields` fields (the last keeps the
    // rest) and padded with empty ones up to `minFields`. One field is the
    // whole payload; none leaves it unread.
    unsigned fields;
    unsigned minFields;
};

// HandleLogin needs no login, and writes its event log line before it
// checks the nickname.
constexpr CommandRow kCommands[] = {
    {Command::kJoin, HandleJoin, Login::kNeeded, 1, 1},
    {Command::kInvitation, HandleInvitation, Login::kNeeded, 2, 2},
    {Command::kTextWithAddress, HandleTextWithAddress, Login::kNeeded, 2, 2},
    {Command::kRoomMessage, HandleRoomMessage, Login::kNeeded, 2, 2},
    {Command::kRoomSettings, HandleSettings, Login::kNeeded, protocol::settings::kFieldCount,
     protocol::settings::kFieldCount},
    {Command::kRoomInfo, HandleRoomInfo, Login::kNeeded, 1, 1},
    {Command::kAccount, HandleAccount, Login::kForProfiles, protocol::account::kFieldCount,
     protocol::account::kFieldCount},
    {Command::kServerInfo, HandleServerInfo, Login::kNotNeeded, 0, 0},
    {Command::kInvisible, HandleInvisible, Login::kNeeded, 0, 0},
    {Command::kStanding, HandleStanding, Login::kNeeded, 2, 2},
    {Command::kAway, HandleAway, Login::kNeeded, 1, 1},
    {Command::kRoomKick, HandleRoomKick, Login::kNeeded, 2, 2},
    {Command::kLeave, HandleLeave, Login::kNeeded, 1, 1},
    {Command::kColor, HandleColor, Login::kNeeded, 1, 1},
    {Command::kMute, HandleMute, Login::kNeeded, 2, 2},
    {Command::kAddressBan, HandleAddressBan, Login::kNeeded, 2, 2},
    // A second field (the ban's minutes) counts only when it is there.
    {Command::kServerKick, HandleServerKick, Login::kNeeded, 2, 1},
    {Command::kUserLookup, HandleUserLookup, Login::kNeeded, 1, 1},
    {Command::kPrivateMessage, HandlePrivateMessage, Login::kNeeded, 2, 2},
    {Command::kLogin, HandleLogin, Login::kNotNeeded, 2, 2},
};

// The rows by command byte.
constexpr std::array<const CommandRow*, 256> Index() {
    std::array<const CommandRow*, 256> index{};
    for (const CommandRow& row : kCommands) index[static_cast<std::uint8_t>(row.command)] = &row;
    return index;
}
constexpr std::array<const CommandRow*, 256> kByCommand = Index();

bool NeedsLogin(const CommandRow& row, std::uint8_t subCode) {
    switch (row.login) {
        case Login::kNeeded: return true;
        case Login::kNotNeeded: return false;
        case Login::kForProfiles: return protocol::account::ActsOnProfile(subCode);
    }
    return true;
}

}  // namespace

void HandleMessage(ChatState& chat, TActUser& user, std::string_view message) {
    if (message.size() < 2) return;
    const auto subCode = static_cast<std::uint8_t>(message[1]);
    user.LastActivity = chat.Now();
    // The server's own message kinds and unknown values are ignored.
    const CommandRow* row = kByCommand[static_cast<std::uint8_t>(message[0])];
    if (row == nullptr) return;
    if (NeedsLogin(*row, subCode) && !chat::RequireLogin(user, row->command)) return;
    Request request{subCode, {}};
    if (row->fields > 0) {
        request.fields = protocol::SplitFields(message.substr(2), protocol::kFieldSeparator, row->fields, row->minFields);
    }
    // Only the server information leaves every list as it was.
    if (row->command != Command::kServerInfo) chat.ListsChanged();
    row->handler(chat, user, request);
}

}  // namespace nelv::commands
